// The floppy creation run against the simulated drive, asserted on what the user sees (the
// scripted Ui's transcript) and on what reached the drive (the drive's operation record).
#include "floppy/floppy_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "base/path.h"
#include "floppy/drive_selection.h"
#include "platform/posix/posix_host.h"
#include "support/scripted_ui.h"
#include "support/simulated_floppy.h"
#include "support/temp_dir.h"
#include "ui/messages.h"
#include "workspace/workspace.h"

namespace floppyset::testing {
namespace {

using Strings = std::vector<std::string>;
constexpr uint32_t kCylinder = kCylinderBufferSize;
// Image contents: a fresh disk, one empty file, one file on clusters 2 to 1,403, a full disk.
constexpr int64_t kEmptyRoot = -1, kEmptyFile = 0, kTo1403 = 1402 * 512, kFull = 2847 * 512;

std::string At(uint32_t cylinder, uint32_t unit = 1) {
  return std::to_string(cylinder * kCylinder / unit) + " 18432";
}

class FloppyRunTest : public ::testing::Test {
 protected:
  FloppyRunTest() { Reset(); }

  // A fresh run of a one-disk set with the given floppy drives.
  void Reset(std::set<uint8_t> floppies = {0}) {
    state = RunState();
    state.WorkspaceDir = WithTrailingSeparator(workspace.path());
    state.ProductName = "Demo";
    state.Header.DiskCount = 1;
    ui = ScriptedUi();
    drives = SimulatedFloppyDrives(floppies);
  }

  // A 1.44 MB FAT12 image made by mtools (an independent FAT12 writer), holding one file of
  // `file_bytes` patterned bytes unless negative.
  void MakeImage(uint32_t index, int64_t file_bytes) {
    const std::string image = DiskImagePath(state, index), file = scratch / "DATA.BIN";
    std::remove(image.c_str());
    ASSERT_EQ(RunShell("MTOOLS_SKIP_CHECK=1 mformat -C -f 1440 -i '" + image + "' ::"), 0);
    if (file_bytes < 0) return;
    std::vector<uint8_t> bytes(file_bytes);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t((i * 131 + i / 509 + 7) ^ 0x5A);
    WriteFileBytes(file, bytes);
    ASSERT_EQ(RunShell("MTOOLS_SKIP_CHECK=1 mcopy -i '" + image + "' '" + file + "' ::DATA.BIN"),
              0);
  }
  void InsertDisks(int count) {
    for (int i = 0; i < count; ++i) ui.Expect(kMsgInsertDisk, Answer::kOk);
  }
  void Run() { CreateFloppySet(state, host, ui, drives); }
  // The first drive choice offered, or nullptr.
  const UiEvent* DriveChoice() const {
    for (const UiEvent& event : ui.Events()) {
      if (event.kind == UiEventKind::kDriveChoice) return &event;
    }
    return nullptr;
  }

