// The command-line switches: /? /A /C:n /D /E /F /L /P /S /W.
#pragma once

#include <string>

#include "app/run_state.h"
#include "ui/ui.h"

namespace floppyset {

// Before the package is read: answers /? with the help and refuses an unknown switch (511),
// as ParseCommandLine would, so that neither needs a package. Changes nothing in `state`;
// /C:n's disk number waits for the header's DiskCount.
enum class SwitchCheck {
  kRun,    // nothing stops the start
  kHelp,   // the help was shown
  kUsage,  // an unknown switch was refused
};
SwitchCheck CheckSwitches(const RunState& state, Ui& ui, const std::string& command_line);

// True when the line asks for a report (/A, /P or /L): such a run writes nothing.
bool AsksForReport(const std::string& command_line);

// Parses the whole command line into the run state, after the package header was read.
// Its first token is the program's own path and is never taken for a switch. False when
// start-up stops: help shown (/?), or 511 / 513 shown.
bool ParseCommandLine(RunState& state, Ui& ui, const std::string& command_line);

}  // namespace floppyset
