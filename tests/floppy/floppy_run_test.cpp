// The floppy creation run against the simulated drive, asserted on what the user sees and on
// what reached the drive (the drive's operation record).
#include "floppy/floppy_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "base/path.h"
#include "floppy/drive_selection.h"
#include "platform/posix/posix_host.h"
#include "support/scripted_ui.h"
#include "support/set_builder.h"
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

std::string InsertPrompt(const std::string& disk, char letter = 'A') {
  return "Please, label the floppy disk as \"Demo Disk " + disk + "\"\nand insert disk in floppy " +
         "drive " + letter + ":.\n\nPlease press OK when ready.";
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
    const std::string image = DiskImagePath(state.WorkspaceDir, index), file = scratch / "DATA.BIN";
    std::remove(image.c_str());
    ASSERT_EQ(RunShell("MTOOLS_SKIP_CHECK=1 mformat -C -f 1440 -i '" + image + "' ::"), 0);
    if (file_bytes < 0) return;
    std::vector<uint8_t> bytes(file_bytes);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t((i * 131 + i / 509 + 7) ^ 0x5A);
    WriteFileBytes(file, bytes);
    ASSERT_EQ(RunShell("MTOOLS_SKIP_CHECK=1 mcopy -i '" + image + "' '" + file + "' ::DATA.BIN"),
              0);
  }
  void InsertDisks(size_t count) {
    for (size_t i = 0; i < count; ++i) ui.Expect(kMsgInsertDisk, Answer::kOk);
  }
  void Run() { outcome = CreateFloppySet(state, host, ui, drives); }
  bool Failed() const { return outcome.ending == RunEnding::kFailed; }
  bool Cancelled() const { return outcome.ending == RunEnding::kCancelled; }

  TempDir workspace, scratch;
  PosixHost host;
  ScriptedUi ui;
  SimulatedFloppyDrives drives;
  RunState state;
  RunOutcome outcome;
};

// The prompts, the run bar and the closing words for each kind of set.
TEST_F(FloppyRunTest, EachKindOfSetEndsWithItsOwnWords) {
  const struct {
    uint32_t count, boot, single, silent;
    Strings disks;  // as labelled in the prompts
    std::string completion;
  } cases[] = {
      // clang-format off
      {3, 0, 0, 0, {"1/3", "2/3", "3/3"}, "All disks were successfully created.\n\nTo install "
       "\"Demo\", insert disk labeled \"Demo Disk 1/3\" into drive A: and run SETUP.EXE."},
      {1, 1, 0, 0, {"1/1"}, "The disk was successfully created. To run \"Demo\", power off"},
      {3, 0, 2, 0, {"2/3"}, "Congratulations! \"Demo Disk 2/3\" successfully created."},
      {1, 0, 0, 1, {"1/1"}, ""},
      // clang-format on
  };
  for (const auto& c : cases) {
    Reset();
    state.Header.DiskCount = c.count, state.Header.BootDisk = c.boot, state.SilentMode = c.silent;
    state.ReportFlags = c.single ? kFlagSingleDisk : 0, state.SingleDiskNumber = c.single;
    for (uint32_t i = 0; i < c.count; ++i) MakeImage(i, kEmptyRoot);
    InsertDisks(c.disks.size());
    Run();
    Strings prompts, asked, writes, disk_texts;
    std::vector<int> positions{0};
    for (const MessageRequest& m : ui.Messages()) asked.push_back(m.text);
    for (size_t i = 0; i < c.disks.size(); ++i) {
      prompts.push_back(InsertPrompt(c.disks[i]));
      writes.push_back("write " + At(0));
      positions.push_back(100 * (i + 1));
      disk_texts.push_back("Floppy: write " + std::to_string(i + 1) + " of " +
                           std::to_string(c.disks.size()));
    }
    EXPECT_EQ(asked, prompts);
    EXPECT_EQ(drives.OperationsStartingWith("write"), writes);
    EXPECT_EQ(ui.Of(UiEventKind::kProgressRange, kControlDiskBar).back().high,
              100 * int(c.disks.size()));
    EXPECT_EQ(ui.ProgressPositions(kControlDiskBar), positions);
    EXPECT_EQ(ui.Field(&UiEvent::text, UiEventKind::kControlText, kControlDiskText), disk_texts);
    EXPECT_TRUE(c.completion.empty() ? state.CompletionMessage.empty()
                                     : Has(state.CompletionMessage, c.completion));
    EXPECT_FALSE(Failed());
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
    EXPECT_EQ(ui.Of(UiEventKind::kControlText, kControlTrackText).back().text, status);
    EXPECT_TRUE(drives.OperationsStartingWith("read").empty()) << "no read-back was asked for";
    EXPECT_TRUE(drives.OperationsStartingWith("format").empty());
    EXPECT_EQ(ui.ProgressPositions(kControlTrackBar).back(), 100);
    std::vector<uint8_t> image = ReadFileBytes(DiskImagePath(state.WorkspaceDir, 0));
    std::fill(image.begin() + cylinders * kCylinder, image.end(), 0);
    EXPECT_TRUE(image == drives.disk.bytes);
  }
}

