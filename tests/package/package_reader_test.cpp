#include "package/package_reader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "program_file.h"
#include "support/fault_host.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using testing::Append;
using testing::PutLe16;
using testing::PutLe32;
using testing::ReadFileBytes;
namespace fs = std::filesystem;

constexpr uint32_t kSizeOfImage = 0x2000;
const std::string kProduct = "Example Product Setup, Build 42";  // 31 characters

// The example package's header, byte for byte: APST, plain windows, verify, autostart,
// 2,686,976 + 4,521,984 bytes, 3 disks, 2007-09-27 16:56:42.094 (Thursday).
std::vector<uint8_t> ExampleHeader() {
  return {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00,
          0x00, 0x00, 0x29, 0x00, 0x00, 0x00, 0x45, 0x00, 0x03, 0x00, 0xD7, 0x07, 0x09, 0x00,
          0x04, 0x00, 0x1B, 0x00, 0x10, 0x00, 0x38, 0x00, 0x2A, 0x00, 0x5E, 0x00, 0x78, 0x56,
          0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x90, 0x20, 0x00, 0x00, 0x00, 0x0A, 0x00};
}

std::vector<uint8_t> Archive(size_t size) {
  std::vector<uint8_t> archive(size);
  for (size_t i = 0; i < size; ++i) archive[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return archive;
}

// A program file: the stub, `header`, the strings of the given lengths, then `archive`.
std::vector<uint8_t> Program(const std::vector<uint8_t>& header, const std::string& final_message,
                             const std::vector<uint8_t>& archive, uint32_t checksum = 0x12345678) {
  std::vector<uint8_t> program = testing::ProgramImage(kSizeOfImage, checksum);
  Append(program, header);
  Append(program, kProduct, testing::GetLe16(header, 48));
  Append(program, final_message, testing::GetLe16(header, 50));
  Append(program, "SETUP.EXE", testing::GetLe16(header, 52));
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
  bool Read(const std::vector<uint8_t>& program) {
    testing::WriteFileBytes(state_.ProgramPath, program);
    return ReadPackageHeader(state_, host_, ui_);
  }
  std::string Copy() const { return state_.WorkspaceDir + "image.tii"; }

  testing::TempDir temp_;
  testing::FaultHost host_;
  testing::ScriptedUi ui_;
  RunState state_;
};

TEST_F(PackageReaderTest, ExamplePackageReadsBackExactly) {
  ASSERT_TRUE(Read(Program(ExampleHeader(), "", Archive(100003))));
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
  EXPECT_EQ(ReadFileBytes(Copy()), Archive(100003));  // every byte behind the strings
}

// The final message is cut to its buffer, empty strings are empty, the unpack mode is copied.
TEST_F(PackageReaderTest, StringsOfEveryLength) {
  std::vector<uint8_t> header = ExampleHeader();
  PutLe16(header, 50, 12000);
  ASSERT_TRUE(Read(Program(header, std::string(11999, 'x'), Archive(77))));
  EXPECT_EQ(state_.FinalMessage, std::string(9999, 'x'));
  EXPECT_EQ(state_.InstallerName, "SETUP.EXE");
  EXPECT_EQ(ReadFileBytes(Copy()), Archive(77));

  header = ExampleHeader();
  PutLe16(header, 10, 1);  // UnpackMode, with autostart on but no installer name
  PutLe16(header, 48, 0);
  PutLe16(header, 52, 0);
  ASSERT_TRUE(Read(Program(header, "", {})));
  EXPECT_EQ(state_.ProductName, "");
  EXPECT_EQ(state_.InstallerName, "");
  EXPECT_EQ(state_.PackageUnpackMode, 1);
  EXPECT_FALSE(state_.IsAutostart());
  EXPECT_TRUE(fs::exists(Copy()));
  EXPECT_TRUE(ReadFileBytes(Copy()).empty());
}

TEST_F(PackageReaderTest, TempSpaceIsCheckedOnTheFull64BitSum) {
  host_.SetFreeBytes(1048576);
  host_.SetVolumeRoot("C:\\");
  EXPECT_FALSE(Read(Program(ExampleHeader(), "", Archive(1000))));
  ASSERT_EQ(ui_.Messages().size(), 1u);
  const MessageRequest m = ui_.LastMessage();
  EXPECT_EQ(m.message_id, 543);
  EXPECT_EQ(m.text,
            "Setup requires at least 6.88 MB of free disk space in the temporary directory (on "
            "drive C:\\). You have only 1 MB on this drive. Please free more disk space and run "
            "the installation again");
  EXPECT_EQ(std::tuple(m.caption, m.icon, m.buttons, m.owner),
            std::tuple("SETUP", Icon::kStop, Buttons::kOk, Owner::kNone));
  EXPECT_FALSE(fs::exists(Copy()));

  std::vector<uint8_t> header = ExampleHeader();
  PutLe32(header, 14, 0xFFFFFFFF);
  PutLe32(header, 18, 2);  // 4 GiB + 1 byte, not the 1 byte of a 32-bit sum
  host_.SetFreeBytes(0xFFFFFFFF);
  EXPECT_FALSE(Read(Program(header, "", {})));
  host_.FailFreeSpaceQueries();  // unknown space is enough
  EXPECT_TRUE(Read(Program(ExampleHeader(), "", Archive(10))));
  EXPECT_EQ(ui_.Messages().size(), 2u);
}

// Program files without a usable package: start-up goes on with nothing found and nothing
// left over from a package read before.
TEST_F(PackageReaderTest, MissingOrMalformedPackageIsNotFound) {
  const std::vector<uint8_t> good = Program(ExampleHeader(), "", Archive(64));
  std::vector<std::vector<uint8_t>> cases = {
      testing::ProgramImage(kSizeOfImage, 0), good, good, good, {'M', 'Z'}};
  cases[0].resize(kSizeOfImage - 1);        // the package offset lies past the end
  cases[1].resize(kSizeOfImage + 20);       // header cut short
  cases[2].resize(kSizeOfImage + 54 + 40);  // strings run past the file
  PutLe32(cases[3], 60, 0xFFFFFF00);        // PE headers past the end
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(Read(good));
    fs::remove(Copy());
    EXPECT_TRUE(Read(cases[i]));
    EXPECT_FALSE(state_.PackageFound);
    EXPECT_EQ(state_.Header.DiskCount, 0);
    EXPECT_EQ(state_.ProductName, "");
    EXPECT_FALSE(fs::exists(Copy()));
  }
  state_.ProgramPath = temp_ / "absent.exe";
  EXPECT_TRUE(ReadPackageHeader(state_, host_, ui_));
  EXPECT_FALSE(state_.PackageFound);
  EXPECT_TRUE(ui_.Messages().empty());

  // Without a workspace the archive is not copied into the current directory.
  state_.WorkspaceDir.clear();
  const fs::path before = fs::current_path();
  fs::current_path(temp_.path());
  state_.ProgramPath = temp_ / "setup.exe";
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
  EXPECT_EQ(second.back(), '/');
  EXPECT_TRUE(fs::is_directory(second));
  host_.SetTempDirectory("");
  EXPECT_FALSE(CreateWorkspace(host_, "TII", second));
  EXPECT_EQ(second, "");

  EXPECT_EQ(DiskImagePath(state_, 100), state_.WorkspaceDir + "image100.tii");
  for (const char* name : {"image.tii", "image00.tii", "image02.tii", "other.txt"}) {
    testing::WriteFileText(state_.WorkspaceDir + name, "x");
  }
  state_.Header.DiskCount = 3;  // image01.tii was never made: skipped
  DeleteWorkspaceFiles(state_, host_);
  EXPECT_EQ(host_.ListDirectory(state_.WorkspaceDir), std::vector<std::string>{"other.txt"});
}

}  // namespace
}  // namespace floppyset
