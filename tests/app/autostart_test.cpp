#include "app/autostart.h"

#include "app_fixture.h"

namespace floppyset::testing {
namespace {

// An unpacked autostart set of `disks` directories below root/set/.
void MakeSet(App& app, int disks, bool hidden) {
  RunState& state = app.state;
  state.Header.UnpackMode = state.Header.AutostartMode = 1;
  state.Header.InstallerNameLength = 9;
  state.InstallerName = "SETUP.EXE";
  state.Header.DiskCount = static_cast<uint16_t>(disks);
  state.DestinationDir = app.root / "set/";
  for (int k = 1; k <= disks; ++k) {
    const std::string disk = "disk" + std::to_string(k) + "/";
    WriteTree(state.DestinationDir, {{disk + "FILE.TXT", "x"}});
    if (hidden) WriteTree(state.DestinationDir, {{disk + ".hidden", "h"}});
  }
  WriteTree(state.DestinationDir, {{"disk1/Setup.exe", "MZ"}});
}

// The installer starts in disk1; then the whole set goes, started or not, with its dot files
// and subdirectories: it is the run's own temporary directory.
TEST(Autostart, SetIsRemovedAfterTheStart) {
  const struct {
    bool hidden, sub, start_fails;
  } cases[] = {{true, false, false}, {false, true, true}, {false, false, false}};
  for (const auto& c : cases) {
    App app;
    MakeSet(app, 3, c.hidden);
    if (c.sub) WriteTree(app.state.DestinationDir, {{"disk2/SUB/KEEP.TXT", "k"}});
    if (c.start_fails) app.host.ScriptProcess([](const ProcessRun&) { return std::nullopt; });
    const RunOutcome outcome = RunAutostart(app.state, app.host, app.ui, {});
    ASSERT_EQ(app.host.ProcessRuns().size(), 1u);
    EXPECT_EQ(app.host.ProcessRuns()[0].working_directory, app.root / "set/disk1/");
    EXPECT_EQ(outcome.ending == RunEnding::kFailed, c.start_fails);
    EXPECT_TRUE(!c.start_fails || Has(app.ui.LastMessage().text, "could not be started"));
    EXPECT_FALSE(fs::exists(app.root / "set"));
  }
  App app;  // without a destination or an installer nothing starts and nothing goes
  MakeSet(app, 1, false);
  RunState no_destination = app.state, no_installer = app.state;
  no_destination.DestinationDir.clear();
  no_installer.Header.InstallerNameLength = 0;
  RunAutostart(no_destination, app.host, app.ui, {});
  RunAutostart(no_installer, app.host, app.ui, {});
  EXPECT_TRUE(app.host.ProcessRuns().empty());
  EXPECT_TRUE(fs::is_regular_file(app.root / "set/disk1/FILE.TXT"));
}

// Only the set's own installer is ever started: the first word of InstallerName names a file
// of disk1 (in any case), never a program of the host nor a directory; a runner gets its full
// path.
TEST(Autostart, OnlyTheSetsOwnInstallerIsStarted) {
  const struct {
    std::string installer, runner;
    bool needs_runner;
    std::vector<std::string> run;  // program and arguments; "@" stands for disk1's path
  } cases[] = {
      {"setup.exe", "", false, {"@Setup.exe"}},
      {"SETUP.EXE /Q  /R", "wine --quiet", true, {"wine", "--quiet", "@Setup.exe", "/Q", "/R"}},
      {"id", "", false, {}},
      {"../set/disk1/Setup.exe", "", false, {}},
      {"SUB", "", false, {}},
      {"SETUP.EXE", "", true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.installer);
    App app;
    MakeSet(app, 1, false);
    WriteTree(app.state.DestinationDir, {{"disk1/SUB/A", "a"}});
    app.state.InstallerName = c.installer;
    app.state.InstallerRunner = c.runner;
    app.state.InstallerNeedsRunner = c.needs_runner;
    const RunOutcome outcome = RunAutostart(app.state, app.host, app.ui, {});
    EXPECT_EQ(outcome.ending == RunEnding::kFailed, c.run.empty());
    std::vector<std::string> run, got;
    for (const std::string& a : c.run) {
      run.push_back(a[0] == '@' ? app.root / "set/disk1/" + a.substr(1) : a);
    }
    for (const ProcessRun& r : app.host.ProcessRuns()) {
      got = r.arguments, got.insert(got.begin(), r.program);
    }
    EXPECT_EQ(got, run);
    const bool no_runner = c.needs_runner && c.runner.empty();
    EXPECT_TRUE(!run.empty() ||
                Has(app.ui.LastMessage().text, no_runner ? "FLOPPYSET_RUNNER" : "not in the set"));
  }
}

}  // namespace
}  // namespace floppyset::testing
