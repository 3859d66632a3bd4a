#include "package/package_reader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "package/integrity.h"
#include "support/fault_host.h"
#include "support/scripted_ui.h"
#include "support/set_builder.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using namespace testing;
namespace fs = std::filesystem;

constexpr uint32_t kSizeOfImage = 0x2000;
const std::string kProduct = "Example Product Setup, Build 42";  // 31 characters

// The example package's header, byte for byte: APST, plain windows, verify, autostart,
// 2,686,976 + 4,521,984 bytes, 3 disks, 2007-09-27 16:56:42.094 (Thursday).
Bytes ExampleHeader() {
  return {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00,
          0x00, 0x00, 0x29, 0x00, 0x00, 0x00, 0x45, 0x00, 0x03, 0x00, 0xD7, 0x07, 0x09, 0x00,
          0x04, 0x00, 0x1B, 0x00, 0x10, 0x00, 0x38, 0x00, 0x2A, 0x00, 0x5E, 0x00, 0x78, 0x56,
          0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x90, 0x20, 0x00, 0x00, 0x00, 0x0A, 0x00};
}

// A program file: the stub, `header`, the strings of the lengths it names, then `archive`.
Bytes Program(const Bytes& header, const std::string& final_message, const Bytes& archive) {
  Bytes program = ProgramImage(kSizeOfImage, 0x12345678);
  Append(program, header);
  Append(program, kProduct, GetLe(header, 48, 2));
  Append(program, final_message, GetLe(header, 50, 2));
  Append(program, "SETUP.EXE", GetLe(header, 52, 2));
  Append(program, archive);
  return program;
}

class PackageReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.SetTempDirectory(temp_.path());
    host_.SetFreeBytes(uint64_t{1} << 40);
    state_.ProgramPath = temp_ / "setup.exe";
    ASSERT_TRUE(CreateWorkspace(host_, kWorkspacePrefix, state_.WorkspaceDir));
  }
  bool Read(const Bytes& program) {
    WriteFileBytes(state_.ProgramPath, program);
    return ReadPackageHeader(state_, host_, ui_);
  }
  std::string Copy() const { return state_.WorkspaceDir + "image.tii"; }

  TempDir temp_;
  FaultHost host_;
  ScriptedUi ui_;
  RunState state_;
};

TEST_F(PackageReaderTest, HeaderStringsAndArchiveReadBack) {
  const Bytes archive = ImageLike(100003, 1);
  ASSERT_TRUE(Read(Program(ExampleHeader(), "", archive)));
  EXPECT_TRUE(state_.PackageFound);
  const PackageHeader& h = state_.Header;
  EXPECT_EQ(
      (std::vector<uint32_t>{h.ArchiveKind, h.DialogStyle, h.BootDisk, h.VerifyAfterWrite,
                             h.UnpackMode, h.AutostartMode, h.ArchiveSpace, h.UnpackedSpace,
                             h.DiskCount, h.ExpectedExeChecksum, h.ExpectedPackageChecksum,
                             h.ProductNameLength, h.FinalMessageLength, h.InstallerNameLength}),
      (std::vector<uint32_t>{1, 0, 0, 1, 0, 1, 2686976, 4521984, 3, 0x12345678, 0x90ABCDEF, 32, 0,
                             10}));
  EXPECT_EQ(h.CreationTime, (CalendarTime{2007, 9, 4, 27, 16, 56, 42, 94}));
  EXPECT_EQ(state_.PeCheckSum, 0x12345678u);
  EXPECT_EQ(state_.ProductName, kProduct);
  EXPECT_EQ(state_.InstallerName, "SETUP.EXE");
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(ReadFileBytes(Copy()), archive);  // every byte behind the strings

  // The final message is cut to its buffer; empty strings are empty.
  Bytes header = ExampleHeader();
  PutLe(header, 50, 12000, 2);
  ASSERT_TRUE(Read(Program(header, std::string(11999, 'x'), {1})));
  EXPECT_EQ(state_.FinalMessage, std::string(9999, 'x'));
  EXPECT_EQ(ReadFileBytes(Copy()), Bytes{1});
  header = ExampleHeader();
  PutLe(header, 10, 1, 2);  // UnpackMode, with autostart on but no installer name
  PutLe(header, 48, 0, 2);
  PutLe(header, 52, 0, 2);
  ASSERT_TRUE(Read(Program(header, "", {})));
  EXPECT_EQ(state_.ProductName + state_.InstallerName, "");
  EXPECT_EQ(state_.PackageUnpackMode, 1);
  EXPECT_FALSE(state_.IsAutostart());
  EXPECT_TRUE(fs::exists(Copy()));
}

