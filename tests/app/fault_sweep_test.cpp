// Every writing run, once per file operation with that operation failing (a full disk, then a
// refusal), as SQLite sweeps its system calls: the run never claims a success that is not
// whole on disk, leaves no partial file under a final name and no workspace, and names the
// failure it ends with.
#include <map>
#include <set>

#include "app_fixture.h"
#include "ui/messages.h"

namespace floppyset::testing {
namespace {

const std::vector<DiskFiles> kDisks = {
    {{"SETUP.EXE", "installer"}, {"SUB/README.TXT", std::string(5000, 'r')}},
    {{"DATA.BIN", std::string(70000, 'd')}}};

struct Mode {
  const char* name;
  std::string switches;
  bool flat;  // an unpack set
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

void CheckFloppies(App& app, bool done) {
  for (size_t disk = 0; disk < kDisks.size(); ++disk) {
    const std::string file = app.floppy_dir + "/disk" + std::to_string(disk + 1) + ".img";
    if (!fs::exists(file)) {
      EXPECT_FALSE(done) << file << " is missing";
      continue;
    }
    static std::map<size_t, Bytes> images;  // built once: the sweep runs hundreds of times
    if (!images.count(disk)) {
      images[disk] = BuildImage(app.root / "scratch", kDisks[disk], false);
      images[disk].resize(kFloppyDiskBytes);
    }
    EXPECT_TRUE(ReadFileBytes(file) == images[disk]) << file << " is not whole";
  }
}

const Mode kModes[] = {
    {"unpack", "/D", false, [](App& app, bool done) { CheckUnpacked(app.root / "out", done); }},
    {"floppies", "/F", false, CheckFloppies},
    {"autostart", "/E", true,
     // The installer checks the set it was started on (RunMode).
     [](App& app, bool done) { EXPECT_EQ(app.host.ProcessRuns().size(), done ? 1u : 0u); }},
};

RunOutcome RunMode(App& app, const Mode& mode, uint64_t fail_at, OperationFault fault) {
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
  app.state.InstallerRunner = "wine";
  bool installer_saw_whole_set = false;
  app.host.ScriptProcess([&](const ProcessRun& run) -> std::optional<int> {
    CheckUnpacked(run.working_directory + "..", true);
    installer_saw_whole_set = !::testing::Test::HasFailure();
    return 0;
  });
  app.host.FailOperation(fail_at, fault);
  RunOutcome outcome =
      RunProgram(app.state, app.host, app.ui, app.drives, app.program_path + " " + mode.switches);
  EXPECT_TRUE(app.host.ProcessRuns().empty() || installer_saw_whole_set);
  return outcome;
}

TEST(FaultSweep, NoFailingOperationEndsInAFalseSuccessOrLeavesHalfFiles) {
  for (const Mode& mode : kModes) {
    std::vector<std::string> log;
    {
      App app;
      const RunOutcome outcome = RunMode(app, mode, 0, OperationFault::kNoSpace);
      ASSERT_EQ(outcome.ending, RunEnding::kDone) << mode.name << ": " << outcome.reason;
      mode.check(app, true);
      EXPECT_TRUE(Entries(app.temp_dir).empty()) << mode.name << ": the workspace was left";
      log = app.host.OperationLog();
    }
    // Reads and writes of a file repeat, interleaved with those of another: the first and the
    // last of each operation on each file. Only a write fails differently on a full disk (it
    // puts down part of its data).
    std::map<std::string, std::pair<size_t, size_t>> spans;
    for (size_t i = 0; i < log.size(); ++i) {
      spans.try_emplace(log[i], i, i).first->second.second = i;
    }
    std::set<size_t> picked;
    for (const auto& [operation, span] : spans) picked.insert({span.first, span.second});
    for (const size_t i : picked) {
      const bool write = log[i].rfind("write ", 0) == 0;
      for (const OperationFault fault : {OperationFault::kNoAccess, OperationFault::kNoSpace}) {
        if (fault == OperationFault::kNoSpace && !write) continue;
        const uint64_t n = i + 1;
        App app;
        const RunOutcome outcome = RunMode(app, mode, n, fault);
        SCOPED_TRACE(std::string(mode.name) + ": " + app.host.failed_operation() +
                     (fault == OperationFault::kNoSpace ? " (no space)" : " (no access)") + " -> " +
                     outcome.reason);
        const bool done = outcome.ending == RunEnding::kDone;
        mode.check(app, done);
        EXPECT_TRUE(done || !outcome.reason.empty()) << "the failure is not named";
        EXPECT_TRUE(Entries(app.temp_dir).empty()) << "the workspace was left";
        if (::testing::Test::HasFailure()) return;  // one operation's story is enough
      }
    }
  }
}

}  // namespace
}  // namespace floppyset::testing
