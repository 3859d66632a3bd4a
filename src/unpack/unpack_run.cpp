#include "unpack/unpack_run.h"

#include <vector>

#include "base/path.h"
#include "image/unpack_report.h"
#include "ui/messages.h"
#include "unpack/unpack_disk_image.h"
#include "workspace/workspace.h"

namespace floppyset {
namespace {

constexpr char kCaption[] = "SETUP";
// After a directory is made, how often (1 ms apart) to look for it before giving up.
constexpr int kVisibilityChecks = 20;

Answer Show(Ui& ui, int id, std::string text, Buttons buttons, Icon icon, Owner owner) {
  return ui.ShowMessage({id, std::move(text), kCaption, buttons, icon, owner});
}

void RelabelProgressWindow(Ui& ui) {
  ui.SetControlText(kControlBannerTitle, LoadMessage(kMsgImagesProcessing));
  ui.SetControlText(kControlPlainTitle, LoadMessage(kMsgImagesProcessing));
  ui.SetControlText(kControlBannerText, LoadMessage(kMsgCopyingFiles));
  ui.SetControlText(kControlDiskText, LoadMessage(kMsgImages));
  ui.HideControl(kControlTrackText);
  ui.HideControl(kControlTrackBar);
}

void ShowCannotCreate(Ui& ui) {
  Show(ui, kMsgCannotCreateDirectory, LoadMessage(kMsgCannotCreateDirectory), Buttons::kOk,
       Icon::kExclamation, Owner::kDialog);
}

// A disk whose image could not be unpacked whole; `damage` is empty when it could not be read.
struct DamagedDisk {
  uint32_t disk;
  std::string damage;
};

// The message in place of 509 when the set was not unpacked in full: what and how much.
std::string UnpackFailureText(const RunState& state, const std::vector<DamagedDisk>& damaged,
                              const UnpackReport& report) {
  std::string text = FormatMessageId(kMsgUnpackIncomplete, state.DestinationDir.c_str());
  if (!state.SetWhole()) text += "\n" + DescribeLostImages(state.Images);
  for (const auto& [disk, damage] : damaged) {
    text +=
        "\n" + DescribeLostImage(
                   disk - 1, MakeAccount(ImageCondition::kDamaged,
                                         damage.empty() ? LoadMessage(kMsgWhyUnreadable) : damage));
  }
  if (report.skipped != 0) {
    text += "\n" + FormatMessageId(kMsgUnpackSkipped, unsigned{report.skipped});
  }
  if (report.cut != 0) {
    text += "\n" + FormatMessageId(kMsgUnpackCut, unsigned{report.cut});
  }
  if (report.over_limit) {
    text += "\n" + LoadMessage(kMsgUnpackOverLimit);
  }
  for (const std::string& name : report.names) text += "\n  " + name;
  if (report.skipped + report.cut + (report.over_limit ? 1 : 0) > report.names.size()) {
    text += "\n  ...";
  }
  return text;
}

}  // namespace

bool CreateDirectoryPath(Host& host, const std::string& path) {
  if (path.empty()) return false;
  if (PathExists(host, path, true)) return true;
  // A typed "C:\A\B\" is made at the first attempt: the trailing separator names no
  // further directory.
  const std::string directory = WithoutTrailingSeparators(path);
  size_t cut = directory.size();
  while (cut > 0 && !IsPathSeparator(directory[cut - 1])) --cut;
  if (cut == 0) return false;  // a bare name, without drive or directory
  const std::string parent = directory.substr(0, cut - 1);
  if (!parent.empty() && !PathExists(host, parent, true)) {
    CreateDirectoryPath(host, parent);  // a failure shows in the next step
  }
  if (host.MakeDirectory(directory) == CreateDirectoryResult::kFailed) return false;
  for (int attempt = 0; attempt < kVisibilityChecks; ++attempt) {
    host.Sleep(1);
    if (PathExists(host, directory, true)) return true;
  }
  return false;
}

bool AcceptDestination(RunState& state, Host& host, Ui& ui, const std::string& typed) {
  // DestinationDir holds 259 characters: a path that leaves no room for its separator is
  // refused instead of being cut short.
  if (WithTrailingSeparator(typed).size() > kMaxPath - 1) {
    ShowCannotCreate(ui);
    return false;
  }
  // At most twice: as typed, and once more after the directory was made (the re-posted OK).
  for (int pass = 0; pass < 2; ++pass) {
    if (!typed.empty() && PathExists(host, typed, true)) {
      state.DestinationDir = WithTrailingSeparator(typed);
      return true;
    }
    if (pass > 0) break;
    if (Show(ui, kMsgCreateDirectory, FormatMessageId(kMsgCreateDirectory, typed.c_str()),
             Buttons::kYesNo, Icon::kQuestion, Owner::kDialog) != Answer::kYes) {
      return false;
    }
    if (!CreateDirectoryPath(host, typed)) break;
  }
  ShowCannotCreate(ui);
  return false;
}

bool CheckDestinationSpace(RunState& state, Host& host, Ui& ui, uint32_t required) {
  const std::string root = host.VolumeRoot(state.DestinationDir);
  uint64_t free_bytes = 0;
  if (CheckFreeSpace(host, root, required, free_bytes)) return true;
  Show(ui, kMsgNoDestinationSpace,
       FormatMessageId(kMsgNoDestinationSpace, FormatSize(required).c_str(), root.c_str(),
                       FormatSize(static_cast<int64_t>(free_bytes)).c_str()),
       Buttons::kOk, Icon::kStop, Owner::kMainWindow);
  state.UnpackFailed = 1;
  return false;
}

bool ChooseAutostartDestination(RunState& state, Host& host) {
  if (!state.IsAutostart()) return false;
  if (!CreateWorkspace(host, kWorkspacePrefix, state.DestinationDir)) state.DestinationDir.clear();
  return true;
}

RunOutcome UnpackRun(RunState& state, Host& host, Ui& ui) {
  RelabelProgressWindow(ui);
  // An installer is started only from a whole set; nothing can come of a set without any
  // intact image. Everything else that is intact is unpacked, and the rest named.
  if (!state.SetWhole() && (state.IsAutostart() || !AnyIntact(state.Images))) {
    return Ended(RunEnding::kFailed,
                 FormatMessageId(kMsgSetNotAutostarted, state.ProductName.c_str(),
                                 DescribeLostImages(state.Images).c_str()),
                 false);
  }
  if (ChooseAutostartDestination(state, host)) {
    // Without its own directory the set would land in the current directory, and
    // autostart would delete there: stop instead.
    if (state.DestinationDir.empty()) {
      return Ended(RunEnding::kFailed,
                   FormatMessageId(kMsgNoUnpackDirectory, host.TempDirectory().c_str()), false);
    }
  } else if (!ui.RunDestinationDialog([&](const std::string& typed) {
               return AcceptDestination(state, host, ui, typed);
             })) {
    return Ended(RunEnding::kCancelled);
  }
  // Nothing of the set may reach outside the destination through a link found in it.
  host.AddWriteRoot(state.DestinationDir);
  if (!CheckDestinationSpace(state, host, ui, state.Header.UnpackedSpace)) {
    // The fresh autostart directory is still empty and nobody else will remove it.
    if (state.IsAutostart()) host.RemoveEmptyDirectory(state.DestinationDir);
    return Ended(RunEnding::kFailed, LoadMessage(kMsgWhyNoDestinationSpace));
  }

  const uint32_t disk_count = state.Header.DiskCount;
  ui.SetProgressRange(kControlDiskBar, 0, static_cast<int>(disk_count));
  bool all_unpacked = true;
  UnpackReport report;
  std::vector<DamagedDisk> damaged;
  for (uint32_t disk = 1; disk <= disk_count; ++disk) {
    if (!state.ImageIntact(disk - 1)) {
      all_unpacked = false;
      ui.SetProgressPosition(kControlDiskBar, static_cast<int>(disk));
      continue;
    }
    // An existing disk directory is reused; a file of that name is not one.
    const std::string directory = state.DestinationDir + "disk" + std::to_string(disk);
    const CreateDirectoryResult made = host.MakeDirectory(directory);
    if (made == CreateDirectoryResult::kFailed || !PathExists(host, directory, true)) {
      report.Skip(directory);
      all_unpacked = false;
    } else {
      UnpackReport disk_report;
      if (!UnpackDiskImage(state, host, disk - 1, &disk_report)) {
        all_unpacked = false;
        if (disk_report.clean() || !disk_report.damage.empty()) {
          damaged.push_back({disk, disk_report.damage});
        }
      }
      report.Add(disk_report);
    }
    ui.SetProgressPosition(kControlDiskBar, static_cast<int>(disk));
  }
  // A set with a missing, skipped or cut file is not reported as "successfully unpacked":
  // the message says what failed instead.
  if (!all_unpacked) {
    return Ended(RunEnding::kFailed, UnpackFailureText(state, damaged, report), false);
  }
  if (state.IsAutostart()) return {};
  state.CompletionMessage =
      FormatMessageId(kMsgSetUnpacked, state.DestinationDir.c_str(), state.ProductName.c_str(),
                      state.DestinationDir.c_str());
  return {};
}

}  // namespace floppyset