  TempDir workspace, scratch;
  PosixHost host;
  ScriptedUi ui;
  SimulatedFloppyDrives drives;
  RunState state;
};

std::string InsertPrompt(const std::string& disk, char letter = 'A') {
  return "Please, label the floppy disk as \"Demo Disk " + disk + "\"\nand insert disk in floppy " +
         "drive " + letter + ":.\n\nPlease press OK when ready.";
}

// The prompts, the run bar and the closing words for each kind of set.
TEST_F(FloppyRunTest, EachKindOfSetEndsWithItsOwnWords) {
  struct Case {
    uint32_t count, boot, single, silent;
    Strings disks;  // as labelled in the prompts
    std::string completion;
  };
  const std::vector<Case> cases{
      {3,
       0,
       0,
       0,
       {"1/3", "2/3", "3/3"},
       "Congratulations! All disks were successfully created.\n\nTo install \"Demo\", insert "
       "disk labeled \"Demo Disk 1/3\" into drive A: and run SETUP.EXE."},
      {1,
       1,
       0,
       0,
       {"1/1"},
       "Congratulations! The disk was successfully created. To run \"Demo\", power off the "
       "computer on which you wish to run this program, insert this diskette into drive A:, "
       "and power up the computer."},
      {3, 0, 2, 0, {"2/3"}, "Congratulations! \"Demo Disk 2/3\" successfully created."},
      {1, 0, 0, 1, {"1/1"}, ""},
  };
  for (const Case& c : cases) {
    Reset();
    state.Header.DiskCount = c.count, state.Header.BootDisk = c.boot, state.SilentMode = c.silent;
    state.ReportFlags = c.single ? kFlagSingleDisk : 0, state.SingleDiskNumber = c.single;
    for (uint32_t i = 0; i < c.count; ++i) MakeImage(i, kEmptyRoot);
    InsertDisks(c.disks.size());
    Run();

    Strings prompts, writes, disk_texts;
    std::vector<int> positions{0};
    for (const MessageRequest& m : ui.Messages()) prompts.push_back(m.text);
    for (size_t i = 0; i < c.disks.size(); ++i) {
      EXPECT_EQ(prompts.at(i), InsertPrompt(c.disks[i])) << ui.Transcript();
      writes.push_back("write " + At(0));
      positions.push_back(100 * (i + 1));
      disk_texts.push_back("Floppy: write " + std::to_string(i + 1) + " of " +
                           std::to_string(c.disks.size()));
    }
    EXPECT_EQ(prompts.size(), c.disks.size());
    EXPECT_EQ(drives.OperationsStartingWith("write"), writes);
    EXPECT_EQ(ui.ProgressRange(kControlDiskBar), std::make_pair(0, 100 * int(c.disks.size())));
    EXPECT_EQ(ui.ProgressPositions(kControlDiskBar), positions);
    EXPECT_EQ(ui.ControlTexts(kControlDiskText), disk_texts);
    EXPECT_EQ(state.CompletionMessage, c.completion);
    EXPECT_FALSE(state.FloppyRunFailed);
  }
}

// Only the cylinders up to the last one in use are written, equal to the image.
TEST_F(FloppyRunTest, WritesTheUsedCylindersOnly) {
  for (const auto& [content, cylinders, status] :
       std::vector<std::tuple<int64_t, uint32_t, std::string>>{
           {kEmptyRoot, 1, "Track: write 01 of 01"},
           {kEmptyFile, 80, "Track: write 80 of 81"},
           {kTo1403, 40, "Track: write 40 of 40"},
           {kFull, 80, "Track: write 80 of 81"}}) {
    Reset();
    MakeImage(0, content);
    InsertDisks(1);
    Run();
    Strings writes;
    for (uint32_t c = 0; c < cylinders; ++c) writes.push_back("write " + At(c));
    EXPECT_EQ(drives.OperationsStartingWith("write"), writes);
    EXPECT_EQ(ui.ControlTexts(kControlTrackText).back(), status);
    EXPECT_TRUE(drives.OperationsStartingWith("read").empty()) << "no read-back was asked for";
    EXPECT_TRUE(drives.OperationsStartingWith("format").empty());
    EXPECT_EQ(ui.ProgressPositions(kControlTrackBar).back(), 100);
    const size_t written = size_t{cylinders} * kCylinder;
    std::vector<uint8_t> image = ReadFileBytes(DiskImagePath(state, 0));
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + written, drives.disk.bytes.begin()));
    EXPECT_TRUE(std::all_of(drives.disk.bytes.begin() + written, drives.disk.bytes.end(),
                            [](uint8_t b) { return b == 0; }));
  }
}

TEST_F(FloppyRunTest, BlankDiskIsFormattedWhereWritesFailThenAlwaysAfterTheSixth) {
  MakeImage(0, kEmptyFile);
  drives.disk = SimulatedDisk::Blank();
  InsertDisks(1);
  Run();
  Strings expected{"disk 1", "open A:"};
  for (uint32_t c = 0; c < 80; ++c) {
    if (c < 6) expected.push_back("write failed " + At(c));
    expected.push_back("format " + std::to_string(c) + " 0 2");
    expected.push_back("write " + At(c));
  }
  expected.push_back("close");
  EXPECT_EQ(drives.operations, expected);
  Strings texts = ui.ControlTexts(kControlTrackText);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Track: formatting..."), 80);
  EXPECT_EQ(ui.MessageIds(), (std::vector<int>{506}));
}

TEST_F(FloppyRunTest, ReadBackUsesTheSavedPositionInTheDevicesOwnUnits) {
  state.Header.VerifyAfterWrite = 1;
  drives.position_unit = 512;  // sector numbers, as on Windows 9x
  MakeImage(0, kTo1403);
  InsertDisks(1);
  Run();
  Strings expected{"disk 1", "open A:"};
  for (uint32_t c = 0; c < 40; ++c) {
    expected.push_back("write " + At(c, 512));
    expected.push_back("read " + At(c, 512));
  }
  expected.push_back("close");
  EXPECT_EQ(drives.operations, expected);
  EXPECT_EQ(ui.MessageIds(), (std::vector<int>{506}));
}

