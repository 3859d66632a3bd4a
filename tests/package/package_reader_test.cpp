#include "package/package_reader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "program_file.h"
#include "support/fault_host.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "ui/messages.h"

namespace floppyset {
namespace {

using testing::Append;
using testing::FaultHost;
using testing::PutLe16;
using testing::ReadFileBytes;
using testing::ScriptedUi;
using testing::TempDir;
using testing::WriteFileBytes;
namespace fs = std::filesystem;

constexpr uint32_t kSizeOfImage = 0x2000;
const std::string kProduct = "Example Product Setup, Build 42";  // 31 characters

// The example package's header, byte for byte: APST, plain windows, verify, autostart,
// 2,686,976 + 4,521,984 bytes, 3 disks, 2007-09-27 16:56:42.094 (Thursday).
std::vector<uint8_t> ExampleHeader() {
  return {0x01, 0x00,                                      // ArchiveKind
          0x00, 0x00, 0x00, 0x00,                          // DialogStyle
          0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00,  // Boot, Verify, Unpack, Auto
          0x00, 0x00, 0x29, 0x00, 0x00, 0x00, 0x45, 0x00,  // ArchiveSpace, UnpackedSpace
          0x03, 0x00,                                      // DiskCount
          0xD7, 0x07, 0x09, 0x00, 0x04, 0x00, 0x1B, 0x00,  // 2007, 9, Thursday, 27
          0x10, 0x00, 0x38, 0x00, 0x2A, 0x00, 0x5E, 0x00,  // 16:56:42.094
          0x78, 0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x90,  // the two checksums
          0x20, 0x00, 0x00, 0x00, 0x0A, 0x00};             // 32, 0, 10
}

std::vector<uint8_t> Archive(size_t size) {
  std::vector<uint8_t> archive(size);
  for (size_t i = 0; i < size; ++i) archive[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return archive;
}

class PackageReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.SetTempDirectory(temp_.path());
    host_.SetFreeBytes(uint64_t{1} << 40);
    state_.ProgramPath = temp_ / "setup.exe";
    ASSERT_TRUE(CreateWorkspace(host_, kWorkspacePrefix, state_.WorkspaceDir));
  }

  // The example program file with `archive` behind its strings.
  std::vector<uint8_t> ExampleProgram(const std::vector<uint8_t>& archive) {
    std::vector<uint8_t> program = testing::ProgramImage(kSizeOfImage, 0x12345678);
    Append(program, ExampleHeader());
    Append(program, kProduct, 32);
    Append(program, "SETUP.EXE", 10);
    Append(program, archive);
    return program;
  }

  void WriteProgram(const std::vector<uint8_t>& program) {
    WriteFileBytes(state_.ProgramPath, program);
  }

  bool ArchiveCopyExists() { return fs::exists(state_.WorkspaceDir + "image.tii"); }

