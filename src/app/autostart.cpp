#include "app/autostart.h"

#include "base/path.h"

namespace floppyset {
namespace {

std::string DiskDirectoryPath(const RunState& state, uint32_t disk) {
  return state.DestinationDir + "disk" + std::to_string(disk) + kPathSeparator;
}

}  // namespace

void DeleteDirectoryFiles(Host& host, const std::string& dir) {
  for (const std::string& name : host.ListDirectory(dir)) {
    if (name.empty() || name[0] == '.') continue;
    host.RemoveFile(dir + name);  // a subdirectory is refused and stays
  }
}

void RunAutostart(RunState& state, Host& host, Ui& ui) {
  if (!state.IsAutostart() || state.DestinationDir.empty()) return;

  if (state.WaitDialog) ui.ShowStartDelayNotice();
  std::string command = state.InstallerName;
  if (!state.InstallerRunner.empty()) command = state.InstallerRunner + " " + command;
  // A start failure is not reported: the set is deleted all the same.
  host.RunProcess(command, DiskDirectoryPath(state, 1));

  for (uint32_t disk = 1; disk <= state.Header.DiskCount; ++disk) {
    const std::string dir = DiskDirectoryPath(state, disk);
    DeleteDirectoryFiles(host, dir);
    host.RemoveEmptyDirectory(dir);
  }
  host.RemoveEmptyDirectory(state.DestinationDir);
}

}  // namespace floppyset
