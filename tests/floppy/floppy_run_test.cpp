// The floppy creation run against the simulated drive, asserted on what the user sees (the
// scripted Ui's transcript) and on what reached the drive (the drive's operation record).
#include "floppy/floppy_run.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "base/path.h"
#include "floppy/drive_selection.h"
#include "floppy_test_images.h"
#include "workspace/workspace.h"
#include "platform/posix/posix_host.h"
#include "support/scripted_ui.h"
#include "support/simulated_floppy.h"
#include "support/temp_dir.h"
#include "ui/messages.h"

namespace floppyset::testing {
namespace {

using Strings = std::vector<std::string>;

constexpr uint32_t kCylinder = kCylinderBufferSize;

class FloppyRunTest : public ::testing::Test {
 protected:
  FloppyRunTest() {
    state.WorkspaceDir = WithTrailingSeparator(workspace.path());
    state.ProductName = "Demo";
    state.Header.DiskCount = 1;
  }

  void MakeImage(uint32_t index, ImageContent content) {
    ASSERT_TRUE(MakeFat12Image(DiskImagePath(state, index), content));
  }

  // Patches one 16-bit field of an image's boot sector.
  void PatchBootField(uint32_t index, size_t offset, uint16_t value) {
    std::vector<uint8_t> bytes = ReadFileBytes(DiskImagePath(state, index));
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
    WriteFileBytes(DiskImagePath(state, index), bytes);
  }

  void InsertDisks(int count) {
    for (int i = 0; i < count; ++i) ui.Expect(kMsgInsertDisk, Answer::kOk);
  }

  void Run() { CreateFloppySet(state, host, ui, drives); }

  // The writes as "write <position> <count>" for cylinders first .. first + count - 1.
  static Strings CylinderWrites(uint32_t count, uint32_t first = 0) {
    Strings writes;
    for (uint32_t c = first; c < first + count; ++c) {
      writes.push_back("write " + std::to_string(c * kCylinder) + " " + std::to_string(kCylinder));
    }
    return writes;
  }

  std::string LastTrackText() const {
    Strings texts = ui.ControlTexts(kControlTrackText);
    return texts.empty() ? "" : texts.back();
  }