TEST_F(FloppyRunTest, ReadBackMismatchAsksForTheSameDiskAgain) {
  state.Header.VerifyAfterWrite = 1;
  drives.read_back_differences = 1;
  MakeImage(0, kEmptyRoot);
  InsertDisks(2);
  Run();
  ASSERT_EQ(ui.MessageIds(), (std::vector<int>{506, 516, 506})) << ui.Transcript();
  EXPECT_EQ(ui.Messages()[1].text, "Wrire/Verify chech failed!");
  EXPECT_EQ(ui.Messages()[2].text, InsertPrompt("1/1"));
  const Strings pass{"disk 1", "open A:", "write 0 18432", "read 0 18432", "close"};
  Strings twice = pass;
  twice.insert(twice.end(), pass.begin(), pass.end());
  EXPECT_EQ(drives.operations, twice);
  EXPECT_FALSE(state.CompletionMessage.empty());
}

TEST_F(FloppyRunTest, CancelAtRetryThenOkStartsTheDiskAgainWithAFreshFormatCounter) {
  MakeImage(0, kEmptyFile);
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
  EXPECT_EQ(ui.Messages()[1].buttons, Buttons::kRetryCancel);
  // The second pass begins at cylinder 0 with a plain write, not a format.
  ASSERT_GE(drives.operations.size(), 5u);
  EXPECT_EQ(
      Strings(drives.operations.begin(), drives.operations.begin() + 5),
      (Strings{"disk 1", "open A:", "write failed 0 18432", "format 0 0 2", "write 0 18432"}));
  EXPECT_EQ(drives.OperationsStartingWith("write " + At(72)), (Strings{"write " + At(72)}));
  EXPECT_FALSE(state.CompletionMessage.empty());
}

TEST_F(FloppyRunTest, RetryAtTheErrorRepeatsAtTheSamePlace) {
  MakeImage(0, kTo1403);
  drives.disk.formatted_tracks[10] = false;  // cylinder 5, head 0
  drives.bad_format_cylinders = {5};
  ui.OnMessage([&](const MessageRequest& request) {
    if (request.message_id == kMsgFloppyError) drives.bad_format_cylinders.clear();
  });
  InsertDisks(1);
  ui.Expect(kMsgFloppyError, Answer::kRetry);
  Run();
  const Strings& ops = drives.operations;
  Strings around(std::find(ops.begin(), ops.end(), "write failed " + At(5)), ops.end());
  around.resize(std::min<size_t>(around.size(), 5));
  EXPECT_EQ(around, (Strings{"write failed " + At(5), "format failed 5 0 2",
                             "write failed " + At(5), "format 5 0 2", "write " + At(5)}))
      << ui.Transcript();
  EXPECT_EQ(drives.OperationsStartingWith("write failed").size(), 2u);
  EXPECT_EQ(ui.MessageIds(), (std::vector<int>{506, 510}));
}