  TempDir temp_;
  FaultHost host_;
  ScriptedUi ui_;
  RunState state_;
};

TEST_F(PackageReaderTest, ExamplePackageReadsBackExactly) {
  const std::vector<uint8_t> archive = Archive(100003);
  const std::vector<uint8_t> program = ExampleProgram(archive);
  WriteProgram(program);

  ASSERT_TRUE(ReadPackageHeader(state_, host_, ui_));
  EXPECT_TRUE(state_.PackageFound);
  const PackageHeader& h = state_.Header;
  EXPECT_EQ(h.ArchiveKind, 1);
  EXPECT_EQ(h.DialogStyle, 0u);
  EXPECT_EQ(h.BootDisk, 0);
  EXPECT_EQ(h.VerifyAfterWrite, 1);
  EXPECT_EQ(h.UnpackMode, 0);
  EXPECT_EQ(h.AutostartMode, 1);
  EXPECT_EQ(h.ArchiveSpace, 2686976u);
  EXPECT_EQ(h.UnpackedSpace, 4521984u);
  EXPECT_EQ(h.DiskCount, 3);
  EXPECT_EQ(h.CreationTime, (CalendarTime{2007, 9, 4, 27, 16, 56, 42, 94}));
  EXPECT_EQ(h.ExpectedExeChecksum, 0x12345678u);
  EXPECT_EQ(h.ExpectedPackageChecksum, 0x90ABCDEFu);
  EXPECT_EQ(h.ProductNameLength, 32);
  EXPECT_EQ(h.FinalMessageLength, 0);
  EXPECT_EQ(h.InstallerNameLength, 10);
  EXPECT_EQ(state_.PackageUnpackMode, 0);
  EXPECT_EQ(state_.PeCheckSum, 0x12345678u);
  EXPECT_EQ(state_.ProductName, kProduct);
  EXPECT_EQ(state_.FinalMessage, "");
  EXPECT_EQ(state_.InstallerName, "SETUP.EXE");
  EXPECT_TRUE(ui_.Messages().empty());

  // The copy holds every byte behind the strings: file length - (SizeOfImage + 54 + 42).
  const std::vector<uint8_t> copy = ReadFileBytes(state_.WorkspaceDir + "image.tii");
  EXPECT_EQ(copy.size(), program.size() - (kSizeOfImage + 54 + 32 + 0 + 10));
  EXPECT_EQ(copy, archive);
}

TEST_F(PackageReaderTest, EmptyStringsAndEmptyArchive) {
  std::vector<uint8_t> header = ExampleHeader();
  PutLe16(header, 10, 1);  // UnpackMode: with autostart on but no installer name
  PutLe16(header, 48, 0);
  PutLe16(header, 52, 0);
  std::vector<uint8_t> program = testing::ProgramImage(kSizeOfImage, 0);
  Append(program, header);
  WriteProgram(program);

  ASSERT_TRUE(ReadPackageHeader(state_, host_, ui_));
  EXPECT_TRUE(state_.PackageFound);
  EXPECT_EQ(state_.ProductName, "");
  EXPECT_EQ(state_.InstallerName, "");
  EXPECT_EQ(state_.PackageUnpackMode, 1);
  EXPECT_FALSE(state_.IsAutostart());
  EXPECT_TRUE(ArchiveCopyExists());
  EXPECT_TRUE(ReadFileBytes(state_.WorkspaceDir + "image.tii").empty());
}

TEST_F(PackageReaderTest, TooLittleTempSpaceShowsMessage543AndStops) {
  host_.SetFreeBytes(1048576);
  host_.SetVolumeRoot("C:\\");
  WriteProgram(ExampleProgram(Archive(1000)));

  EXPECT_FALSE(ReadPackageHeader(state_, host_, ui_));
  ASSERT_EQ(ui_.Messages().size(), 1u);
  const MessageRequest m = ui_.LastMessage();
  EXPECT_EQ(m.message_id, 543);
  EXPECT_EQ(m.text,
            "Setup requires at least 6.88 MB of free disk space in the temporary directory (on "
            "drive C:\\). You have only 1 MB on this drive. Please free more disk space and run "
            "the installation again");
  EXPECT_EQ(m.caption, "SETUP");
  EXPECT_EQ(m.icon, Icon::kStop);
  EXPECT_EQ(m.buttons, Buttons::kOk);
  EXPECT_EQ(m.owner, Owner::kNone);
  EXPECT_FALSE(ArchiveCopyExists());
}

TEST_F(PackageReaderTest, SpaceSumDoesNotWrapAndUnknownSpaceIsEnough) {
  std::vector<uint8_t> header = ExampleHeader();
  testing::PutLe32(header, 14, 0xFFFFFFFF);
  testing::PutLe32(header, 18, 2);  // 4 GiB + 1 byte, not 1 byte
  std::vector<uint8_t> program = testing::ProgramImage(kSizeOfImage, 0);
  Append(program, header);
  Append(program, kProduct, 32);
  Append(program, "SETUP.EXE", 10);
  WriteProgram(program);
  host_.SetFreeBytes(0xFFFFFFFF);
  EXPECT_FALSE(ReadPackageHeader(state_, host_, ui_));
  ui_ = testing::ScriptedUi();

  host_.SetFreeBytes(0);
  host_.FailFreeSpaceQueries();
  WriteProgram(ExampleProgram(Archive(10)));
  EXPECT_TRUE(ReadPackageHeader(state_, host_, ui_));
  EXPECT_TRUE(ui_.Messages().empty());
}

// Program files that carry no usable package: start-up goes on, PackageFound stays false,
// nothing is copied.
TEST_F(PackageReaderTest, MissingOrMalformedPackageIsNotFound) {
  const std::vector<uint8_t> good = ExampleProgram(Archive(64));
  struct Case {
    const char* what;
    std::vector<uint8_t> program;
  };
  std::vector<Case> cases;
  cases.push_back({"offset past the end", testing::ProgramImage(kSizeOfImage, 0)});
  cases.back().program.resize(kSizeOfImage - 1);
  cases.push_back({"header cut short", good});
  cases.back().program.resize(kSizeOfImage + 20);
  cases.push_back({"strings run past the file", good});
  cases.back().program.resize(kSizeOfImage + 54 + 40);
  cases.push_back({"PE headers past the end", good});
  testing::PutLe32(cases.back().program, 60, 0xFFFFFF00);
  cases.push_back({"no DOS header", {'M', 'Z'}});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteProgram(good);
    ASSERT_TRUE(ReadPackageHeader(state_, host_, ui_));
    fs::remove(state_.WorkspaceDir + "image.tii");
    WriteProgram(c.program);
    EXPECT_TRUE(ReadPackageHeader(state_, host_, ui_));
    EXPECT_FALSE(state_.PackageFound);
    EXPECT_EQ(state_.Header.DiskCount, 0);
    EXPECT_EQ(state_.ProductName, "");
    EXPECT_FALSE(ArchiveCopyExists());
  }
  state_.ProgramPath = temp_ / "absent.exe";
  EXPECT_TRUE(ReadPackageHeader(state_, host_, ui_));
  EXPECT_FALSE(state_.PackageFound);
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(PackageReaderTest, WithoutAWorkspaceNothingIsCopied) {
  WriteProgram(ExampleProgram(Archive(100)));
  state_.WorkspaceDir.clear();
  const fs::path before = fs::current_path();
  fs::current_path(temp_.path());
  EXPECT_TRUE(ReadPackageHeader(state_, host_, ui_));
  fs::current_path(before);
  EXPECT_TRUE(state_.PackageFound);
  EXPECT_FALSE(fs::exists(temp_ / "image.tii"));
}

TEST_F(PackageReaderTest, OverlongFinalMessageIsCutAndTheRestStillFound) {
  std::vector<uint8_t> header = ExampleHeader();
  PutLe16(header, 50, 12000);
  std::vector<uint8_t> program = testing::ProgramImage(kSizeOfImage, 0);
  Append(program, header);
  Append(program, kProduct, 32);
  Append(program, std::string(11999, 'x'), 12000);
  Append(program, "SETUP.EXE", 10);
  Append(program, Archive(77));
  WriteProgram(program);

  ASSERT_TRUE(ReadPackageHeader(state_, host_, ui_));
  EXPECT_EQ(state_.FinalMessage, std::string(9999, 'x'));
  EXPECT_EQ(state_.InstallerName, "SETUP.EXE");
  EXPECT_EQ(ReadFileBytes(state_.WorkspaceDir + "image.tii"), Archive(77));
}

TEST_F(PackageReaderTest, WorkspaceIsANewTiiDirectoryEndingInASeparator) {
  std::string second;
  ASSERT_TRUE(CreateWorkspace(host_, "TII", second));
  EXPECT_NE(second, state_.WorkspaceDir);
  for (const std::string& dir : {state_.WorkspaceDir, second}) {
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(dir.rfind(temp_.path() + "/TII", 0), 0u) << dir;
    const std::string number =
        dir.substr(temp_.path().size() + 4, dir.size() - temp_.path().size() - 5);
    EXPECT_FALSE(number.empty());
    EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << dir;
    EXPECT_TRUE(fs::is_directory(dir));
  }

  host_.SetTempDirectory("");
  std::string none = "stale";
  EXPECT_FALSE(CreateWorkspace(host_, "TII", none));
  EXPECT_EQ(none, "");
}

TEST_F(PackageReaderTest, DiskImagePathsAndWorkspaceCleanUp) {
  EXPECT_EQ(DiskImagePath(state_, 0), state_.WorkspaceDir + "image00.tii");
  EXPECT_EQ(DiskImagePath(state_, 9), state_.WorkspaceDir + "image09.tii");
  EXPECT_EQ(DiskImagePath(state_, 100), state_.WorkspaceDir + "image100.tii");

  for (const char* name : {"image.tii", "image00.tii", "image01.tii", "other.txt"}) {
    testing::WriteFileText(state_.WorkspaceDir + name, "x");
  }
  state_.Header.DiskCount = 0;
  DeleteWorkspaceFiles(state_, host_);
  EXPECT_FALSE(ArchiveCopyExists());
  EXPECT_TRUE(fs::exists(state_.WorkspaceDir + "image00.tii"));

  state_.Header.DiskCount = 3;  // image02.tii was never made: skipped
  DeleteWorkspaceFiles(state_, host_);
  EXPECT_FALSE(fs::exists(state_.WorkspaceDir + "image00.tii"));
  EXPECT_FALSE(fs::exists(state_.WorkspaceDir + "image01.tii"));
  EXPECT_TRUE(fs::exists(state_.WorkspaceDir + "other.txt"));
}

}  // namespace
}  // namespace floppyset