  TempDir workspace;
  PosixHost host;
  ScriptedUi ui;
  SimulatedFloppyDrives drives;
  RunState state;
};

std::string InsertPrompt(int disk, int count, char letter) {
  return "Please, label the floppy disk as \"Demo Disk " + std::to_string(disk) + "/" +
         std::to_string(count) + "\"\nand insert disk in floppy drive " + letter +
         ":.\n\nPlease press OK when ready.";
}

TEST_F(FloppyRunTest, ThreeDisksMoveTheRunBarOneHundredPerDisk) {
  state.Header.DiskCount = 3;
  for (uint32_t i = 0; i < 3; ++i) MakeImage(i, ImageContent::kEmptyRoot);
  InsertDisks(3);
  Run();

  ASSERT_EQ(ui.MessageIds(), (std::vector<int>{506, 506, 506})) << ui.Transcript();
  const MessageRequest prompt = ui.Messages()[1];
  EXPECT_EQ(prompt.text, InsertPrompt(2, 3, 'A'));
  EXPECT_EQ(prompt.caption, "SETUP");
  EXPECT_EQ(prompt.buttons, Buttons::kOkCancel);
  EXPECT_EQ(prompt.icon, Icon::kInformation);
  EXPECT_EQ(prompt.owner, Owner::kMainWindow);

  EXPECT_EQ(ui.ProgressRange(kControlDiskBar), std::make_pair(0, 300));
  EXPECT_EQ(ui.ProgressPositions(kControlDiskBar), (std::vector<int>{0, 100, 200, 300}));
  EXPECT_EQ(ui.ProgressRange(kControlTrackBar), std::make_pair(0, 100));
  EXPECT_EQ(ui.ControlTexts(kControlDiskText),
            (Strings{"Floppy: write 1 of 3", "Floppy: write 2 of 3", "Floppy: write 3 of 3"}));
  EXPECT_EQ(drives.OperationsStartingWith("disk"), (Strings{"disk 1", "disk 2", "disk 3"}));
  EXPECT_EQ(state.CompletionMessage,
            "Congratulations! All disks were successfully created.\n\nTo install \"Demo\", insert "
            "disk labeled \"Demo Disk 1/3\" into drive A: and run SETUP.EXE.");
  EXPECT_FALSE(state.FloppyRunFailed);
}

TEST_F(FloppyRunTest, BootDiskEndsWithTheBootText) {
  state.Header.BootDisk = 1;
  MakeImage(0, ImageContent::kEmptyRoot);
  InsertDisks(1);
  Run();
  EXPECT_EQ(state.CompletionMessage,
            "Congratulations! The disk was successfully created. To run \"Demo\", power off the "
            "computer on which you wish to run this program, insert this diskette into drive A:, "
            "and power up the computer.");
}

TEST_F(FloppyRunTest, SingleDiskOfASetIsTheWholeRun) {
  state.Header.DiskCount = 3;
  state.ReportFlags = kFlagSingleDisk;
  state.SingleDiskNumber = 2;
  MakeImage(1, ImageContent::kEmptyRoot);
  InsertDisks(1);
  Run();

  ASSERT_EQ(ui.MessageIds(), (std::vector<int>{506})) << ui.Transcript();
  EXPECT_EQ(ui.Messages()[0].text, InsertPrompt(2, 3, 'A'));
  EXPECT_EQ(ui.ControlTexts(kControlDiskText), (Strings{"Floppy: write 1 of 1"}));
  EXPECT_EQ(ui.ProgressRange(kControlDiskBar), std::make_pair(0, 100));
  EXPECT_EQ(drives.OperationsStartingWith("write"), CylinderWrites(1));
  EXPECT_EQ(state.CompletionMessage, "Congratulations! \"Demo Disk 2/3\" successfully created.");
}

struct UsedSizeCase {
  const char* name;
  ImageContent content;
  uint32_t cylinders;
  const char* last_status;
};

class UsedSizeTest : public FloppyRunTest, public ::testing::WithParamInterface<UsedSizeCase> {};

TEST_P(UsedSizeTest, WritesTheUsedCylindersOnly) {
  MakeImage(0, GetParam().content);
  InsertDisks(1);
  Run();

  EXPECT_EQ(drives.OperationsStartingWith("write"), CylinderWrites(GetParam().cylinders));
  EXPECT_EQ(LastTrackText(), GetParam().last_status);
  EXPECT_TRUE(drives.OperationsStartingWith("read").empty()) << "no read-back was asked for";
  EXPECT_TRUE(drives.OperationsStartingWith("format").empty());
  EXPECT_EQ(ui.ProgressPositions(kControlTrackBar).back(), 100);

  const size_t written = size_t{GetParam().cylinders} * kCylinder;
  std::vector<uint8_t> image = ReadFileBytes(DiskImagePath(state, 0));
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + written, drives.disk.bytes.begin()));
  EXPECT_TRUE(std::all_of(drives.disk.bytes.begin() + written, drives.disk.bytes.end(),
                          [](uint8_t b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Images, UsedSizeTest,
    ::testing::Values(UsedSizeCase{"EmptyRootIsOneCylinder", ImageContent::kEmptyRoot, 1,
                                   "Track: write 01 of 01"},
                      UsedSizeCase{"OnlyEmptyFilesIsTheWholeDisk", ImageContent::kZeroLengthFiles,
                                   80, "Track: write 80 of 81"},
                      UsedSizeCase{"HighestCluster1403IsFortyCylinders",
                                   ImageContent::kHighCluster1403, 40, "Track: write 40 of 40"},
                      UsedSizeCase{"FullImage", ImageContent::kFull, 80, "Track: write 80 of 81"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FloppyRunTest, BlankDiskIsFormattedWhereWritesFailThenAlwaysAfterTheSixth) {
  MakeImage(0, ImageContent::kZeroLengthFiles);
  drives.disk = SimulatedDisk::Blank();
  InsertDisks(1);
  Run();

  Strings expected{"disk 1", "open A:"};
  for (uint32_t c = 0; c < 80; ++c) {
    const std::string at = std::to_string(c * kCylinder) + " 18432";
    if (c < 6) expected.push_back("write failed " + at);
    expected.push_back("format " + std::to_string(c) + " 0 2");
    expected.push_back("write " + at);
  }
  expected.push_back("close");
  EXPECT_EQ(drives.operations, expected);
  Strings texts = ui.ControlTexts(kControlTrackText);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Track: formatting..."), 80);
  EXPECT_EQ(ui.MessageIds(), (std::vector<int>{506}));
  EXPECT_EQ(state.CompletionMessage.empty(), false);
}

TEST_F(FloppyRunTest, ReadBackUsesTheSavedPositionInTheDevicesOwnUnits) {
  state.Header.VerifyAfterWrite = 1;
  drives.position_unit = 512;  // sector numbers, as on Windows 9x
  MakeImage(0, ImageContent::kHighCluster1403);
  InsertDisks(1);
  Run();

  Strings expected;
  for (uint32_t c = 0; c < 40; ++c) {
    const std::string at = std::to_string(c * 36) + " 18432";
    expected.push_back("write " + at);
    expected.push_back("read " + at);
  }
  Strings io;
  for (const std::string& op : drives.operations) {
    if (op.rfind("write", 0) == 0 || op.rfind("read", 0) == 0) io.push_back(op);
  }
  EXPECT_EQ(io, expected);
  EXPECT_EQ(ui.MessageIds(), (std::vector<int>{506}));
}

TEST_F(FloppyRunTest, ReadBackMismatchAsksForTheSameDiskAgain) {
  state.Header.VerifyAfterWrite = 1;
  drives.read_back_differences = 1;
  MakeImage(0, ImageContent::kEmptyRoot);
  InsertDisks(2);
  Run();

  ASSERT_EQ(ui.MessageIds(), (std::vector<int>{506, 516, 506})) << ui.Transcript();
  const MessageRequest failure = ui.Messages()[1];
  EXPECT_EQ(failure.text, "Wrire/Verify chech failed!");
  EXPECT_EQ(failure.buttons, Buttons::kOk);
  EXPECT_EQ(failure.icon, Icon::kStop);
  EXPECT_EQ(ui.Messages()[2].text, InsertPrompt(1, 1, 'A'));
  EXPECT_EQ(drives.operations,
            (Strings{"disk 1", "open A:", "write 0 18432", "read 0 18432", "close", "disk 1",
                     "open A:", "write 0 18432", "read 0 18432", "close"}));
  EXPECT_FALSE(state.CompletionMessage.empty());
}

TEST_F(FloppyRunTest, CancelAtRetryThenOkStartsTheDiskAgainWithAFreshFormatCounter) {
  MakeImage(0, ImageContent::kZeroLengthFiles);
  drives.disk = SimulatedDisk::Blank();
  drives.bad_format_cylinders = {7};
  int prompts = 0;
  ui.OnMessage([&](const MessageRequest& request) {
    if (request.message_id == kMsgInsertDisk && ++prompts == 2) {
      drives.bad_format_cylinders.clear();
      drives.disk = SimulatedDisk::Blank();
      drives.operations.clear();
    }
  });
  ui.Expect(kMsgInsertDisk, Answer::kOk);
  ui.Expect(kMsgFloppyError, Answer::kCancel);
  ui.Expect(kMsgInsertDisk, Answer::kOk);
  Run();

  ASSERT_EQ(ui.MessageIds(), (std::vector<int>{506, 510, 506})) << ui.Transcript();
  const MessageRequest error = ui.Messages()[1];
  EXPECT_EQ(error.text, "Floppy access error!");
  EXPECT_EQ(error.buttons, Buttons::kRetryCancel);
  EXPECT_EQ(error.icon, Icon::kStop);
  EXPECT_EQ(error.caption, "SETUP");
  // The second pass begins at cylinder 0 with a plain write, not a format.
  ASSERT_GE(drives.operations.size(), 5u);
  EXPECT_EQ(
      Strings(drives.operations.begin(), drives.operations.begin() + 5),
      (Strings{"disk 1", "open A:", "write failed 0 18432", "format 0 0 2", "write 0 18432"}));
  EXPECT_EQ(drives.OperationsStartingWith("write 1327104"), (Strings{"write 1327104 18432"}));
  EXPECT_FALSE(state.CompletionMessage.empty());
}

TEST_F(FloppyRunTest, RetryAtTheErrorRepeatsAtTheSamePlace) {
  MakeImage(0, ImageContent::kHighCluster1403);
  drives.disk.formatted_tracks[10] = false;  // cylinder 5, head 0
  drives.bad_format_cylinders = {5};
  ui.OnMessage([&](const MessageRequest& request) {
    if (request.message_id == kMsgFloppyError) drives.bad_format_cylinders.clear();
  });
  InsertDisks(1);
  ui.Expect(kMsgFloppyError, Answer::kRetry);
  Run();

  const std::string at = std::to_string(5 * kCylinder) + " 18432";
  Strings around(
      std::find(drives.operations.begin(), drives.operations.end(), "write failed " + at),
      drives.operations.end());
  ASSERT_GE(around.size(), 5u) << ui.Transcript();
  EXPECT_EQ(Strings(around.begin(), around.begin() + 5),
            (Strings{"write failed " + at, "format failed 5 0 2", "write failed " + at,
                     "format 5 0 2", "write " + at}));
  EXPECT_EQ(drives.OperationsStartingWith("write failed"),
            (Strings{"write failed " + at, "write failed " + at}));
  EXPECT_EQ(ui.MessageIds(), (std::vector<int>{506, 510}));
}

TEST_F(FloppyRunTest, DriveThatWillNotOpenIsRetriedUntilItDoes) {
  MakeImage(0, ImageContent::kEmptyRoot);
  drives.open_failures = 2;
  drives.open_failure_text = "The disk in drive A: is in use.";
  InsertDisks(1);
  ui.Expect(kMsgFloppyError, Answer::kRetry);
  ui.Expect(kMsgFloppyError, Answer::kRetry);
  Run();
  EXPECT_EQ(ui.MessageIds(), (std::vector<int>{506, 510, 510}));
  EXPECT_EQ(ui.Messages()[1].text, "Floppy access error!\n\nThe disk in drive A: is in use.");
  EXPECT_EQ(drives.OperationsStartingWith("open"),
            (Strings{"open failed A:", "open failed A:", "open A:"}));
  EXPECT_FALSE(state.CompletionMessage.empty());
}

TEST_F(FloppyRunTest, SilentModeTurnsAFailureIntoTheSameDiskAgainWithoutABox) {
  state.SilentMode = 1;
  MakeImage(0, ImageContent::kEmptyRoot);
  drives.disk.write_protected = true;
  ui.Expect(kMsgInsertDisk, Answer::kOk);
  ui.Expect(kMsgInsertDisk, Answer::kCancel);
  Run();

  EXPECT_EQ(ui.MessageIds(), (std::vector<int>{506, 506})) << ui.Transcript();
  EXPECT_EQ(drives.operations,
            (Strings{"disk 1", "open A:", "write failed 0 18432", "format failed 0 0 2", "close"}));
  EXPECT_TRUE(state.CompletionMessage.empty());
  EXPECT_FALSE(state.FloppyRunFailed);
  // Silent mode leaves no completion text either way: the cancel itself must be recorded.
  EXPECT_TRUE(state.RunCancelled);
}

TEST_F(FloppyRunTest, SilentModeRefusesADriveAThatIsNoFloppyDrive) {
  state.SilentMode = 1;
  drives = SimulatedFloppyDrives(std::set<uint8_t>{1});
  MakeImage(0, ImageContent::kEmptyRoot);
  Run();
  ASSERT_EQ(ui.MessageIds(), (std::vector<int>{0})) << ui.Transcript();
  EXPECT_NE(ui.Messages()[0].text.find("Drive A: is not a floppy drive"), std::string::npos);
  EXPECT_TRUE(drives.OperationsStartingWith("open").empty());
  EXPECT_TRUE(state.FloppyRunFailed);
}

TEST_F(FloppyRunTest, SilentModeLeavesNoCompletionText) {
  state.SilentMode = 1;
  MakeImage(0, ImageContent::kEmptyRoot);
  InsertDisks(1);
  Run();
  EXPECT_EQ(drives.OperationsStartingWith("write"), CylinderWrites(1));
  EXPECT_TRUE(state.CompletionMessage.empty());
}

// --- drive selection ---

TEST_F(FloppyRunTest, TheOnlyDriveIsTakenWithoutAQuestion) {
  drives = SimulatedFloppyDrives(std::set<uint8_t>{1});
  MakeImage(0, ImageContent::kEmptyRoot);
  InsertDisks(1);
  Run();
  for (const UiEvent& event : ui.Events()) EXPECT_NE(event.kind, UiEventKind::kDriveChoice);
  ASSERT_EQ(ui.MessageIds(), (std::vector<int>{506}));
  EXPECT_EQ(ui.Messages()[0].text, InsertPrompt(1, 1, 'B'));
  EXPECT_EQ(drives.OperationsStartingWith("open"), (Strings{"open B:"}));
}

TEST_F(FloppyRunTest, TwoDrivesAreOfferedAndTheChoiceIsUsed) {
  drives = SimulatedFloppyDrives(std::set<uint8_t>{0, 1});
  EXPECT_FALSE(SelectFloppyDrive(state, drives));
  EXPECT_EQ(state.SelectedFloppyDrive, 1) << "probing stops at the second drive";

  state.SelectedFloppyDrive = 0;
  MakeImage(0, ImageContent::kEmptyRoot);
  ui.ChooseDrives({1});
  InsertDisks(1);
  Run();
  const UiEvent* choice = nullptr;
  for (const UiEvent& event : ui.Events()) {
    if (event.kind == UiEventKind::kDriveChoice) choice = &event;
  }
  ASSERT_NE(choice, nullptr) << ui.Transcript();
  ASSERT_EQ(choice->drives.size(), 2u);
  EXPECT_EQ(choice->drives[0].drive, 0);
  EXPECT_EQ(choice->drives[0].label, "A:\\");
  EXPECT_EQ(choice->drives[1].drive, 1);
  EXPECT_EQ(ui.Messages()[0].text, InsertPrompt(1, 1, 'B'));
  EXPECT_EQ(drives.OperationsStartingWith("open"), (Strings{"open B:"}));
}

TEST_F(FloppyRunTest, DriveListCoversEveryLetter) {
  drives = SimulatedFloppyDrives(std::set<uint8_t>{2, 25});
  std::vector<FloppyDriveChoice> list = FillFloppyDriveList(drives);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].drive, 25);
  EXPECT_EQ(list[1].label, "Z:\\");
  EXPECT_FALSE(SelectFloppyDrive(state, drives));
  EXPECT_EQ(state.SelectedFloppyDrive, 25);
}

TEST_F(FloppyRunTest, NoDriveOffersAnEmptyListAndCancelEndsTheRun) {
  drives = SimulatedFloppyDrives(std::set<uint8_t>{});
  MakeImage(0, ImageContent::kEmptyRoot);
  ui.ChooseDrives({std::nullopt});
  Run();
  ASSERT_EQ(ui.Events().size() > 0, true);
  bool offered_empty = false;
  for (const UiEvent& event : ui.Events()) {
    if (event.kind == UiEventKind::kDriveChoice) offered_empty = event.drives.empty();
  }
  EXPECT_TRUE(offered_empty) << ui.Transcript();
  EXPECT_TRUE(ui.MessageIds().empty());
  EXPECT_TRUE(drives.operations.empty());
  EXPECT_TRUE(state.CompletionMessage.empty());
  EXPECT_TRUE(state.RunCancelled);
}

// --- sets that cannot be written ---

TEST_F(FloppyRunTest, FlatImagesAreRefusedBeforeAnyDisk) {
  state.PackageUnpackMode = 1;
  MakeImage(0, ImageContent::kEmptyRoot);
  Run();
  ASSERT_EQ(ui.Messages().size(), 1u) << ui.Transcript();
  const MessageRequest refusal = ui.Messages()[0];
  EXPECT_EQ(refusal.message_id, 0);
  EXPECT_EQ(refusal.caption, "SETUP");
  EXPECT_EQ(refusal.icon, Icon::kStop);
  EXPECT_NE(refusal.text.find("Demo"), std::string::npos);
  EXPECT_TRUE(state.FloppyRunFailed);
  EXPECT_TRUE(drives.operations.empty());
  EXPECT_TRUE(state.CompletionMessage.empty());
}

// Every image of the run is checked before the first question, and the refusal names the
// disk: nothing is asked, no device is made, nothing counts as written.
struct UnwritableCase {
  const char* name;
  size_t offset;  // boot sector field of disk 2 to patch, 0 for none
  uint16_t value;
  int64_t size;  // disk 2's image cut to this many bytes; -1 missing, 0 untouched
  bool extraction_failed = false;
};

class UnwritableImageTest : public FloppyRunTest,
                            public ::testing::WithParamInterface<UnwritableCase> {};

TEST_P(UnwritableImageTest, IsRefusedBeforeTheFirstQuestion) {
  const UnwritableCase& c = GetParam();
  state.Header.DiskCount = 3;
  MakeImage(0, ImageContent::kEmptyRoot);
  MakeImage(1, ImageContent::kHighCluster1403);
  MakeImage(2, ImageContent::kEmptyRoot);
  if (c.offset != 0) PatchBootField(1, c.offset, c.value);
  const std::string image = DiskImagePath(state, 1);
  if (c.size < 0) {
    ASSERT_EQ(std::remove(image.c_str()), 0);
  } else if (c.size > 0) {
    ASSERT_EQ(::truncate(image.c_str(), c.size), 0);
  }
  state.ExtractionFailed = c.extraction_failed;
  drives = SimulatedFloppyDrives(std::set<uint8_t>{0, 1});  // a drive choice would come first
  Run();

  ASSERT_EQ(ui.Events().size(), 1u) << ui.Transcript();
  ASSERT_EQ(ui.MessageIds(), (std::vector<int>{0}));
  const std::string text = ui.Messages()[0].text;
  EXPECT_NE(text.find(c.extraction_failed ? "\"Demo\"" : "Disk 2 of \"Demo\""), std::string::npos)
      << text;
  EXPECT_EQ(text.find(state.WorkspaceDir), std::string::npos) << "a workspace file";
  EXPECT_EQ(ui.Messages()[0].icon, Icon::kStop);
  EXPECT_TRUE(drives.operations.empty());
  EXPECT_TRUE(state.FloppyRunFailed);
  EXPECT_TRUE(state.CompletionMessage.empty());
}

INSTANTIATE_TEST_SUITE_P(Images, UnwritableImageTest,
                         ::testing::Values(UnwritableCase{"Missing", 0, 0, -1},
                                           UnwritableCase{"OneByte", 0, 0, 1},
                                           UnwritableCase{"ShortOfItsUsedCylinders", 0, 0, 730000},
                                           UnwritableCase{"NineSectorsPerTrack", 24, 9, 0},
                                           UnwritableCase{"NoSectorsPerTrack", 24, 0, 0},
                                           UnwritableCase{"OneHead", 26, 1, 0},
                                           UnwritableCase{"SectorsOf1024Bytes", 11, 1024, 0},
                                           UnwritableCase{"HalfTheSectors", 19, 1440, 0},
                                           UnwritableCase{"AfterAFailedExtraction", 0, 0, 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace floppyset::testing
