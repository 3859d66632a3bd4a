// Autostart: at exit, start the package's installer, a file of the unpacked disk1 directory,
// wait for its end, then delete the unpacked set.
#pragma once

#include <string>

#include "app/run_state.h"
#include "host/host.h"
#include "ui/ui.h"

namespace floppyset {

// Nothing unless the run left an autostart set (IsAutostart and a DestinationDir): then the
// installer is started when the unpack run ended well, and the set removed in any case, with
// every subdirectory and hidden file: it lies in the run's own temporary directory.
// Returns how the run ended: `unpacked`, or a failure when the installer is missing or
// cannot be started (said to the user).
RunOutcome RunAutostart(RunState& state, Host& host, Ui& ui, const RunOutcome& unpacked);

}  // namespace floppyset
