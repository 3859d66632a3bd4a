#include "app/program.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app_fixture.h"
#include "mkfloppyset/pe_stub.h"
#include "package/package_reader.h"
#include "ui/messages.h"

namespace floppyset::testing {
namespace {

const DiskFiles kDisk1 = {{"SETUP.EXE", "installer"}, {"README.TXT", "hello"}};
const DiskFiles kDisk2 = {{"DATA.BIN", std::string(3000, 'x')}};

class ProgramTest : public AppTest {
 protected:
  // A package built for unpacking (flat images), autostart when `installer` is not empty.
  void MakeUnpackProgram(const std::string& installer, uint16_t autostart = 1) {
    PackageRecipe recipe = Recipe();
    recipe.header.UnpackMode = 1;
    recipe.header.AutostartMode = autostart;
    recipe.installer_name = installer;
    MakeProgram(recipe, {kDisk1, kDisk2});
  }
  // Changes one byte of the program file.
  void PatchProgram(size_t offset, uint8_t value) {
    std::vector<uint8_t> bytes = ReadFileBytes(program_path);
    ASSERT_LT(offset, bytes.size());
    bytes[offset] = value;
    WriteFileBytes(program_path, bytes);
  }
};

TEST_F(ProgramTest, SecondInstanceIsRefusedAndLeavesTheFirstOnesWorkspaceAlone) {
  MakeProgram(Recipe(), {kDisk1});
  const auto first = host.AcquireInstanceLock(program_path);
  ASSERT_TRUE(first);
  WriteTree(temp_dir + "/TII1", {{"image.tii", "first instance"}});

  EXPECT_EQ(Run(), ProgramOutcome::kRefused);
  ASSERT_EQ(ui.MessageIds(), std::vector<int>{kMsgAlreadyRunning});
  const MessageRequest m = ui.LastMessage();
  EXPECT_EQ(m.text, "Another instance of the program is already running");
  EXPECT_EQ(m.caption, "Error");
  EXPECT_EQ(m.icon, Icon::kStop);
  EXPECT_EQ(TempLeftovers(), std::vector<std::string>{"TII1"});
  EXPECT_EQ(Entries(temp_dir + "/TII1"), std::vector<std::string>{"image.tii"});
  EXPECT_TRUE(ui.WorkDialogs().empty());
}

TEST_F(ProgramTest, StartUpRefusalsStopAndCleanUp) {
  const std::string refused_text = "File " + program_path +
                                   " failed authenticity check!\n\nFile was changed or infected "
                                   "by virus.\n\nPlease contact software vendor for the "
                                   "replacement.";
  {
    SCOPED_TRACE("archive changed: the package sum fails after the exe check passed");
    MakeProgram(Recipe(), {kDisk1});
    PatchProgram(std::filesystem::file_size(program_path) - 2, 0x5A);
    EXPECT_EQ(Run(), ProgramOutcome::kRefused);
    EXPECT_EQ(ui.WorkDialogs(), std::vector<int>{kDialogAuthenticity});
    EXPECT_EQ(ui.WorkDialogResults(), std::vector<int>{2});
    EXPECT_EQ(ui.ControlTexts(kControlExeCheckResult), std::vector<std::string>{"OK"});
    EXPECT_TRUE(ui.ControlTexts(kControlPackageCheckResult).empty());
    const MessageRequest m = ui.LastMessage();
    EXPECT_EQ(m.message_id, kMsgAuthFailed);
    EXPECT_EQ(m.text, refused_text);
    EXPECT_EQ(m.caption, "SETUP");
    EXPECT_EQ(m.icon, Icon::kExclamation);
    EXPECT_EQ(m.owner, Owner::kNone);
    EXPECT_FALSE(ui.MainWindow());
    EXPECT_TRUE(TempLeftovers().empty());
  }
  {
    SCOPED_TRACE("exe checksum changed: no package sum is computed");
    ui = ScriptedUi();
    state = RunState();
    state.ProgramPath = program_path;
    MakeProgram(Recipe(), {kDisk1});
    std::vector<uint8_t> bytes = ReadFileBytes(program_path);
    PeLayout layout;
    std::string error;
    ASSERT_TRUE(ParsePeStub(bytes, layout, error)) << error;
    PatchProgram(layout.checksum_offset, bytes[layout.checksum_offset] ^ 1);
    EXPECT_EQ(Run(), ProgramOutcome::kRefused);
    EXPECT_TRUE(ui.ControlTexts(kControlExeCheckResult).empty());
    EXPECT_EQ(state.PackageChecksum, 0u);
    EXPECT_EQ(ui.MessageIds(), std::vector<int>{kMsgAuthFailed});
    EXPECT_TRUE(TempLeftovers().empty());
  }
  {
    SCOPED_TRACE("a file without a package is refused like a damaged one");
    ui = ScriptedUi();
    state = RunState();
    state.ProgramPath = program_path;
    WriteFileBytes(program_path, MinimalPeStub());
    EXPECT_EQ(Run(), ProgramOutcome::kRefused);
    EXPECT_EQ(ui.MessageIds(), std::vector<int>{kMsgAuthFailed});
    EXPECT_FALSE(ui.MainWindow());
    EXPECT_TRUE(TempLeftovers().empty());
  }
  for (const std::string& temp : {root / "missing", root / std::string(250, 't')}) {
    SCOPED_TRACE("temporary directory missing or too long: said, not blamed on the file");
    ui = ScriptedUi();
    state = RunState();
    state.ProgramPath = program_path;
    std::filesystem::create_directories(root / std::string(250, 't'));
    host.SetTempDirectory(temp);
    MakeProgram(Recipe(), {kDisk1});
    EXPECT_EQ(Run(), ProgramOutcome::kRefused);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.LastMessage().text.find("cannot create its temporary directory in \"" + temp),
              std::string::npos);
    EXPECT_TRUE(ui.WorkDialogs().empty());
    host.SetTempDirectory(temp_dir);
  }
  {
    SCOPED_TRACE("no room in the temporary directory");
    ui = ScriptedUi();
    state = RunState();
    state.ProgramPath = program_path;
    MakeProgram(Recipe(), {kDisk1});
    host.SetFreeBytes(100);
    EXPECT_EQ(Run(), ProgramOutcome::kRefused);
    EXPECT_EQ(ui.MessageIds(), std::vector<int>{kMsgNoTempSpace});
    EXPECT_TRUE(ui.WorkDialogs().empty());
    EXPECT_TRUE(TempLeftovers().empty());
  }
}

// A DiskCount that the archive does not fill, or 0, is refused before any question in every
// mode that needs the images, naming the first missing one.
TEST_F(ProgramTest, DiskCountBeyondTheArchiveIsRefusedBeforeAnyQuestion) {
  for (const uint16_t count : {uint16_t{3}, uint16_t{0}}) {
    MakeProgram(Recipe(), {kDisk1, kDisk2});
    const std::unique_ptr<File> file = host.OpenForRead(program_path);
    PeFields pe;
    ASSERT_TRUE(file && ReadPeFields(*file, pe));
    PatchProgram(pe.SizeOfImage + 22, static_cast<uint8_t>(count));
    for (const std::string switches : {"", "/F", "/C:3", "/D", "/E", "/S", "/L", "/P"}) {
      SCOPED_TRACE(std::to_string(count) + " disks, switches " + switches);
      ui = ScriptedUi();
      state = RunState();
      state.ProgramPath = program_path;
      const ProgramOutcome outcome = Run(switches);
      if (switches == "/P") {
        EXPECT_EQ(outcome, ProgramOutcome::kDone);
        continue;
      }
      if (count == 0 && switches == "/C:3") continue;  // refused as a bad disk number
      EXPECT_EQ(outcome, ProgramOutcome::kRefused);
      ASSERT_EQ(ui.Messages().size(), 1u);
      EXPECT_NE(ui.LastMessage().text.find(count ? "disk image 3 (image02.tii) is not in"
                                                 : "DiskCount is 0"),
                std::string::npos);
      EXPECT_FALSE(ui.MainWindow());
      EXPECT_TRUE(Entries(floppy_dir).empty());
    }
  }
}

TEST_F(ProgramTest, HelpAndBadSwitchesStopBeforeTheChecks) {
  MakeProgram(Recipe(), {kDisk1});
  EXPECT_EQ(Run("/?"), ProgramOutcome::kStopped);
  EXPECT_EQ(ui.HelpShown(), 1);
  EXPECT_EQ(Run("/Q"), ProgramOutcome::kStopped);
  EXPECT_EQ(ui.MessageIds(), std::vector<int>{kMsgUnknownSwitch});
  EXPECT_TRUE(ui.WorkDialogs().empty());
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(ProgramTest, DialogStyleChoosesExtractionDialogAndMainWindow) {
  const struct {
    uint32_t style;
    int extraction, main_window;
  } cases[] = {{0, kDialogPlainExtraction, kDialogPlainProgress},
               {1, kDialogBannerExtraction, kDialogBannerProgress},
               {2, kDialogBannerExtraction, kDialogPlainProgress}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.style);
    const size_t sleeps_before = host.Sleeps().size();
    ui = ScriptedUi();
    state = RunState();
    state.ProgramPath = program_path;
    PackageRecipe recipe = Recipe();
    recipe.header.DialogStyle = c.style;
    MakeProgram(recipe, {kDisk1, kDisk2});
    ui.Expect(kMsgConfirmDisks, Answer::kCancel).Expect(kMsgUnpackInstead, Answer::kNo);
    EXPECT_EQ(Run(), ProgramOutcome::kCancelled);
    EXPECT_EQ(ui.WorkDialogs(), (std::vector<int>{kDialogAuthenticity, c.extraction}));
    EXPECT_EQ(ui.WorkDialogResults(), (std::vector<int>{1, 1}));
    EXPECT_EQ(ui.MainWindow(), c.main_window);
    EXPECT_EQ(ui.ControlTexts(kControlExeCheckResult), std::vector<std::string>{"OK"});
    EXPECT_EQ(ui.ControlTexts(kControlPackageCheckResult), std::vector<std::string>{"OK"});
    EXPECT_EQ(std::vector<unsigned>(host.Sleeps().begin() + sleeps_before, host.Sleeps().end()),
              std::vector<unsigned>{1000});
    EXPECT_TRUE(TempLeftovers().empty());
  }
}

TEST_F(ProgramTest, ConfirmationNamesOneDiskWith504AndSeveralWith503) {
  MakeProgram(Recipe(), {kDisk1});
  ui.Expect(kMsgConfirmDisk, Answer::kCancel).Expect(kMsgUnpackInstead, Answer::kNo);
  Run();
  MessageRequest m = ui.Messages().front();
  EXPECT_EQ(m.text,
            "This program creates the \"Demo Product\" floppy disk.\n\nYou will need one High "
            "Density 3.5\" / 1.44MB floppy disk.\n\nWARNING! All data on this disk will be "
            "overwritten.\nPress OK to proceed or Cancel to abort floppy creation.");
  EXPECT_EQ(m.buttons, Buttons::kOkCancel);
  EXPECT_EQ(m.icon, Icon::kInformation);
  EXPECT_EQ(m.owner, Owner::kMainWindow);
  const MessageRequest unpack = ui.Messages().back();
  EXPECT_EQ(unpack.buttons, Buttons::kYesNo);
  EXPECT_EQ(unpack.icon, Icon::kQuestion);
  EXPECT_EQ(unpack.owner, Owner::kMainWindow);

  ui = ScriptedUi();
  MakeProgram(Recipe(), {kDisk1, kDisk2, kDisk2});
  ui.Expect(kMsgConfirmDisks, Answer::kCancel).Expect(kMsgUnpackInstead, Answer::kNo);
  Run();
  EXPECT_NE(ui.Messages().front().text.find("\"Demo Product\" floppy disks.\n\nYou will need 3 "),
            std::string::npos);
}

TEST_F(ProgramTest, BootDiskCancelEndsWithoutUnpackQuestionButShowsFinalMessage) {
  PackageRecipe recipe = Recipe();
  recipe.header.BootDisk = 1;
  recipe.final_message = "Thank you for choosing Demo.";
  MakeProgram(recipe, {kDisk1});
  ui.Expect(kMsgConfirmDisk, Answer::kCancel);
  EXPECT_EQ(Run(), ProgramOutcome::kCancelled);
  EXPECT_EQ(ui.MessageIds(), (std::vector<int>{kMsgConfirmDisk, 0}));
  const MessageRequest m = ui.LastMessage();
  EXPECT_EQ(m.text, "Thank you for choosing Demo.");
  EXPECT_EQ(m.caption, "SETUP");
  EXPECT_EQ(m.icon, Icon::kInformation);
  EXPECT_EQ(m.owner, Owner::kNone);
}

TEST_F(ProgramTest, UnpackInsteadOfFloppiesLeavesCompletionTextForTheEnd) {
  MakeProgram(Recipe(), {kDisk1, kDisk2});
  const std::string destination = root / "out";
  ui.Expect(kMsgConfirmDisks, Answer::kCancel).Expect(kMsgUnpackInstead, Answer::kYes);
  ui.Expect(kMsgCreateDirectory, Answer::kYes);
  ui.TypeDestinations({destination});
  EXPECT_EQ(Run(), ProgramOutcome::kDone) << ui.Transcript();
  EXPECT_EQ(ui.PendingAnswers(), 0u);
  EXPECT_EQ(Entries(destination), (std::vector<std::string>{"disk1", "disk2"}));
  EXPECT_EQ(Entries(destination + "/disk1"), (std::vector<std::string>{"README.TXT", "SETUP.EXE"}));
  EXPECT_EQ(ui.LastMessage().text,
            "Congratulations! All disks are successfully unpacked in " + destination +
                "/. For install \"Demo Product\" please run SETUP.EXE from " + destination +
                "/disk1\\.");
  EXPECT_EQ(ui.LastMessage().owner, Owner::kNone);
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(ProgramTest, FinalMessageReplacesTheCompletionText) {
  PackageRecipe recipe = Recipe();
  recipe.header.UnpackMode = 1;
  recipe.final_message = "Run SETUP from the disk1 directory.";
  MakeProgram(recipe, {kDisk1});
  ui.TypeDestinations({root.path()});
  EXPECT_EQ(Run("/D"), ProgramOutcome::kDone);
  EXPECT_FALSE(state.CompletionMessage.empty());
  EXPECT_EQ(ui.MessageIds(), std::vector<int>{0});
  EXPECT_EQ(ui.LastMessage().text, "Run SETUP from the disk1 directory.");
}

TEST_F(ProgramTest, SingleDiskSkipsTheConfirmationAndWritesOnlyThatDisk) {
  MakeProgram(Recipe(), {kDisk1, kDisk2, kDisk2});
  ui.Expect(kMsgInsertDisk, Answer::kOk);
  EXPECT_EQ(Run("/C:2"), ProgramOutcome::kDone) << ui.Transcript();
  EXPECT_EQ(ui.MainWindow(), kDialogPlainProgress);
  EXPECT_EQ(ui.MessageIds().front(), kMsgInsertDisk);
  EXPECT_EQ(Entries(floppy_dir), std::vector<std::string>{"disk2.img"});
  EXPECT_EQ(ui.LastMessage().text,
            "Congratulations! \"Demo Product Disk 2/3\" successfully created.");
}

TEST_F(ProgramTest, SingleDiskWithListIsAReport) {
  MakeProgram(Recipe(), {kDisk1, kDisk2});
  EXPECT_EQ(Run("/C:2 /L"), ProgramOutcome::kDone);
  EXPECT_EQ(ui.MainWindow(), kDialogReport);
  EXPECT_TRUE(ui.Messages().empty());
  EXPECT_NE(ui.ReportText().find("Image 2:\r\n"), std::string::npos);
  EXPECT_TRUE(Entries(floppy_dir).empty());
}

TEST_F(ProgramTest, SilentModeWritesFloppiesEvenForAnUnpackPackage) {
  MakeProgram(Recipe(), {kDisk1, kDisk2});
  ui.SetDefaultAnswer(Answer::kOk);  // the insert prompts are shown in silent mode too
  state.SelectedFloppyDrive = 3;
  EXPECT_EQ(Run("/D /S"), ProgramOutcome::kDone) << ui.Transcript();
  EXPECT_EQ(state.SelectedFloppyDrive, 0);
  EXPECT_EQ(ui.DestinationDialogsShown(), 0);
  EXPECT_EQ(Entries(floppy_dir), (std::vector<std::string>{"disk1.img", "disk2.img"}));
  EXPECT_EQ(ui.MessageIds(), (std::vector<int>{kMsgInsertDisk, kMsgInsertDisk}));
}

TEST_F(ProgramTest, MainWindowFailureSkipsAutostartAndFinalMessage) {
  PackageRecipe recipe = Recipe();
  recipe.final_message = "bye";
  MakeProgram(recipe, {kDisk1});
  ui.FailMainWindow();
  EXPECT_EQ(Run("/E"), ProgramOutcome::kFailed);
  ASSERT_EQ(ui.Messages().size(), 1u);
  const MessageRequest m = ui.LastMessage();
  EXPECT_EQ(m.text, "Unable to create dialog");
  EXPECT_EQ(m.caption, "SETUP");
  EXPECT_EQ(m.icon, Icon::kNone);
  EXPECT_EQ(m.owner, Owner::kNone);
  EXPECT_TRUE(host.ProcessRuns().empty());
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(ProgramTest, AutostartRunsTheInstallerFromDisk1ThenDeletesTheSet) {
  MakeUnpackProgram("SETUP.EXE");
  state.InstallerRunner = "wine";
  std::string run_directory;
  host.ScriptProcess([&](const ProcessRun& run) -> std::optional<int> {
    run_directory = run.working_directory;
    EXPECT_TRUE(IsFile(run.working_directory + "SETUP.EXE"));
    EXPECT_TRUE(IsFile(run.working_directory + "../disk2/DATA.BIN"));
    EXPECT_EQ(ui.StartNoticesShown(), 1) << "the notice is up before the installer starts";
    return 0;
  });
  EXPECT_EQ(Run("/W"), ProgramOutcome::kDone) << ui.Transcript();
  ASSERT_EQ(host.ProcessRuns().size(), 1u);
  EXPECT_EQ(host.ProcessRuns()[0].program, "wine");
  EXPECT_EQ(host.ProcessRuns()[0].arguments, std::vector<std::string>{run_directory + "SETUP.EXE"});
  EXPECT_EQ(run_directory.rfind(temp_dir + "/TII", 0), 0u) << run_directory;
  EXPECT_EQ(run_directory.substr(run_directory.size() - 7), "/disk1/");
  EXPECT_EQ(ui.DestinationDialogsShown(), 0);
  EXPECT_TRUE(ui.Messages().empty()) << "autostart leaves no completion text";
  EXPECT_TRUE(TempLeftovers().empty()) << "workspace and unpacked set are gone";
}

TEST_F(ProgramTest, AutostartPackageInReportOrSilentModeStartsAndDeletesNothing) {
  MakeUnpackProgram("SETUP.EXE");
  EXPECT_EQ(Run("/P"), ProgramOutcome::kDone);
  ui.SetDefaultAnswer(Answer::kOk);
  Run("/S");
  EXPECT_EQ(ui.DestinationDialogsShown(), 0);
  EXPECT_TRUE(host.ProcessRuns().empty());
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(ProgramTest, ForcedAutostartWithoutInstallerAsksForADestination) {
  MakeUnpackProgram("", 0);
  EXPECT_EQ(Run("/E"), ProgramOutcome::kCancelled);
  EXPECT_EQ(ui.DestinationDialogsShown(), 1);
  EXPECT_TRUE(host.ProcessRuns().empty());
}

TEST_F(ProgramTest, NoSpaceAtTheDestinationStopsAutostart) {
  MakeUnpackProgram("SETUP.EXE");
  host.SetVolumeRootFor(temp_dir + "/TII", "/set-volume");  // not the temp dir itself
  host.SetFreeBytes("/set-volume", 10);
  EXPECT_EQ(Run(), ProgramOutcome::kFailed) << ui.Transcript();
  EXPECT_EQ(ui.MessageIds(), std::vector<int>{kMsgNoDestinationSpace});
  EXPECT_EQ(state.UnpackFailed, 1);
  EXPECT_TRUE(host.ProcessRuns().empty());
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(ProgramTest, ImageThatCannotBeExtractedLeavesTheRunGoingButFails) {
  MakeProgram(Recipe(), {kDisk1, kDisk2});
  host.FailCreateNamed("image01.tii");
  EXPECT_EQ(Run("/L"), ProgramOutcome::kFailed);
  EXPECT_TRUE(ui.Messages().empty());
  const std::string text = ui.ReportText();
  EXPECT_NE(text.find("SETUP.EXE\r\n\r\nImage 2:\r\n="), std::string::npos) << text;
  EXPECT_TRUE(TempLeftovers().empty());
}

// A damaged image is neither unpacked in part nor started from: the run says why and fails.
TEST_F(ProgramTest, FailedExtractionUnpacksAndStartsNothing) {
  MakeUnpackProgram("SETUP.EXE");
  state.InstallerRunner = "wine";
  host.FailCreateNamed("image01.tii");
  EXPECT_EQ(Run(), ProgramOutcome::kFailed) << ui.Transcript();
  EXPECT_TRUE(host.ProcessRuns().empty());
  ASSERT_EQ(ui.Messages().size(), 1u) << ui.Transcript();
  EXPECT_NE(ui.LastMessage().text.find("Nothing was unpacked"), std::string::npos);
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(ProgramTest, ReportModePassesBothDialogsFirst) {
  MakeProgram(Recipe(), {kDisk1});
  EXPECT_EQ(Run("/A"), ProgramOutcome::kDone);
  EXPECT_EQ(ui.WorkDialogs(), (std::vector<int>{kDialogAuthenticity, kDialogPlainExtraction}));
  EXPECT_EQ(ui.MainWindow(), kDialogReport);
  EXPECT_EQ(ui.ReportText(),
            "Package processing:\r\n"
            "=========================================================\r\n"
            "Executable file authenticity  : OK\r\n"
            "Embedded package authenticity : OK\r\n"
            "=========================================================\r\n");
  EXPECT_TRUE(TempLeftovers().empty());
}

}  // namespace
}  // namespace floppyset::testing
