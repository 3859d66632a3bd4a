#include "app/autostart.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app_fixture.h"

namespace floppyset::testing {
namespace {

class AutostartTest : public AppTest {
 protected:
  // An unpacked autostart set of `disks` directories below root/set/.
  void MakeSet(int disks) {
    state.Header.UnpackMode = 1;
    state.Header.AutostartMode = 1;
    state.Header.InstallerNameLength = 9;
    state.InstallerName = "SETUP.EXE";
    state.Header.DiskCount = static_cast<uint16_t>(disks);
    state.DestinationDir = root / "set/";
    for (int k = 1; k <= disks; ++k) {
      const std::string disk = "disk" + std::to_string(k) + "/";
      WriteTree(state.DestinationDir, {{disk + "FILE.TXT", "x"}, {disk + ".hidden", "h"}});
    }
    WriteTree(state.DestinationDir, {{"disk1/Setup.exe", "MZ"}});
  }
};

TEST_F(AutostartTest, InstallerRunsInDisk1ThenEveryDiskAndTheSetAreRemoved) {
  MakeSet(3);
  RunAutostart(state, host, ui);
  ASSERT_EQ(host.ProcessRuns().size(), 1u);
  EXPECT_EQ(host.ProcessRuns()[0].program, root / "set/disk1/Setup.exe");
  EXPECT_EQ(host.ProcessRuns()[0].working_directory, root / "set/disk1/");
  EXPECT_FALSE(state.RunFailed);
  EXPECT_EQ(ui.StartNoticesShown(), 0);
  EXPECT_TRUE(host.SemaphoreNames().empty());
  // Dot files are skipped as the program does, so the disk directories stay with them.
  EXPECT_EQ(Entries(root / "set"), (std::vector<std::string>{"disk1", "disk2", "disk3"}));
  EXPECT_EQ(Entries(root / "set/disk2"), std::vector<std::string>{".hidden"});
}

TEST_F(AutostartTest, FailedStartStillDeletesAndSubdirectoriesStay) {
  MakeSet(2);
  for (const char* k : {"1", "2"})
    std::filesystem::remove(root / ("set/disk" + std::string(k) + "/.hidden"));
  WriteTree(state.DestinationDir, {{"disk2/SUB/KEEP.TXT", "k"}});
  host.ScriptProcess([](const ProcessRun&) { return std::nullopt; });
  RunAutostart(state, host, ui);
  EXPECT_TRUE(state.RunFailed);
  EXPECT_NE(ui.LastMessage().text.find("could not be started"), std::string::npos);
  EXPECT_EQ(Entries(root / "set"), std::vector<std::string>{"disk2"});
  EXPECT_EQ(Entries(root / "set/disk2"), std::vector<std::string>{"SUB"});
  EXPECT_TRUE(IsFile(root / "set/disk2/SUB/KEEP.TXT"));
}

// Only the set's own installer is ever started: the first word of InstallerName names a file
// of disk1 (in any case), never a program of the host; a runner gets its full path.
TEST_F(AutostartTest, OnlyTheSetsOwnInstallerIsStarted) {
  struct Case {
    std::string installer, runner;
    bool needs_runner;
    std::string program;                 // "" = nothing started
    std::vector<std::string> arguments;  // "@" stands for disk1's path
  };
  const std::vector<Case> cases{
      {"SETUP.EXE", "", false, "@Setup.exe", {}},
      {"setup.exe /Q  /R", "", false, "@Setup.exe", {"/Q", "/R"}},
      {"SETUP.EXE /Q", "wine --quiet", true, "wine", {"--quiet", "@Setup.exe", "/Q"}},
      {"id", "", false, "", {}},
      {"sh INSTALL.BAT", "", false, "", {}},
      {"sh -c touch", "wine", true, "", {}},
      {"/bin/sh", "", false, "", {}},
      {"../set/disk1/Setup.exe", "", false, "", {}},
      {"SUB", "", false, "", {}},  // a directory
      {"SETUP.EXE", "", true, "", {}},
  };
  for (const Case& test : cases) {
    MakeSet(1);
    WriteTree(state.DestinationDir, {{"disk1/INSTALL.BAT", "x"}, {"disk1/SUB/A", "a"}});
    state.InstallerName = test.installer;
    state.InstallerRunner = test.runner;
    state.InstallerNeedsRunner = test.needs_runner;
    state.RunFailed = false;
    const size_t before = host.ProcessRuns().size();
    RunAutostart(state, host, ui);
    const std::string disk1 = root / "set/disk1/";
    if (test.program.empty()) {
      EXPECT_EQ(host.ProcessRuns().size(), before) << test.installer;
      EXPECT_TRUE(state.RunFailed) << test.installer;
      const bool no_runner = test.needs_runner && test.runner.empty();
      EXPECT_NE(ui.LastMessage().text.find(no_runner ? "FLOPPYSET_RUNNER" : "not in the set"),
                std::string::npos)
          << ui.LastMessage().text;
      continue;
    }
    ASSERT_EQ(host.ProcessRuns().size(), before + 1) << test.installer;
    std::vector<std::string> arguments;
    for (const std::string& a : test.arguments)
      arguments.push_back(a[0] == '@' ? disk1 + a.substr(1) : a);
    const std::string program =
        test.program[0] == '@' ? disk1 + test.program.substr(1) : test.program;
    EXPECT_EQ(host.ProcessRuns().back().program, program) << test.installer;
    EXPECT_EQ(host.ProcessRuns().back().arguments, arguments) << test.installer;
    EXPECT_FALSE(state.RunFailed) << test.installer;
  }
}

TEST_F(AutostartTest, CompleteSetIsRemovedEntirely) {
  MakeSet(2);
  std::filesystem::remove(root / "set/disk1/.hidden");
  std::filesystem::remove(root / "set/disk2/.hidden");
  RunAutostart(state, host, ui);
  EXPECT_FALSE(std::filesystem::exists(root / "set"));
}

TEST_F(AutostartTest, NothingHappensWithoutAnAutostartSet) {
  MakeSet(1);
  RunState no_destination = state;
  no_destination.DestinationDir.clear();
  RunAutostart(no_destination, host, ui);
  RunState no_installer = state;
  no_installer.Header.InstallerNameLength = 0;
  RunAutostart(no_installer, host, ui);
  EXPECT_TRUE(host.ProcessRuns().empty());
  EXPECT_TRUE(IsFile(root / "set/disk1/FILE.TXT"));
}

}  // namespace
}  // namespace floppyset::testing
