#include "app/program.h"

#include "app/autostart.h"
#include "app/command_line.h"
#include "floppy/floppy_run.h"
#include "package/extraction.h"
#include "package/integrity.h"
#include "package/package_reader.h"
#include "report/reports.h"
#include "ui/messages.h"
#include "unpack/unpack_run.h"

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

// A set whose archive holds fewer images than its DiskCount (or none) can be neither written
// nor unpacked whole: refused before any question. The file list needs the images as well;
// /A and /P alone do not.
bool CheckDiskImagesPresent(const RunState& state, Host& host, Ui& ui) {
  if (state.IsReportMode() && (state.ReportFlags & kFlagList) == 0) return true;
  const uint32_t count = state.Header.DiskCount;
  if (count == 0) {
    ShowStop(ui, "The package is damaged: it names no disk (DiskCount is 0).");
    return false;
  }
  for (uint32_t index = 0; index < count; ++index) {
    if (host.Attributes(DiskImagePath(state, index))) continue;
    ShowStop(ui, FormatText("The package is damaged: it names %u disks, but disk image %u (%s) "
                            "is not in its archive.",
                            count, index + 1, DiskImageName(index).c_str()));
    return false;
  }
  return true;
}

ProgramOutcome OutcomeOfRun(const RunState& state, bool images_extracted) {
  if (!images_extracted || state.RunFailed || state.FloppyRunFailed || state.UnpackFailed) {
    return ProgramOutcome::kFailed;
  }
  if (state.RunCancelled) return ProgramOutcome::kCancelled;
  return ProgramOutcome::kDone;
}

// Everything between the workspace and the exit clean-up.
ProgramOutcome RunWithWorkspace(RunState& state, Host& host, Ui& ui, FloppyDrives& drives,
                                const std::string& command_line) {
  // Help and a bad switch need no package: answered before any file is blamed.
  if (!CheckSwitches(state, ui, command_line)) return ProgramOutcome::kStopped;
  if (!ReadPackageHeader(state, host, ui)) return ProgramOutcome::kRefused;
  // A program file without a package would otherwise pass both checks with zero sums and
  // "create" an empty set. The setup program blames its own file as damaged; a tool given
  // any file says that it is not a setup program.
  if (!state.PackageFound) {
    if (state.RequirePlausiblePackage) {
      ShowNotSetupProgram(state, ui);
    } else {
      ShowAuthenticityFailure(state, ui);
    }
    return ProgramOutcome::kRefused;
  }
  if (!ParseCommandLine(state, ui, command_line)) return ProgramOutcome::kStopped;
  if (!RunAuthenticityCheck(state, host, ui)) return ProgramOutcome::kRefused;
  const bool images_extracted = RunImageExtraction(state, host, ui);
  // A failed extraction is the run's to report; a complete one may still lack images.
  if (images_extracted && !CheckDiskImagesPresent(state, host, ui)) {
    return ProgramOutcome::kRefused;
  }

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
    return ProgramOutcome::kFailed;
  }

  if (state.UnpackFailed == 0) RunAutostart(state, host, ui);
  ShowFinalMessage(state, ui);
  return OutcomeOfRun(state, images_extracted);
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
  bool complete = false;
  const int dialog =
      state.Header.DialogStyle == 0 ? kDialogPlainExtraction : kDialogBannerExtraction;
  ui.RunWorkDialog(dialog, [&] {
    const ExtractionResult result = ExtractPackageImages(state, host, ui);
    complete = result.complete;
    // Set before the dialog ends: a front end's hook on its end names the failed image.
    state.ExtractionFailedMember = result.failed_member;
    state.ExtractionFailureCode = result.code;
    return 1;
  });
  state.ExtractionFailed = !complete;
  return complete;
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
  // A run that failed has said why (an installer that did not start); no closing words.
  if (state.RunFailed) return;
  const std::string& text =
      state.FinalMessage.empty() ? state.CompletionMessage : state.FinalMessage;
  if (text.empty()) return;
  ui.ShowMessage({0, text, kCaption, Buttons::kOk, Icon::kInformation, Owner::kNone});
}

void ExitCleanUp(const RunState& state, Host& host) {
  DeleteWorkspaceFiles(state, host);
  if (!state.WorkspaceDir.empty()) host.RemoveEmptyDirectory(state.WorkspaceDir);
}

ProgramOutcome RunProgram(RunState& state, Host& host, Ui& ui, FloppyDrives& drives,
                          const std::string& command_line) {
  std::unique_ptr<InstanceLock> lock;
  if (!CheckSingleInstance(state, host, ui, lock)) return ProgramOutcome::kRefused;
  // Without a workspace the package cannot be copied, and the checks would blame the file.
  if (!CreateWorkspace(host, kWorkspacePrefix, state.WorkspaceDir)) {
    // (CreateWorkspace has left WorkspaceDir empty.)
    ShowStop(ui, "Setup cannot create its temporary directory in \"" + host.TempDirectory() +
                     "\": the directory does not exist, cannot be written, or its path is too "
                     "long. Set TMP (TMPDIR on Linux) to a usable directory.");
    return ProgramOutcome::kRefused;
  }
  const ProgramOutcome outcome = RunWithWorkspace(state, host, ui, drives, command_line);
  lock.reset();
  ExitCleanUp(state, host);
  return outcome;
}

}  // namespace floppyset
