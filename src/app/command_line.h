// The command-line switches: /? /A /C:n /D /E /F /L /P /S /W.
#pragma once

#include <string>

#include "app/run_state.h"
#include "ui/ui.h"

namespace floppyset {

// Parses the whole command line (program path first) into the run state, after the
// package header was read. False when start-up stops: help shown (/?), or 511 / 513 shown.
bool ParseCommandLine(RunState& state, Ui& ui, const std::string& command_line);

}  // namespace floppyset
