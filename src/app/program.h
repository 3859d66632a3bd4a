// The program's spine, shared by both front ends: the start-up steps from the
// single-instance check on, the main window with its worker, autostart, the closing
// message and the exit clean-up.
#pragma once

#include <memory>
#include <string>

#include "app/run_state.h"
#include "floppy/floppy_device.h"
#include "host/host.h"
#include "ui/ui.h"

namespace floppyset {

// Runs the program from CheckSingleInstance to ExitCleanUp. The front end has set
// ProgramPath (and InstallerRunner, InstallerNeedsRunner) and done its own system check.
// `command_line` is the whole line, the program's own path first.
// Returns how the run ended, with the account of the set's images once they were extracted.
RunOutcome RunProgram(RunState& state, Host& host, Ui& ui, FloppyDrives& drives,
                      const std::string& command_line);

// --- the steps, for the front ends and tests ---------------------------------------------

// Takes the single-instance lock into `lock`; on refusal shows 539 ("Error", stop icon).
bool CheckSingleInstance(const RunState& state, Host& host, Ui& ui,
                         std::unique_ptr<InstanceLock>& lock);
// Dialog 105: both integrity checks; on failure shows 536 with ProgramPath.
bool RunAuthenticityCheck(RunState& state, Host& host, Ui& ui);
// Dialog 111 (DialogStyle 0) or 104: extracts the disk images into the workspace and keeps
// their account in state.Images; true when every image came out whole.
bool RunImageExtraction(RunState& state, Host& host, Ui& ui);
// The main window: 103 in a report mode, else 101 for DialogStyle 1 and 110 otherwise.
int MainWindowDialog(const RunState& state);
// The run-mode worker: silent floppy run, unpack run, or the confirmed floppy run.
RunOutcome RunModeWorker(RunState& state, Host& host, Ui& ui, FloppyDrives& drives);
// The failure, else FinalMessage, else CompletionMessage, else nothing: no owner, "SETUP".
// A failed or refused run shows no closing words of the package.
void ShowFinalMessage(const RunState& state, const RunOutcome& outcome, Ui& ui);
// Deletes the workspace files and the workspace directory.
void ExitCleanUp(const RunState& state, Host& host);

}  // namespace floppyset
