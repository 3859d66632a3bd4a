// Which floppy drive the run writes to: taken without a question when the machine has
// exactly one, otherwise chosen by the user from the list of all floppy drives.
#pragma once

#include <vector>

#include "app/run_state.h"
#include "floppy/floppy_device.h"
#include "ui/ui.h"

namespace floppyset {

// Probes drives A: to Z: and stops at the second floppy drive; each one found becomes
// SelectedFloppyDrive. True only when exactly one was found.
bool SelectFloppyDrive(RunState& state, FloppyDrives& drives);

// Every floppy drive of A: to Z:, in drive order, with its label.
std::vector<FloppyDriveChoice> FillFloppyDriveList(FloppyDrives& drives);

// Asks the user through the drive dialog; false on Cancel (or OK on an empty list).
bool ChooseFloppyDrive(RunState& state, Ui& ui, FloppyDrives& drives);

}  // namespace floppyset
