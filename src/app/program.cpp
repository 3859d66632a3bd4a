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

// The file system of every intact image: one that cannot be read at all is damaged; faults
// of a readable one, and files it would not give whole, are kept beside it.
void CheckImageStructures(RunState& state, Host& host) {
  for (uint32_t index = 0; index < state.Images.size(); ++index) {
    ImageAccount& account = state.Images[index];
    if (account.condition != ImageCondition::kIntact) continue;
    const std::string path = DiskImagePath(state.WorkspaceDir, index);
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

// A report of a set that is not whole ends as a failure, and so does a file list that shows
// damaged files: the report itself is shown all the same.
RunOutcome OutcomeOfReport(const RunState& state) {
  const bool fine = (state.ReportFlags & kFlagList) ? state.SetSound() : state.SetWhole();
  if (fine) return {};
  return Ended(RunEnding::kFailed, DescribeSetDamage(state.Images));
}

RunOutcome Refused(int reason_id) {
  return Ended(RunEnding::kRefused, LoadMessage(reason_id));
}

// Everything between the workspace and the exit clean-up.
RunOutcome RunWithWorkspace(RunState& state, Host& host, Ui& ui, FloppyDrives& drives,
                            const std::string& command_line) {
  // Help and a bad switch need no package: answered before any file is blamed.
  if (const SwitchCheck check = CheckSwitches(state, ui, command_line);
      check != SwitchCheck::kRun) {
    return Ended(check == SwitchCheck::kHelp ? RunEnding::kHelp : RunEnding::kUsage,
                 check == SwitchCheck::kHelp ? "" : LoadMessage(kMsgWhyUnknownSwitch));
  }
  if (!ReadPackageHeader(state, host, ui)) return Refused(kMsgWhyNoTempSpace);
  // A program file without a package would otherwise pass both checks with zero sums and
  // "create" an empty set. The setup program blames its own file as damaged; a tool given
  // any file says that it is not a setup program.
  if (!state.PackageFound) {
    if (state.RequirePlausiblePackage) {
      ShowNotSetupProgram(state, ui);
      return Refused(kMsgWhyNotSetupProgram);
    }
    ShowAuthenticityFailure(state, ui);
    return Refused(kMsgWhyIntegrity);
  }
  if (!ParseCommandLine(state, ui, command_line)) return Ended(RunEnding::kUsage);
  if (!RunAuthenticityCheck(state, host, ui)) return Refused(kMsgWhyIntegrity);
  RunImageExtraction(state, host, ui);
  if (!CheckDiskCount(state, ui)) return Refused(kMsgNoDisks);

  const bool report_mode = state.IsReportMode();
  RunOutcome outcome;
  const bool shown = ui.RunMainWindow(MainWindowDialog(state), [&] {
    if (report_mode) {
      ReportThread(state, host, ui);
      outcome = OutcomeOfReport(state);
    } else {
      outcome = RunModeWorker(state, host, ui, drives);
    }
  });
  if (!shown) {
    ui.ShowMessage({0, kNoWindowText, kCaption, Buttons::kOk, Icon::kNone, Owner::kNone});
    return Ended(RunEnding::kFailed, kNoWindowText);
  }

  if (state.UnpackFailed == 0) outcome = RunAutostart(state, host, ui, outcome);
  ShowFinalMessage(state, outcome, ui);
  outcome.images = state.Images;
  return outcome;
}

// The floppy run that the header chose cannot write this set: the reason is shown, and
// unpacking is offered where it can give something.
RunOutcome RefuseFloppyRun(RunState& state, Host& host, Ui& ui, const std::string& refusal) {
  ui.ShowMessage({0, refusal, kCaption, Buttons::kOk, Icon::kStop, Owner::kMainWindow});
  const bool header_chose =
      !state.FloppySwitch && !state.SilentMode && (state.ReportFlags & kFlagSingleDisk) == 0;
  const bool unpack_gives = state.Images.empty() || AnyIntact(state.Images);
  if (!header_chose || state.Header.BootDisk != 0 || !unpack_gives ||
      Ask(ui, kMsgUnpackInstead, LoadMessage(kMsgUnpackInstead), Buttons::kYesNo,
          Icon::kQuestion) != Answer::kYes) {
    return Ended(RunEnding::kFailed, refusal);
  }
  return UnpackRun(state, host, ui);
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
    if (state.Header.ExpectedExeChecksum != state.PeCheckSum) return 2;
    ui.SetControlText(kControlExeCheckResult, "OK");
    state.PackageChecksum = ArchiveChecksum(state.WorkspaceDir, host);
    if (state.Header.ExpectedPackageChecksum != state.PackageChecksum) return 2;
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
  plan.archive_path = ArchivePath(state.WorkspaceDir);
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

RunOutcome RunModeWorker(RunState& state, Host& host, Ui& ui, FloppyDrives& drives) {
  if (state.SilentMode) {
    state.SelectedFloppyDrive = 0;
    return CreateFloppySet(state, host, ui, drives);
  }
  if (state.Header.UnpackMode != 0) return UnpackRun(state, host, ui);
  // A set the floppy run cannot write is refused before the question.
  if (const std::string refusal = FloppySetRefusal(state, host); !refusal.empty()) {
    return RefuseFloppyRun(state, host, ui, refusal);
  }
  // Drives that cannot be written are refused before the question.
  if (const std::string refusal = drives.Refusal(); !refusal.empty()) {
    ui.ShowMessage({0, refusal, kCaption, Buttons::kOk, Icon::kStop, Owner::kMainWindow});
    return Ended(RunEnding::kRefused, refusal);
  }
  const bool single_disk = (state.ReportFlags & kFlagSingleDisk) != 0;
  if ((single_disk && !drives.ConfirmsEveryRun()) ||
      AskFloppyConfirmation(state, ui) == Answer::kOk) {
    return CreateFloppySet(state, host, ui, drives);
  }
  if (single_disk) return Ended(RunEnding::kCancelled);
  if (state.Header.BootDisk == 0 && Ask(ui, kMsgUnpackInstead, LoadMessage(kMsgUnpackInstead),
                                        Buttons::kYesNo, Icon::kQuestion) == Answer::kYes) {
    return UnpackRun(state, host, ui);
  }
  return Ended(RunEnding::kCancelled);
}

void ShowFinalMessage(const RunState& state, const RunOutcome& outcome, Ui& ui) {
  if (outcome.ending == RunEnding::kFailed || outcome.ending == RunEnding::kRefused) {
    // The package's closing words would claim a set that was not made; the failure is said
    // instead, unless the user has seen it already.
    if (!outcome.reason_shown && !outcome.reason.empty()) {
      ui.ShowMessage({0, outcome.reason, kCaption, Buttons::kOk, Icon::kExclamation, Owner::kNone});
    }
    return;
  }
  const std::string& text =
      state.FinalMessage.empty() ? state.CompletionMessage : state.FinalMessage;
  if (text.empty()) return;
  ui.ShowMessage({0, text, kCaption, Buttons::kOk, Icon::kInformation, Owner::kNone});
}

void ExitCleanUp(const RunState& state, Host& host) {
  DeleteWorkspaceFiles(state.WorkspaceDir, host);
  if (!state.WorkspaceDir.empty()) host.RemoveEmptyDirectory(state.WorkspaceDir);
}

RunOutcome RunProgram(RunState& state, Host& host, Ui& ui, FloppyDrives& drives,
                      const std::string& command_line) {
  std::unique_ptr<InstanceLock> lock;
  const bool needs_lock = !state.LockWritingRunsOnly || !AsksForReport(command_line);
  if (needs_lock && !CheckSingleInstance(state, host, ui, lock)) {
    return Refused(kMsgWhyAlreadyRunning);
  }
  // Without a workspace the package cannot be copied, and the checks would blame the file.
  if (!CreateWorkspace(host, kWorkspacePrefix, state.WorkspaceDir)) {
    // (CreateWorkspace has left WorkspaceDir empty.)
    ShowStop(ui, FormatMessageId(kMsgNoWorkspace, host.TempDirectory().c_str()));
    return Refused(kMsgWhyNoWorkspaceDir);
  }
  const RunOutcome outcome = RunWithWorkspace(state, host, ui, drives, command_line);
  lock.reset();
  ExitCleanUp(state, host);
  return outcome;
}

}  // namespace floppyset
