// The floppy creation run: every disk image of the package written to a floppy, cylinder
// by cylinder, formatting only cylinders that refuse the write, optionally read back.
#pragma once

#include <cstdint>
#include <string>

#include "app/run_state.h"
#include "floppy/floppy_device.h"
#include "host/host.h"
#include "ui/ui.h"

namespace floppyset {

// One cylinder of a 1.44 MB disk: the unit of every read, write and read-back.
inline constexpr uint32_t kCylinderBufferSize = 18432;

// The loop over the disks of the run (all, or only disk n with /C:n): drive choice, the
// prompt 506 before each disk, the completion text. Every image of the run is checked before
// the first question; the run fails with the refusal shown when the set cannot be written
// (flat images, a set that is not whole, an image missing, cut short or not of the 1.44 MB
// layout, or in silent mode a drive A: that is no floppy drive), and is refused when the
// drives are (FloppyDrives::Refusal). Drives that confirm every run are confirmed here in
// silent mode (the caller confirms the others). Giving up on a disk after a drive failure ends the
// run as failed, with the cause; the failure is not shown again (reason_shown is false for the
// closing message).
RunOutcome CreateFloppySet(RunState& state, Host& host, Ui& ui, FloppyDrives& drives);

// Why the run cannot write its disks (flat images, a set that is not whole, an image missing,
// cut short or not of the 1.44 MB layout), naming the disk; empty when it can.
std::string FloppySetRefusal(const RunState& state, Host& host);

enum class DiskWrite {
  kWritten,  // the disk is finished
  kAgain,    // the user cancelled at a drive failure, or the read-back failed: the disk is
             // asked again (`refusal` says why it was not written)
  kRefused,  // the image cannot be written: the run ends (`refusal` says why; it was shown)
};

// The warning that the disks' data will be overwritten: 504 for one disk, 503 otherwise.
Answer AskFloppyConfirmation(const RunState& state, Ui& ui);

// Writes disk image `index` (0-based); `first` is the first index of the run.
DiskWrite CreateOneFloppy(RunState& state, Host& host, Ui& ui, FloppyDrives& drives, uint32_t index,
                          uint32_t first, std::string& refusal);

// The retry prompt 510, with `reason` below its text when there is one: true for Retry. In
// silent mode nothing is shown and the answer is Cancel.
bool ShowFloppyError(const RunState& state, Ui& ui, const std::string& reason = {});

}  // namespace floppyset
