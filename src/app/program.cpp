#include "app/program.h"

#include "app/autostart.h"
#include "app/command_line.h"
#include "floppy/floppy_run.h"
#include "image/disk_image.h"
#include "image/flat_image.h"
#include "image/image_check.h"
#include "package/extraction.h"
#include "package/integrity.h"
#include "package/package_reader.h"
#include "report/reports.h"
#include "ui/messages.h"
#include "unpack/unpack_run.h"
#include "workspace/workspace.h"

namespace floppyset {
namespace {

constexpr char kCaption[] = "SETUP";
constexpr char kErrorCaption[] = "Error";
constexpr char kToolCaption[] = "floppyset";
constexpr char kNoWindowText[] = "Unable to create dialog";
constexpr unsigned kCheckPauseMilliseconds = 1000;

Answer Ask(Ui& ui, int id, std::string text, Buttons buttons, Icon icon) {
  return ui.ShowMessage({id, std::move(text), kCaption, buttons, icon, Owner::kMainWindow});
}

void ShowAuthenticityFailure(const RunState& state, Ui& ui) {
  ui.ShowMessage({kMsgAuthFailed, FormatMessageId(kMsgAuthFailed, state.ProgramPath.c_str()),
                  kCaption, Buttons::kOk, Icon::kExclamation, Owner::kNone});
}

// The refusal of a file that holds no package: the tool's own words, captioned with its name.
void ShowNotSetupProgram(const RunState& state, Ui& ui) {
  ui.ShowMessage({kMsgNotSetupProgram,
                  FormatMessageId(kMsgNotSetupProgram, state.ProgramPath.c_str()), kToolCaption,
                  Buttons::kOk, Icon::kStop, Owner::kNone});
}

// The floppy confirmation: 504 for one disk, 503 (name and count) otherwise.
std::string ConfirmationText(const RunState& state) {
  if (state.Header.DiskCount == 1) {
    return FormatMessageId(kMsgConfirmDisk, state.ProductName.c_str());
  }
  return FormatMessageId(kMsgConfirmDisks, state.ProductName.c_str(), int{state.Header.DiskCount});
}

// The file system of every intact image: one that cannot be read at all is damaged; faults
// of a readable one, and files it would not give whole, are kept beside it.
void CheckImageStructures(RunState& state, Host& host) {
  for (uint32_t index = 0; index < state.Images.size(); ++index) {
    ImageAccount& account = state.Images[index];
    if (account.condition != ImageCondition::kIntact) continue;
    const std::string path = DiskImagePath(state, index);
    ImageCheck check;
    if (state.PackageUnpackMode != 0) {
      check = CheckFlatImage(FlatImage(host, path));
    } else {
      DiskImage image(host, path);
      check = CheckDiskImage(image);
    }
    if (!check.readable) {
      account = MakeAccount(ImageCondition::kDamaged, check.reason);
      continue;
    }
    if (!check.reason.empty()) account.faults.push_back(check.reason);
    for (const FileLoss& loss : check.files) account.faults.push_back(loss.path + ": " + loss.what);
  }
}

// A set that names no disk has nothing to write, unpack or list: refused before any question.
// /A and /P alone need no image.
bool CheckDiskCount(const RunState& state, Ui& ui) {
  if (state.IsReportMode() && (state.ReportFlags & kFlagList) == 0) return true;
  if (state.Header.DiskCount != 0) return true;
  ShowStop(ui, LoadMessage(kMsgNoDisks));
  return false;
}

RunOutcome Ended(RunEnding ending, std::string reason = {}) {
  RunOutcome outcome;
  outcome.ending = ending;
  outcome.reason = std::move(reason);
  return outcome;
}

// How the run or report ended, from what it left in the run state.
RunOutcome OutcomeOfRun(const RunState& state) {
  RunOutcome outcome;
  outcome.images = state.Images;
  if (state.RunFailed || state.FloppyRunFailed || state.UnpackFailed) {
    outcome.ending = RunEnding::kFailed;
    outcome.reason = state.FailureMessage;
  } else if (state.RunCancelled) {
    outcome.ending = RunEnding::kCancelled;
  } else if (!state.IsReportMode() ? !state.SetWhole()
                                   : (state.ReportFlags & kFlagList) && !state.SetSound()) {
    // The file list shows what is there, but the set is not whole and sound.
    outcome.ending = RunEnding::kFailed;
    outcome.reason = DescribeSetDamage(state.Images);
  }
  return outcome;
}

// Everything between the workspace and the exit clean-up.
RunOutcome RunWithWorkspace(RunState& state, Host& host, Ui& ui, FloppyDrives& drives,
                            const std::string& command_line) {
  // Help and a bad switch need no package: answered before any file is blamed.
  if (!CheckSwitches(state, ui, command_line)) return Ended(RunEnding::kUsage);
  if (!ReadPackageHeader(state, host, ui)) return Ended(RunEnding::kRefused);
  // A program file without a package would otherwise pass both checks with zero sums and
  // "create" an empty set. The setup program blames its own file as damaged; a tool given
  // any file says that it is not a setup program.
  if (!state.PackageFound) {
    if (state.RequirePlausiblePackage) {
      ShowNotSetupProgram(state, ui);
      return Ended(RunEnding::kRefused, "not a setup program");
    }
    ShowAuthenticityFailure(state, ui);
    return Ended(RunEnding::kRefused);
  }
  if (!ParseCommandLine(state, ui, command_line)) return Ended(RunEnding::kUsage);
  if (!RunAuthenticityCheck(state, host, ui)) return Ended(RunEnding::kRefused);
  RunImageExtraction(state, host, ui);
  if (!CheckDiskCount(state, ui)) return Ended(RunEnding::kRefused);

  const bool report_mode = state.IsReportMode();
  const bool shown = ui.RunMainWindow(MainWindowDialog(state), [&] {
    if (report_mode) {
      ReportThread(state, host, ui);
    } else {
      RunModeWorker(state, host, ui, drives);
    }
  });
  if (!shown) {
    ui.ShowMessage({0, kNoWindowText, kCaption, Buttons::kOk, Icon::kNone, Owner::kNone});
    return Ended(RunEnding::kFailed, kNoWindowText);
  }

  if (state.UnpackFailed == 0) RunAutostart(state, host, ui);
  ShowFinalMessage(state, ui);
  return OutcomeOfRun(state);
}

// The floppy run that the header chose cannot write this set: the reason is shown, and
// unpacking is offered where it can give something.
void RefuseFloppyRun(RunState& state, Host& host, Ui& ui, const std::string& refusal) {
  ui.ShowMessage({0, refusal, kCaption, Buttons::kOk, Icon::kStop, Owner::kMainWindow});
  state.FloppyRunFailed = true;
  const bool header_chose =
      !state.FloppySwitch && !state.SilentMode && (state.ReportFlags & kFlagSingleDisk) == 0;
  const bool unpack_gives = state.Images.empty() || AnyIntact(state.Images);
  if (!header_chose || state.Header.BootDisk != 0 || !unpack_gives) return;
  if (Ask(ui, kMsgUnpackInstead, LoadMessage(kMsgUnpackInstead), Buttons::kYesNo,
          Icon::kQuestion) != Answer::kYes) {
    return;
  }
  state.FloppyRunFailed = false;
  UnpackRun(state, host, ui);
}

}  // namespace

bool CheckSingleInstance(const RunState& state, Host& host, Ui& ui,
                         std::unique_ptr<InstanceLock>& lock) {
  lock = host.AcquireInstanceLock(state.ProgramPath);
  if (lock) return true;
  ui.ShowMessage({kMsgAlreadyRunning, LoadMessage(kMsgAlreadyRunning), kErrorCaption, Buttons::kOk,
                  Icon::kStop, Owner::kNone});
  return false;
}

bool RunAuthenticityCheck(RunState& state, Host& host, Ui& ui) {
  const int result = ui.RunWorkDialog(kDialogAuthenticity, [&] {
    if (!ExeChecksumMatches(state)) return 2;
    ui.SetControlText(kControlExeCheckResult, "OK");
    ComputePackageChecksum(state, host);
    if (!PackageChecksumMatches(state)) return 2;
    ui.SetControlText(kControlPackageCheckResult, "OK");
    host.Sleep(kCheckPauseMilliseconds);
    return 1;
  });
  if (result == 1) return true;
  ShowAuthenticityFailure(state, ui);
  return false;
}

bool RunImageExtraction(RunState& state, Host& host, Ui& ui) {
  ExtractionPlan plan;
  plan.archive_path = ArchivePath(state);
  plan.workspace_dir = state.WorkspaceDir;
  plan.apst = state.Header.ArchiveKind != 0;
  plan.disk_count = state.Header.DiskCount;
  plan.limit = ImageSizeLimit(state.PackageUnpackMode);
  plan.salvage = state.SalvageMembers;
  const int dialog =
      state.Header.DialogStyle == 0 ? kDialogPlainExtraction : kDialogBannerExtraction;
  ui.RunWorkDialog(dialog, [&] {
    ExtractionResult result = ExtractPackageImages(plan, host, ui);
    // Kept before the dialog ends: a front end's hook on its end reads the account.
    state.Images = std::move(result.images);
    state.SkippedMembers = std::move(result.skipped_members);
    CheckImageStructures(state, host);
    return 1;
  });
  return state.SetWhole();
}

int MainWindowDialog(const RunState& state) {
  if (state.IsReportMode()) return kDialogReport;
  return state.Header.DialogStyle == 1 ? kDialogBannerProgress : kDialogPlainProgress;
}

void RunModeWorker(RunState& state, Host& host, Ui& ui, FloppyDrives& drives) {
  if (state.SilentMode) {
    state.SelectedFloppyDrive = 0;
    CreateFloppySet(state, host, ui, drives);
    return;
  }
  if (state.Header.UnpackMode != 0) {
    UnpackRun(state, host, ui);
    return;
  }
  // A set the floppy run cannot write is refused before the question.
  if (const std::string refusal = FloppySetRefusal(state, host); !refusal.empty()) {
    RefuseFloppyRun(state, host, ui, refusal);
    return;
  }
  const int confirmation = state.Header.DiskCount == 1 ? kMsgConfirmDisk : kMsgConfirmDisks;
  if ((state.ReportFlags & kFlagSingleDisk) != 0 ||
      Ask(ui, confirmation, ConfirmationText(state), Buttons::kOkCancel, Icon::kInformation) ==
          Answer::kOk) {
    CreateFloppySet(state, host, ui, drives);
    // The floppy run leaves its completion text only when every disk was written.
    if (state.CompletionMessage.empty() && !state.FloppyRunFailed) state.RunCancelled = true;
    return;
  }
  if (state.Header.BootDisk == 0 && Ask(ui, kMsgUnpackInstead, LoadMessage(kMsgUnpackInstead),
                                        Buttons::kYesNo, Icon::kQuestion) == Answer::kYes) {
    UnpackRun(state, host, ui);
    return;
  }
  state.RunCancelled = true;
}

void ShowFinalMessage(const RunState& state, Ui& ui) {
  if (!state.FailureMessage.empty()) {
    ui.ShowMessage(
        {0, state.FailureMessage, kCaption, Buttons::kOk, Icon::kExclamation, Owner::kNone});
    return;
  }
  // A run that failed or was refused has said why; the package's closing words would claim
  // a set that was not made.
  if (state.RunFailed || state.FloppyRunFailed) return;
  const std::string& text =
      state.FinalMessage.empty() ? state.CompletionMessage : state.FinalMessage;
  if (text.empty()) return;
  ui.ShowMessage({0, text, kCaption, Buttons::kOk, Icon::kInformation, Owner::kNone});
}

void ExitCleanUp(const RunState& state, Host& host) {
  DeleteWorkspaceFiles(state, host);
  if (!state.WorkspaceDir.empty()) host.RemoveEmptyDirectory(state.WorkspaceDir);
}

RunOutcome RunProgram(RunState& state, Host& host, Ui& ui, FloppyDrives& drives,
                      const std::string& command_line) {
  std::unique_ptr<InstanceLock> lock;
  if (!CheckSingleInstance(state, host, ui, lock)) {
    return Ended(RunEnding::kRefused, LoadMessage(kMsgAlreadyRunning));
  }
  // Without a workspace the package cannot be copied, and the checks would blame the file.
  if (!CreateWorkspace(host, kWorkspacePrefix, state.WorkspaceDir)) {
    // (CreateWorkspace has left WorkspaceDir empty.)
    ShowStop(ui, "Setup cannot create its temporary directory in \"" + host.TempDirectory() +
                     "\": the directory does not exist, cannot be written, or its path is too "
                     "long. Set TMP (TMPDIR on Linux) to a usable directory.");
    return Ended(RunEnding::kRefused);
  }
  const RunOutcome outcome = RunWithWorkspace(state, host, ui, drives, command_line);
  lock.reset();
  ExitCleanUp(state, host);
  return outcome;
}

}  // namespace floppyset
