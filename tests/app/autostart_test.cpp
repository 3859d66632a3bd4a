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
  }
};

TEST_F(AutostartTest, InstallerRunsInDisk1ThenEveryDiskAndTheSetAreRemoved) {
  MakeSet(3);
  RunAutostart(state, host, ui);
  ASSERT_EQ(host.ProcessRuns().size(), 1u);
  EXPECT_EQ(host.ProcessRuns()[0].command_line, "SETUP.EXE");
  EXPECT_EQ(host.ProcessRuns()[0].working_directory, root / "set/disk1/");
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
  EXPECT_EQ(Entries(root / "set"), std::vector<std::string>{"disk2"});
  EXPECT_EQ(Entries(root / "set/disk2"), std::vector<std::string>{"SUB"});
  EXPECT_TRUE(IsFile(root / "set/disk2/SUB/KEEP.TXT"));
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
