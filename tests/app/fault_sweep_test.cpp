// Every writing run (/D, /F onto image files, --images, /E), once per file operation with that
// operation failing (a refusal, then a full disk), as SQLite sweeps its system calls: the run never
// claims a success that is not whole on disk, leaves no partial file under a final name and no
// workspace, and names the failure it ends with.
#include <map>
#include <set>

#include "app_fixture.h"
#include "floppy/image_file_drive.h"
#include "ui/messages.h"

namespace floppyset::testing {
namespace {

const std::vector<DiskFiles> kDisks = {
    {{"SETUP.EXE", "installer"}, {"SUB/README.TXT", std::string(5000, 'r')}},
    {{"DATA.BIN", std::string(70000, 'd')}}};

struct Mode {
  const char* name;
  std::string switches;
  bool flat;     // an unpack set
  bool export_;  // the intact images copied out after extraction (--images)
  // What must be on disk after the run: every file present is whole (all of them when
  // `done`). Failures of the check are reported by gtest.
  std::function<void(App&, bool done)> check;
};

// Files below `dir` that are not the files of `disks` in disk<n>/, byte for byte.
void CheckUnpacked(const std::string& dir, bool done) {
  size_t whole = 0, expected = 0;
  for (size_t disk = 0; disk < kDisks.size(); ++disk) {
    for (const auto& [path, content] : kDisks[disk]) {
      ++expected;
      const std::string file = dir + "/disk" + std::to_string(disk + 1) + "/" + path;
      if (!fs::exists(file)) continue;
      EXPECT_EQ(ReadFileText(file), content) << file << " is not whole";
      ++whole;
    }
  }
  EXPECT_TRUE(!done || whole == expected) << "done without every file";
}

// The disk files in `dir` are the images of kDisks, laid out as on a floppy or as built.
void CheckImageFiles(App& app, const std::string& dir, bool full_size, bool done) {
  for (size_t disk = 0; disk < kDisks.size(); ++disk) {
    const std::string file = dir + "/disk" + std::to_string(disk + 1) + ".img";
    if (!fs::exists(file)) {
      EXPECT_FALSE(done) << file << " is missing";
      continue;
    }
    static std::map<size_t, Bytes> images;  // built once: the sweep runs hundreds of times
    if (!images.count(disk)) images[disk] = BuildImage(app.root / "scratch", kDisks[disk], false);
    Bytes expected = images[disk];
    if (full_size) expected.resize(kFloppyDiskBytes);
    EXPECT_TRUE(ReadFileBytes(file) == expected) << file << " is not whole";
  }
}

const Mode kModes[] = {
    {"unpack", "/D", false, false,
     [](App& app, bool done) { CheckUnpacked(app.root / "out", done); }},
    {"floppies", "/F", false, false,
     [](App& app, bool done) { CheckImageFiles(app, app.floppy_dir, true, done); }},
    {"images", "/P", false, true,
     [](App& app, bool done) { CheckImageFiles(app, app.root / "images", false, done); }},
    {"autostart", "/E", true, false,
     // The installer checks the set it was started on (RunMode).
     [](App& app, bool done) { EXPECT_EQ(app.host.ProcessRuns().size(), done ? 1u : 0u); }},
};

struct Ending {
  bool done;
  std::string reason;  // of a run that is not done
};

Ending RunMode(App& app, const Mode& mode, uint64_t fail_at, OperationFault fault) {
  static std::map<bool, Bytes> programs;
  if (!programs.count(mode.flat)) {
    PackageRecipe recipe = DemoRecipe();
    recipe.header.UnpackMode = recipe.header.AutostartMode = mode.flat ? 1 : 0;
    app.MakeProgram(recipe, kDisks);
    programs[mode.flat] = ReadFileBytes(app.program_path);
  }
  WriteFileBytes(app.program_path, programs[mode.flat]);
  fs::create_directories(app.root / "out");
  app.ui.TypeDestinations({app.root / "out"});
  app.ui.SetDefaultAnswer(Answer::kOk);  // OK to every notice: No and Cancel to the rest
  ImageExport exported;
  app.ui.AfterWorkDialog([&](int dialog) {
    if (!mode.export_ || (dialog != kDialogBannerExtraction && dialog != kDialogPlainExtraction)) {
      return;
    }
    exported =
        ExportIntactImages(app.host, app.state.WorkspaceDir, app.state.Images, app.root / "images");
  });
  app.state.InstallerRunner = "wine";
  bool installer_saw_whole_set = false;
  app.host.ScriptProcess([&](const ProcessRun& run) -> std::optional<int> {
    CheckUnpacked(run.working_directory + "..", true);
    installer_saw_whole_set = !::testing::Test::HasFailure();
    return 0;
  });
  app.host.FailOperation(fail_at, fault);
  const RunOutcome outcome =
      RunProgram(app.state, app.host, app.ui, app.drives, app.program_path + " " + mode.switches);
  EXPECT_TRUE(app.host.ProcessRuns().empty() || installer_saw_whole_set);
  if (outcome.ending != RunEnding::kDone) return {false, outcome.reason};
  if (!mode.export_ || exported.written == kDisks.size()) return {true, ""};
  // The images that were not exported: those that failed, or those lost before.
  return {false, exported.failures.empty() ? DescribeSetDamage(app.state.Images)
                                           : exported.failures.front()};
}

void PrintTo(const Mode& mode, std::ostream* out) { *out << mode.name; }

class FaultSweep : public ::testing::TestWithParam<Mode> {};

TEST_P(FaultSweep, NoFailingOperationEndsInAFalseSuccessOrLeavesHalfFiles) {
  const Mode& mode = GetParam();
  std::vector<std::string> log;
  {
    App app;
    const Ending ending = RunMode(app, mode, 0, OperationFault::kNoSpace);
    ASSERT_TRUE(ending.done) << mode.name << ": " << ending.reason;
    mode.check(app, true);
    EXPECT_TRUE(Entries(app.temp_dir).empty()) << mode.name << ": the workspace was left";
    log = app.host.OperationLog();
  }
  // Every operation fails once as refused; a write, which alone puts down part of its data
  // on a full disk, once more as a full disk.
  for (size_t i = 0; i < log.size(); ++i) {
    const bool write = log[i].rfind("write ", 0) == 0;
    for (const OperationFault fault : {OperationFault::kNoAccess, OperationFault::kNoSpace}) {
      if (fault == OperationFault::kNoSpace && !write) continue;
      App app;
      const Ending ending = RunMode(app, mode, i + 1, fault);
      SCOPED_TRACE(std::string(mode.name) + ": " + app.host.failed_operation() +
                   (fault == OperationFault::kNoSpace ? " (no space)" : " (no access)") + " -> " +
                   ending.reason);
      mode.check(app, ending.done);
      EXPECT_TRUE(ending.done || !ending.reason.empty()) << "the failure is not named";
      EXPECT_TRUE(Entries(app.temp_dir).empty()) << "the workspace was left";
      if (::testing::Test::HasFailure()) return;  // one operation's story is enough
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryWritingMode, FaultSweep, ::testing::ValuesIn(kModes),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace floppyset::testing
