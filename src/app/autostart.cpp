#include "app/autostart.h"

#include <sstream>
#include <vector>

#include "base/path.h"
#include "ui/messages.h"

namespace floppyset {
namespace {

std::string DiskDirectoryPath(const RunState& state, uint32_t disk) {
  return state.DestinationDir + "disk" + std::to_string(disk) + kPathSeparator;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream split(text);
  for (std::string word; split >> word;) words.push_back(word);
  return words;
}

// Starts the installer and waits for its end; false (after saying why) when it was not
// started. Only the file of the set is started, never a program of the host: the name is
// looked up in disk1 alone, as a FAT disk would, without regard to case.
bool StartInstaller(RunState& state, Host& host, Ui& ui) {
  const std::string run_directory = DiskDirectoryPath(state, 1);
  std::vector<std::string> arguments = Words(state.InstallerName);
  const std::string name = arguments.empty() ? "" : arguments.front();
  std::string installer;
  if (IsPlainFileName(name)) {
    for (const std::string& entry : host.ListDirectory(run_directory)) {
      if (!EqualNoCase(entry, name)) continue;
      const std::optional<uint32_t> attributes = host.Attributes(run_directory + entry);
      if (attributes && !(*attributes & kAttrDirectory)) {
        installer = run_directory + entry;
        break;
      }
    }
  }
  if (installer.empty()) {
    ShowStop(ui, FormatMessageId(kMsgInstallerMissing, state.InstallerName.c_str(),
                                 run_directory.c_str()));
    return false;
  }
  arguments.erase(arguments.begin());

  std::string program = installer;
  std::vector<std::string> runner = Words(state.InstallerRunner);
  if (!runner.empty()) {
    program = runner.front();
    runner.erase(runner.begin());
    runner.push_back(installer);
    arguments.insert(arguments.begin(), runner.begin(), runner.end());
  } else if (state.InstallerNeedsRunner) {
    ShowStop(ui, FormatMessageId(kMsgInstallerNeedsRunner, name.c_str()));
    return false;
  }
  if (state.WaitDialog) ui.ShowStartDelayNotice();
  if (host.RunProcess(program, arguments, run_directory)) return true;
  ShowStop(ui, FormatMessageId(kMsgInstallerNotStarted, name.c_str(), program.c_str()));
  return false;
}

// The set's folders with their subfolders: the run made them in its own temporary directory,
// a write root, where a removal never passes through a link.
void RemoveUnpackedTree(Host& host, const std::string& dir) {
  for (const std::string& name : host.ListDirectory(dir)) {
    const std::string path = dir + name;
    if (host.RemoveFile(path)) continue;
    const std::optional<uint32_t> attributes = host.Attributes(path);
    if (attributes && (*attributes & kAttrDirectory))
      RemoveUnpackedTree(host, path + kPathSeparator);
  }
  host.RemoveEmptyDirectory(dir);
}

}  // namespace

RunOutcome RunAutostart(RunState& state, Host& host, Ui& ui, const RunOutcome& unpacked) {
  if (!state.IsAutostart() || state.DestinationDir.empty()) return unpacked;

  // A set that was not unpacked whole is not started, only removed.
  RunOutcome outcome = unpacked;
  if (outcome.ending == RunEnding::kDone && !StartInstaller(state, host, ui)) {
    outcome = Ended(RunEnding::kFailed, LoadMessage(kMsgWhyInstallerNotStarted));
  }

  for (uint32_t disk = 1; disk <= state.Header.DiskCount; ++disk) {
    RemoveUnpackedTree(host, DiskDirectoryPath(state, disk));
  }
  host.RemoveEmptyDirectory(state.DestinationDir);
  return outcome;
}

}  // namespace floppyset