TEST_F(PackageReaderTest, TempSpaceIsCheckedOnTheFull64BitSum) {
  host_.SetFreeBytes(1048576);
  host_.SetVolumeRootFor("", "C:\\");
  EXPECT_FALSE(Read(Program(ExampleHeader(), "", {1})));
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.LastMessage().text,
            "Setup requires at least 6.88 MB of free disk space in the temporary directory (on "
            "drive C:\\). You have only 1 MB on this drive. Please free more disk space and run "
            "the installation again");
  EXPECT_FALSE(fs::exists(Copy()));
  Bytes header = ExampleHeader();
  PutLe(header, 14, 0xFFFFFFFF);
  PutLe(header, 18, 2);  // 4 GiB + 1 byte, not the 1 byte of a 32-bit sum
  host_.SetFreeBytes(0xFFFFFFFF);
  EXPECT_FALSE(Read(Program(header, "", {})));
  host_.FailFreeSpaceQueries();  // unknown space is enough
  EXPECT_TRUE(Read(Program(ExampleHeader(), "", {1})));
  EXPECT_EQ(ui_.Messages().size(), 2u);
}

// Program files without a usable package: start-up goes on with nothing found and nothing
// left over from a package read before.
TEST_F(PackageReaderTest, MissingOrMalformedPackageIsNotFound) {
  const Bytes good = Program(ExampleHeader(), "", ImageLike(64, 1));
  std::vector<Bytes> cases = {ProgramImage(kSizeOfImage, 0), good, good, good, {'M', 'Z'}};
  cases[0].resize(kSizeOfImage - 1);        // the package offset lies past the end
  cases[1].resize(kSizeOfImage + 20);       // header cut short
  cases[2].resize(kSizeOfImage + 54 + 40);  // strings run past the file
  PutLe(cases[3], 60, 0xFFFFFF00);          // PE headers past the end
  for (size_t i = 0; i <= cases.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(Read(good));
    fs::remove(Copy());
    if (i == cases.size()) fs::remove(state_.ProgramPath);
    EXPECT_TRUE(i < cases.size() ? Read(cases[i]) : ReadPackageHeader(state_, host_, ui_));
    EXPECT_FALSE(state_.PackageFound);
    EXPECT_EQ(state_.Header.DiskCount, 0);
    EXPECT_EQ(state_.ProductName, "");
    EXPECT_FALSE(fs::exists(Copy()));
  }
  EXPECT_TRUE(ui_.Messages().empty());

  // Without a workspace the archive is not copied into the current directory.
  state_.WorkspaceDir.clear();
  const fs::path before = fs::current_path();
  fs::current_path(temp_.path());
  EXPECT_TRUE(Read(good));
  fs::current_path(before);
  EXPECT_TRUE(state_.PackageFound);
  EXPECT_FALSE(fs::exists(temp_ / "image.tii"));
}

TEST_F(PackageReaderTest, WorkspaceIsNewAndOnlyItsImagesAreDeleted) {
  std::string second;
  ASSERT_TRUE(CreateWorkspace(host_, "TII", second));
  EXPECT_NE(second, state_.WorkspaceDir);
  EXPECT_EQ(second.rfind(temp_.path() + "/TII", 0), 0u);
  EXPECT_TRUE(fs::is_directory(second));
  host_.SetTempDirectory("");
  EXPECT_FALSE(CreateWorkspace(host_, "TII", second));
  EXPECT_EQ(second, "");
  for (const char* name : {"image.tii", "image00.tii", "image02.tii", "other.txt"}) {
    WriteFileText(state_.WorkspaceDir + name, "x");
  }
  state_.Header.DiskCount = 3;  // image01.tii was never made: skipped
  DeleteWorkspaceFiles(state_, host_);
  EXPECT_EQ(host_.ListDirectory(state_.WorkspaceDir), std::vector<std::string>{"other.txt"});
}

uint32_t PlainSum(const uint8_t* data, size_t size, uint32_t sum = 0) {
  for (size_t i = 0; i < size; ++i) sum = sum * 3 + data[i];
  return sum;
}

// The vectorised sum against the plain loop around its block sizes, unaligned and split; then
// the checksum of the workspace archive, 0 when it is absent.
TEST(PackageSumTest, AgreesWithThePlainLoop) {
  std::vector<uint8_t> data = testing::ImageLike(300007, 7);
  data.resize(400000, 0xFF);  // every byte unsigned
  for (const size_t size : {1, 63, 1023, 1024, 1025, 4097, 65535, 300007, 400000}) {
    const size_t half = size / 2;
    EXPECT_EQ(PackageSum(data.data() + 1, size - 1, 7), PlainSum(data.data() + 1, size - 1, 7));
    EXPECT_EQ(PackageSum(data.data() + half, size - half, PackageSum(data.data(), half, 7)),
              PlainSum(data.data(), size, 7))
        << size;
  }
  testing::TempDir temp;
  testing::FaultHost host;
  RunState state;
  state.WorkspaceDir = temp.path() + "/";
  state.PackageChecksum = 99;
  ComputePackageChecksum(state, host);
  EXPECT_EQ(state.PackageChecksum, 0u);
  testing::WriteFileBytes(temp / "image.tii", data);
  ComputePackageChecksum(state, host);
  EXPECT_EQ(state.PackageChecksum, PlainSum(data.data(), data.size()));
}

}  // namespace
}  // namespace floppyset
