#include "app/program.h"

#include "app_fixture.h"
#include "ui/messages.h"

namespace floppyset::testing {
namespace {

const DiskFiles kDisk1 = {{"SETUP.EXE", "installer"}, {"README.TXT", "hello"}};
const DiskFiles kDisk2 = {{"DATA.BIN", std::string(3000, 'x')}};

void Patch(App& app, size_t offset, uint8_t value) {
  std::vector<uint8_t> bytes = ReadFileBytes(app.program_path);
  ASSERT_LT(offset, bytes.size());
  bytes[offset] = value;
  WriteFileBytes(app.program_path, bytes);
}

// Whole runs, start-up refusals among them: what the user is asked and told, what is written
// and started, and that the workspace is gone at the end.
TEST(Program, RunsEndAsTheirPackageAndSwitchesSay) {
  using R = PackageRecipe;
  using O = RunEnding;
  const auto unpack = [](App&, R& r) { r.header.UnpackMode = r.header.AutostartMode = 1; };
  const std::vector<std::string> both{"disk1.img", "disk2.img"};
  const auto style = [](uint32_t style, int confirmation) {
    return [=](App& a, R& r) {
      r.header.DialogStyle = style;
      a.ui.Expect(confirmation, Answer::kCancel).Expect(kMsgUnpackInstead, Answer::kNo);
    };
  };
  const std::string refused = "failed authenticity check!";
  const std::string no_temp = "cannot create its temporary directory in \"";
  const auto count = [](uint8_t n) {
    return [=](App& a, R& r) {
      a.MakeProgram(r, {kDisk1, kDisk2});
      Patch(a, PackageOffset(ReadFileBytes(a.program_path)) + 22, n);
    };
  };
  const auto confirm = [](int id) { return std::vector<int>{id, kMsgUnpackInstead}; };
  const struct {
    const char* name;
    int disks;
    std::function<void(App&, R&)> setup;
    std::string switches;
    O outcome;
    std::vector<int> ids;
    std::string said;  // in a message or the report
    std::vector<std::string> floppies;
    size_t runs = 0;
    std::vector<int> windows = {};  // extraction dialog and main window, when checked
  } cases[] = {
      // clang-format off
      {"boot disk: no unpack question, the final message", 1, [](App& a, R& r) {
         r.header.BootDisk = 1, r.final_message = "Thanks.";
         a.ui.Expect(kMsgConfirmDisk, Answer::kCancel); },
       "", O::kCancelled, {kMsgConfirmDisk, 0}, "Thanks.", {}},
      {"unpack instead of floppies", 2, [](App& a, R&) {
         a.ui.Expect(kMsgConfirmDisks, Answer::kCancel).Expect(kMsgUnpackInstead, Answer::kYes);
         a.ui.Expect(kMsgCreateDirectory, Answer::kYes).TypeDestinations({a.root / "out"}); },
       "", O::kDone, {kMsgConfirmDisks, kMsgUnpackInstead, kMsgCreateDirectory, 0},
       "/out/. For install \"Demo Product\" please run SETUP.EXE from ", {}},
      {"the final message replaces the completion text", 1, [](App& a, R& r) {
         r.header.UnpackMode = 1, r.final_message = "Run SETUP.";
         a.ui.TypeDestinations({a.root.path()}); },
       "/D", O::kDone, {0}, "Run SETUP.", {}},
      {"one disk of three, no confirmation", 3, [](App& a, R&) {
         a.ui.Expect(kMsgInsertDisk, Answer::kOk); },
       "/C:2", O::kDone, {kMsgInsertDisk, 0}, "\"Demo Product Disk 2/3\" successfully",
       {"disk2.img"}},
      {"one disk with a list is a report", 2, [](App&, R&) {},
       "/C:2 /L", O::kDone, {}, "SETUP.EXE\r\n\r\nImage 2:\r\n", {}},
      {"silent mode writes floppies even with /D", 2, [](App& a, R&) {
         a.ui.SetDefaultAnswer(Answer::kOk), a.state.SelectedFloppyDrive = 3; },
       "/D /S", O::kDone, {kMsgInsertDisk, kMsgInsertDisk}, "", both},
      {"autostart in silent mode starts nothing", 2, [&](App& a, R& r) {
         unpack(a, r), a.ui.SetDefaultAnswer(Answer::kOk); },
       "/S", O::kFailed, {0}, "", {}},
      {"no main window: no autostart, no final message", 1, [](App& a, R& r) {
         r.final_message = "bye", a.ui.FailMainWindow(); },
       "/E", O::kFailed, {0}, "Unable to create dialog", {}},
      {"report of an autostart set", 2, unpack,
       "/A", O::kDone, {}, "Embedded package authenticity : OK\r\n", {}},
      {"forced autostart without an installer asks where", 2, [](App&, R& r) {
         r.header.UnpackMode = 1, r.installer_name = ""; },
       "/E", O::kCancelled, {}, "", {}},
      {"no room for the autostart set", 2, [&](App& a, R& r) {
         unpack(a, r);
         a.host.SetVolumeRootFor(a.temp_dir + "/TII", "/set-volume");  // not the temp dir
         a.host.SetFreeBytes("/set-volume", 10); },
       "", O::kFailed, {kMsgNoDestinationSpace}, "", {}},
      {"an image that cannot be extracted fails a report", 2, [](App& a, R&) {
         a.host.FailCreateNamed("image01.tii"); },
       "/L", O::kFailed, {},
       "Image 2:\r\n    *** Disk image 2 (image01.tii) is damaged: its file cannot be created. ***\r\n=", {}},
      {"nor is a damaged set unpacked or started", 2, [&](App& a, R& r) {
         unpack(a, r), a.host.FailCreateNamed("image01.tii"), a.state.InstallerRunner = "wine"; },
       "", O::kFailed, {0}, "Nothing was unpacked", {}},
      {"autostart from the workspace after the notice", 2, [&](App& a, R& r) {
         unpack(a, r), a.state.InstallerRunner = "wine";
         a.host.ScriptProcess([&a](const ProcessRun& run) -> std::optional<int> {
           EXPECT_EQ(run.arguments, std::vector<std::string>{run.working_directory + "SETUP.EXE"});
           EXPECT_TRUE(fs::is_regular_file(run.working_directory + "../disk2/DATA.BIN"));
           EXPECT_EQ(run.working_directory.rfind(a.temp_dir + "/TII", 0), 0u);
           EXPECT_EQ(a.ui.Count(UiEventKind::kStartNotice), 1);
           return 0; }); },
       "/W", O::kDone, {}, "", {}, 1},
      {"style 0", 3, style(0, kMsgConfirmDisks), "", O::kCancelled,
       confirm(kMsgConfirmDisks),
       "\"Demo Product\" floppy disks.\n\nYou will need 3 ", {}, 0,
       {kDialogPlainExtraction, kDialogPlainProgress}},
      {"style 1", 1, style(1, kMsgConfirmDisk), "", O::kCancelled, confirm(kMsgConfirmDisk),
       "the \"Demo Product\" floppy disk.", {}, 0,
       {kDialogBannerExtraction, kDialogBannerProgress}},
      {"style 2", 1, style(2, kMsgConfirmDisk), "", O::kCancelled, confirm(kMsgConfirmDisk),
       "", {}, 0, {kDialogBannerExtraction, kDialogPlainProgress}},
      {"archive changed", 1, [](App& a, R& r) {
         a.MakeProgram(r, {kDisk1}), Patch(a, fs::file_size(a.program_path) - 2, 0x5A); },
       "", O::kRefused, {kMsgAuthFailed}, refused, {}},
      {"exe checksum changed", 1, [](App& a, R& r) {
         a.MakeProgram(r, {kDisk1});
         const Bytes bytes = ReadFileBytes(a.program_path);
         Patch(a, PeChecksumOffset(bytes), bytes[PeChecksumOffset(bytes)] ^ 1); },
       "", O::kRefused, {kMsgAuthFailed}, refused, {}},
      {"temporary directory missing", 1, [](App& a, R&) {
         a.host.SetTempDirectory(a.root / "none"); },
       "", O::kRefused, {0}, no_temp, {}},
      {"temporary directory too long", 1, [](App& a, R&) {
         fs::create_directories(a.root / std::string(250, 't'));
         a.host.SetTempDirectory(a.root / std::string(250, 't')); },
       "", O::kRefused, {0}, no_temp, {}},
      {"no room for the workspace", 1, [](App& a, R&) { a.host.SetFreeBytes(100); },
       "", O::kRefused, {kMsgNoTempSpace}, "", {}},
      // A DiskCount that the archive does not fill gives what is there and fails, the package
      // report too (after showing it); 0 is refused before any question where the images are
      // needed, not for the package report alone.
      {"more disks than images", 2, [&](App& a, R& r) {
         count(3)(a, r), a.ui.Expect(kMsgCreateDirectory, Answer::kYes).TypeDestinations({a.root / "out"}); },
       "/D", O::kFailed, {kMsgCreateDirectory, 0},
       "Disk image 3 (image02.tii) is missing: not in the archive.", {}},
      {"no disks", 2, count(0), "/L", O::kRefused, {0}, "DiskCount is 0", {}},
      {"more disks than images for the file list", 2, count(3), "/C:2 /L", O::kFailed, {},
       "DATA.BIN\r\n\r\nImage 3:\r\n    *** Disk image 3 (image02.tii) is missing", {}},
      {"more disks than images for the package report", 2, count(3), "/P", O::kFailed, {}, "Number of disks               : 3", {}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    App app;
    PackageRecipe recipe = DemoRecipe();
    c.setup(app, recipe);
    std::vector<DiskFiles> disks{kDisk1};
    disks.resize(c.disks, kDisk2);
    if (!fs::exists(app.program_path)) app.MakeProgram(recipe, disks);
    EXPECT_EQ(app.Run(c.switches), c.outcome);
    EXPECT_EQ(app.ui.PendingAnswers(), 0u);
    EXPECT_EQ(app.ui.MessageIds(), c.ids);
    std::string said = app.ui.ReportText();
    for (const MessageRequest& m : app.ui.Messages()) said += m.text + "\n";
    EXPECT_TRUE(Has(said, c.said)) << said;
    const auto windows = app.ui.Field(&UiEvent::id, UiEventKind::kMainWindow);
    if (!c.windows.empty()) {
      EXPECT_EQ(app.ui.Field(&UiEvent::id, UiEventKind::kWorkDialog),
                (std::vector<int>{kDialogAuthenticity, c.windows[0]}));
      EXPECT_EQ(windows, std::vector<int>{c.windows[1]});
    }
    EXPECT_EQ(Entries(app.floppy_dir), c.floppies);
    EXPECT_EQ(app.host.ProcessRuns().size(), c.runs);
    EXPECT_EQ(windows.empty(), c.outcome == O::kRefused);
    EXPECT_TRUE(Entries(app.temp_dir).empty()) << "left in the temporary directory";
  }
}

// Drives that hold the user's disks (the Linux tool's): the warning comes before every run,
// /C:n and /S included, and drives that cannot be written are refused before it.
class RealDrives : public FloppyDrives {
 public:
  RealDrives(FloppyDrives& inner, std::string refusal) : inner_(inner), refusal_(refusal) {}
  bool IsFloppyDrive(uint8_t drive) override { return inner_.IsFloppyDrive(drive); }
  std::string Label(uint8_t drive) override { return inner_.Label(drive); }
  std::unique_ptr<FloppyDevice> MakeDevice(uint8_t drive) override {
    return inner_.MakeDevice(drive);
  }
  void BeginDisk(uint32_t disk) override { inner_.BeginDisk(disk); }
  std::string Refusal() override { return refusal_; }
  bool ConfirmsEveryRun() const override { return true; }

 private:
  FloppyDrives& inner_;
  std::string refusal_;
};

TEST(Program, RealDrivesAreConfirmedEveryRunAndRefusedBeforeTheFirstQuestion) {
  using O = RunEnding;
  const std::string no_floppy = "/dev/sda is not a removable drive";
  const struct {
    std::string switches, refusal;
    Answer confirmed;
    O outcome;
    std::vector<int> ids;
    std::vector<std::string> floppies;
  } cases[] = {
      {"/C:2", "", Answer::kOk, O::kDone, {kMsgConfirmDisks, kMsgInsertDisk, 0}, {"disk2.img"}},
      {"/C:2", "", Answer::kCancel, O::kCancelled, {kMsgConfirmDisks}, {}},
      {"/S",
       "",
       Answer::kOk,
       O::kDone,
       {kMsgConfirmDisks, kMsgInsertDisk, kMsgInsertDisk},
       {"disk1.img", "disk2.img"}},
      {"/S", "", Answer::kCancel, O::kCancelled, {kMsgConfirmDisks}, {}},
      {"", no_floppy, Answer::kOk, O::kRefused, {0}, {}},
      {"/C:1", no_floppy, Answer::kOk, O::kRefused, {0}, {}},
      {"/S", no_floppy, Answer::kOk, O::kRefused, {0}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.switches + " " + c.refusal);
    App app;
    app.MakeProgram(DemoRecipe(), {kDisk1, kDisk2});
    app.ui.SetDefaultAnswer(Answer::kOk);
    if (c.refusal.empty()) app.ui.Expect(kMsgConfirmDisks, c.confirmed);
    RealDrives drives(app.drives, c.refusal);
    EXPECT_EQ(
        RunProgram(app.state, app.host, app.ui, drives, app.program_path + " " + c.switches).ending,
        c.outcome);
    EXPECT_EQ(app.ui.MessageIds(), c.ids);
    EXPECT_TRUE(c.refusal.empty() || Has(app.ui.Messages()[0].text, c.refusal));
    EXPECT_EQ(Entries(app.floppy_dir), c.floppies);
  }
}

// A program without a package (bare, or with zeros behind its image): the setup program blames
// its own file (536); a front end given any file says it is no setup program, also for an /C:n
// that only a header could check. Help and an unknown switch come first, package or not.
TEST(Program, AFileWithoutAPackageIsRefusedAfterHelpAndSwitches) {
  using O = RunEnding;
  const Bytes bare = ProgramImage(0x2000, 0);
  Bytes zeros = bare;
  zeros.resize(bare.size() + 4096);
  const struct {
    bool required;
    const Bytes& program;
    std::string switches;
    O outcome;
    std::vector<int> ids;
    bool help = false;
  } cases[] = {
      {false, bare, "/P", O::kRefused, {kMsgAuthFailed}},
      {true, bare, "/P", O::kRefused, {kMsgNotSetupProgram}},
      {true, zeros, "/L", O::kRefused, {kMsgNotSetupProgram}},
      {true, zeros, "/C:9", O::kRefused, {kMsgNotSetupProgram}},
      {false, bare, "/?", O::kHelp, {}, true},
      {true, zeros, "/P /?", O::kHelp, {}, true},
      {false, bare, "/X", O::kUsage, {kMsgUnknownSwitch}},
      {true, zeros, "/C:0 /X", O::kUsage, {kMsgUnknownSwitch}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.switches + (c.required ? " required" : ""));
    App app;
    app.state.RequirePlausiblePackage = c.required;
    WriteFileBytes(app.program_path, c.program);
    EXPECT_EQ(app.Run(c.switches), c.outcome);
    EXPECT_EQ(app.ui.MessageIds(), c.ids);
    EXPECT_EQ(app.ui.Count(UiEventKind::kHelp), c.help);
    if (c.ids == std::vector<int>{kMsgNotSetupProgram}) {
      EXPECT_EQ(app.ui.LastMessage().text,
                app.program_path +
                    ": not a setup program (no setup package behind its executable image)");
    }
    EXPECT_TRUE(Entries(app.temp_dir).empty()) << "left in the temporary directory";
  }
}

}  // namespace
}  // namespace floppyset::testing