// Faults at the drive and the answers to them: what is asked, what reaches the drive (in
// this order), and whether the disk was written in the end.
TEST_F(FloppyRunTest, FaultsAtTheDrive) {
  using A = Answer;
  struct Case {
    std::string name;
    int64_t content;
    std::function<void()> setup;
    std::vector<std::pair<int, Answer>> asked;  // the messages and their answers
    Strings ops;  // in this order; from "disk 1" to "close" the whole record
    bool written = true;
    std::string why = "";  // the failure's cause when not written
  };
  Strings blank{"disk 1", "open A:"}, sectors{"disk 1", "open A:"};
  for (uint32_t c = 0; c < 80; ++c) {
    if (c < 6) blank.push_back("write failed " + At(c));  // then formatted before each write
    blank.insert(blank.end(), {"format " + std::to_string(c) + " 0 2", "write " + At(c)});
    if (c < 40) sectors.insert(sectors.end(), {"write " + At(c, 512), "read " + At(c, 512)});
  }
  blank.push_back("close"), sectors.push_back("close");
  const Strings pass{"disk 1", "open A:", "write 0 18432", "read 0 18432", "close"};
  Strings twice = pass;
  twice.insert(twice.end(), pass.begin(), pass.end());
  auto on_error = [&](std::function<void(const MessageRequest&)> act) {
    ui.OnMessage([act](const MessageRequest& m) {
      if (m.message_id == kMsgFloppyError) act(m);
    });
  };
  // clang-format off
  const std::vector<Case> cases{
      {"blank disk", kEmptyFile, [&] { drives.disk = SimulatedDisk::Blank(); },
       {{506, A::kOk}}, blank},
      {"read-back in sector units (Windows 9x)", kTo1403,
       [&] { state.Header.VerifyAfterWrite = 1, drives.position_unit = 512; },
       {{506, A::kOk}}, sectors},
      {"read-back mismatch: the same disk again", kEmptyRoot,
       [&] { state.Header.VerifyAfterWrite = 1, drives.read_back_differences = 1; },
       {{506, A::kOk}, {516, A::kOk}, {506, A::kOk}}, twice},
      {"cancel at the error, OK: the disk again with a fresh format counter", kEmptyFile,
       [&] {
         drives.disk = SimulatedDisk::Blank(), drives.bad_format_cylinders = {7};
         ui.OnMessage([&, prompts = 0](const MessageRequest& request) mutable {
           if (request.message_id == kMsgInsertDisk && ++prompts == 2) {
             drives = SimulatedFloppyDrives(), drives.disk = SimulatedDisk::Blank();
           }
         });
       },
       {{506, A::kOk}, {510, A::kCancel}, {506, A::kOk}},
       {"disk 1", "open A:", "write failed 0 18432", "format 0 0 2", "write 0 18432"}},
      {"retry at the error: the same place again", kTo1403,
       [&] {
         drives.disk.formatted_tracks[10] = false;  // cylinder 5, head 0
         drives.bad_format_cylinders = {5};
         on_error([&](const MessageRequest&) { drives.bad_format_cylinders.clear(); });
       },
       {{506, A::kOk}, {510, A::kRetry}},
       {"write failed " + At(5), "format failed 5 0 2", "write failed " + At(5), "format 5 0 2",
        "write " + At(5)}},
      {"a drive that will not open, retried with the device's reason", kEmptyRoot,
       [&] {
         drives.open_failures = 2, drives.failure_text = "The disk in drive A: is in use.";
         on_error([](const MessageRequest& m) {
           EXPECT_EQ(m.text, "Floppy access error!\n\nThe disk in drive A: is in use.");
         });
       },
       {{506, A::kOk}, {510, A::kRetry}, {510, A::kRetry}},
       {"open failed A:", "open failed A:", "open A:", "write 0 18432"}},
      // Silent mode asks for the same disk again without a box; giving up on the disk after
      // the failure is a failure, with the device's cause.
      {"silent mode, write-protected", kEmptyRoot,
       [&] { state.SilentMode = 1, drives.disk.write_protected = true; },
       {{506, A::kOk}, {506, A::kCancel}},
       {"disk 1", "open A:", "write failed 0 18432", "format failed 0 0 2", "close"}, false,
       "Floppy access error!"},
      {"a full disk, Cancel at the error and at the drive", kEmptyRoot,
       [&] {
         drives.disk.write_protected = true;
         drives.failure_text = "cannot write A: No space left on device";
       },
       {{506, A::kOk}, {510, A::kCancel}, {506, A::kCancel}},
       {"write failed 0 18432", "format failed 0 0 2", "close"}, false,
       "cannot write A: No space left on device"},
      {"a read-back that differs, then Cancel at the drive", kEmptyRoot,
       [&] { state.Header.VerifyAfterWrite = 1, drives.read_back_differences = 1; },
       {{506, A::kOk}, {516, A::kOk}, {506, A::kCancel}}, {"write 0 18432", "read 0 18432"},
       false, "Wrire/Verify chech failed!"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    MakeImage(0, c.content);
    c.setup();
    std::vector<int> asked;
    for (const auto& [id, answer] : c.asked) {
      if (id != 516) ui.Expect(id, answer);  // 516 has OK alone
      asked.push_back(id);
    }
    Run();
    EXPECT_EQ(ui.MessageIds(), asked);
    const bool whole = c.ops.front() == "disk 1" && c.ops.back() == "close";
    EXPECT_TRUE(!whole || drives.operations == c.ops);
    auto at = drives.operations.begin();
    for (const std::string& op : c.ops) {
      at = std::find(at, drives.operations.end(), op);
      ASSERT_NE(at++, drives.operations.end()) << "no " << op << " in order";
    }
    EXPECT_EQ(state.CompletionMessage.empty(), !c.written);
    EXPECT_EQ(Failed(), !c.written);
    EXPECT_FALSE(Cancelled());
    if (!c.written) {
      EXPECT_EQ(outcome.reason, "Disk 1 of \"Demo\" was not written: " + c.why);
      EXPECT_FALSE(outcome.reason_shown) << "said again at the end";
    }
  }
}

// The only drive is taken without a question, several are offered (every letter up to Z:),
// none offers an empty list whose cancel is recorded; silent mode takes A: or refuses.
TEST_F(FloppyRunTest, DriveSelection) {
  const struct {
    std::set<uint8_t> floppies;
    bool silent;
    std::optional<uint8_t> chosen;  // at the drive choice, when one is offered
    size_t offered;                 // drives offered, 0 for no choice
    std::string opened, refusal;
  } cases[] = {
      {{1}, false, {}, 0, "open B:", ""},
      {{0, 1}, false, 1, 2, "open B:", ""},
      {{2, 25}, false, 25, 2, "open Z:", ""},
      {{}, false, std::nullopt, 0, "", ""},
      {{1}, true, {}, 0, "", "Drive A: is not a floppy drive"},
  };
  for (const auto& c : cases) {
    Reset(c.floppies);
    state.SilentMode = c.silent;
    MakeImage(0, kEmptyRoot);
    if (c.offered || c.floppies.empty()) ui.ChooseDrives({c.chosen});
    if (!c.opened.empty()) InsertDisks(1);
    Run();
    const std::vector<UiEvent> choice = ui.Of(UiEventKind::kDriveChoice);
    EXPECT_EQ(choice.empty() ? 0 : choice[0].drives.size(), c.offered);
    if (c.offered) {
      EXPECT_EQ(choice[0].drives.back().label, std::string(1, char('A' + *c.chosen)) + ":\\");
    }
    EXPECT_EQ(drives.OperationsStartingWith("open"),
              c.opened.empty() ? Strings{} : Strings{c.opened});
    EXPECT_EQ(Cancelled(), c.floppies.empty());
    EXPECT_EQ(Failed(), !c.refusal.empty());
    const std::string text = ui.Messages().empty() ? "" : ui.Messages()[0].text;
    EXPECT_TRUE(c.refusal.empty() || Has(text, c.refusal)) << text;
    EXPECT_TRUE(c.opened.empty() || text == InsertPrompt("1/1", c.opened[5])) << text;
  }
  Reset({0, 1, 2});
  EXPECT_FALSE(SelectFloppyDrive(state, drives));
  EXPECT_EQ(state.SelectedFloppyDrive, 1) << "probing stops at the second drive";
}

// Every image of the run is checked before the first question, and the refusal names the
// disk: nothing is asked, no device is made, nothing counts as written.
TEST_F(FloppyRunTest, UnwritableSetsAreRefusedBeforeTheFirstQuestion) {
  // Disk 2: missing, one byte, short of its used cylinders; 9 or 0 sectors a track, one head,
  // 1024-byte sectors, half the sectors (boot sector field, value); after a failed
  // extraction; a flat-image set.
  const struct {
    size_t offset;
    uint16_t value;
    int64_t size;  // disk 2's image cut to this many bytes; -1 missing, 0 untouched
    bool extraction_failed = false, flat = false;
  } cases[] = {{0, 0, -1}, {0, 0, 1},     {0, 0, 730000}, {24, 9, 0},      {24, 0, 0},
               {26, 1, 0}, {11, 1024, 0}, {19, 1440, 0},  {0, 0, 0, true}, {0, 0, 0, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.offset) + "/" + std::to_string(c.size));
    Reset({0, 1});  // a drive choice would come first
    state.Header.DiskCount = 3;
    state.Images.assign(3, MakeAccount(ImageCondition::kIntact, ""));
    if (c.extraction_failed) state.Images[1] = MakeAccount(ImageCondition::kDamaged, "damaged");
    state.PackageUnpackMode = c.flat;
    MakeImage(0, kEmptyRoot);
    MakeImage(1, kTo1403);
    MakeImage(2, kEmptyRoot);
    const std::string image = DiskImagePath(state.WorkspaceDir, 1);
    std::vector<uint8_t> bytes = ReadFileBytes(image);
    bytes[c.offset] = uint8_t(c.value), bytes[c.offset + 1] = uint8_t(c.value >> 8);
    if (c.offset != 0) WriteFileBytes(image, bytes);
    EXPECT_EQ(c.size < 0 ? std::remove(image.c_str())
              : c.size   ? ::truncate(image.c_str(), c.size)
                         : 0,
              0);
    Run();
    ASSERT_EQ(ui.Events().size(), 1u);
    ASSERT_EQ(ui.MessageIds(), (std::vector<int>{0}));
    const std::string text = ui.Messages()[0].text;
    EXPECT_TRUE(Has(text, c.extraction_failed || c.flat ? "\"Demo\"" : "Disk 2 of \"Demo\""));
    EXPECT_FALSE(Has(text, state.WorkspaceDir)) << "a workspace file";
    EXPECT_EQ(ui.Messages()[0].icon, Icon::kStop);
    EXPECT_TRUE(drives.operations.empty());
    EXPECT_TRUE(Failed());
    EXPECT_TRUE(state.CompletionMessage.empty());
  }
}

}  // namespace
}  // namespace floppyset::testing