// The device's reason for a refused open stands below the retry prompt.
TEST_F(FloppyRunTest, DriveThatWillNotOpenIsRetriedUntilItDoes) {
  MakeImage(0, kEmptyRoot);
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

// Silent mode leaves no completion text either way: the cancel itself must be recorded.
TEST_F(FloppyRunTest, SilentModeTurnsAFailureIntoTheSameDiskAgainWithoutABox) {
  state.SilentMode = 1;
  MakeImage(0, kEmptyRoot);
  drives.disk.write_protected = true;
  ui.Expect(kMsgInsertDisk, Answer::kOk);
  ui.Expect(kMsgInsertDisk, Answer::kCancel);
  Run();
  EXPECT_EQ(ui.MessageIds(), (std::vector<int>{506, 506})) << ui.Transcript();
  EXPECT_EQ(drives.operations,
            (Strings{"disk 1", "open A:", "write failed 0 18432", "format failed 0 0 2", "close"}));
  EXPECT_FALSE(state.FloppyRunFailed);
  EXPECT_TRUE(state.RunCancelled);
}

// The only drive is taken without a question, several are offered (every letter up to Z:),
// none offers an empty list whose cancel is recorded; silent mode takes A: or refuses.
TEST_F(FloppyRunTest, DriveSelection) {
  struct Case {
    std::set<uint8_t> floppies;
    bool silent;
    std::optional<uint8_t> chosen;  // at the drive choice, when one is offered
    size_t offered;                 // drives offered, 0 for no choice
    std::string opened, refusal;
  };
  const std::vector<Case> cases{
      {{1}, false, {}, 0, "open B:", ""},
      {{0, 1}, false, 1, 2, "open B:", ""},
      {{2, 25}, false, 25, 2, "open Z:", ""},
      {{}, false, std::nullopt, 0, "", ""},
      {{1}, true, {}, 0, "", "Drive A: is not a floppy drive"},
  };
  for (const Case& c : cases) {
    Reset(c.floppies);
    state.SilentMode = c.silent;
    MakeImage(0, kEmptyRoot);
    if (c.offered || c.floppies.empty()) ui.ChooseDrives({c.chosen});
    if (!c.opened.empty()) InsertDisks(1);
    Run();
    const UiEvent* choice = DriveChoice();
    EXPECT_EQ(choice ? choice->drives.size() : 0, c.offered) << ui.Transcript();
    if (choice && c.offered) {
      EXPECT_EQ(choice->drives.back().label, std::string(1, char('A' + c.chosen.value())) + ":\\");
    }
    EXPECT_EQ(drives.OperationsStartingWith("open"),
              c.opened.empty() ? Strings{} : Strings{c.opened});
    EXPECT_EQ(state.RunCancelled, c.floppies.empty());
    EXPECT_EQ(state.FloppyRunFailed, !c.refusal.empty());
    const std::string text = ui.Messages().empty() ? "" : ui.Messages()[0].text;
    EXPECT_TRUE(c.refusal.empty() || text.find(c.refusal) != std::string::npos) << text;
    EXPECT_TRUE(c.opened.empty() || text == InsertPrompt("1/1", c.opened[5])) << text;
  }
  Reset({0, 1});
  EXPECT_FALSE(SelectFloppyDrive(state, drives));
  EXPECT_EQ(state.SelectedFloppyDrive, 1) << "probing stops at the second drive";
}

// Every image of the run is checked before the first question, and the refusal names the
// disk: nothing is asked, no device is made, nothing counts as written.
TEST_F(FloppyRunTest, UnwritableSetsAreRefusedBeforeTheFirstQuestion) {
  struct Case {
    size_t offset;  // boot sector field of disk 2 to patch, 0 for none
    uint16_t value;
    int64_t size;  // disk 2's image cut to this many bytes; -1 missing, 0 untouched
    bool extraction_failed = false, flat = false;
  };
  const std::vector<Case> cases{
      {0, 0, -1},
      {0, 0, 1},
      {0, 0, 730000},
      {24, 9, 0},
      {24, 0, 0},
      {26, 1, 0},
      {11, 1024, 0},
      {19, 1440, 0},
      {0, 0, 0, true, false},
      {0, 0, 0, false, true},
  };
  for (const Case& c : cases) {
    Reset({0, 1});  // a drive choice would come first
    state.Header.DiskCount = 3, state.ExtractionFailed = c.extraction_failed;
    state.PackageUnpackMode = c.flat;
    MakeImage(0, kEmptyRoot);
    MakeImage(1, kTo1403);
    MakeImage(2, kEmptyRoot);
    const std::string image = DiskImagePath(state, 1);
    if (c.offset != 0) {
      std::vector<uint8_t> bytes = ReadFileBytes(image);
      bytes[c.offset] = static_cast<uint8_t>(c.value);
      bytes[c.offset + 1] = static_cast<uint8_t>(c.value >> 8);
      WriteFileBytes(image, bytes);
    }
    EXPECT_EQ(c.size < 0 ? std::remove(image.c_str())
              : c.size   ? ::truncate(image.c_str(), c.size)
                         : 0,
              0);
    Run();
    const std::string what = std::to_string(c.offset) + "/" + std::to_string(c.size);
    ASSERT_EQ(ui.Events().size(), 1u) << what << ui.Transcript();
    ASSERT_EQ(ui.MessageIds(), (std::vector<int>{0}));
    const std::string text = ui.Messages()[0].text;
    EXPECT_NE(text.find(c.extraction_failed || c.flat ? "\"Demo\"" : "Disk 2 of \"Demo\""),
              std::string::npos)
        << what << text;
    EXPECT_EQ(text.find(state.WorkspaceDir), std::string::npos) << "a workspace file";
    EXPECT_EQ(ui.Messages()[0].icon, Icon::kStop);
    EXPECT_TRUE(drives.operations.empty());
    EXPECT_TRUE(state.FloppyRunFailed);
    EXPECT_TRUE(state.CompletionMessage.empty());
  }
}

}  // namespace
}  // namespace floppyset::testing
