#include "floppy/drive_selection.h"

namespace floppyset {

namespace {
constexpr uint8_t kDriveLetterCount = 26;
}

bool SelectFloppyDrive(RunState& state, FloppyDrives& drives) {
  int found = 0;
  for (uint8_t drive = 0; drive < kDriveLetterCount && found < 2; ++drive) {
    if (drives.IsFloppyDrive(drive)) {
      state.SelectedFloppyDrive = drive;
      ++found;
    }
  }
  return found == 1;
}

std::vector<FloppyDriveChoice> FillFloppyDriveList(FloppyDrives& drives) {
  std::vector<FloppyDriveChoice> list;
  for (uint8_t drive = 0; drive < kDriveLetterCount; ++drive) {
    if (drives.IsFloppyDrive(drive)) list.push_back({drive, drives.Label(drive)});
  }
  return list;
}

bool ChooseFloppyDrive(RunState& state, Ui& ui, FloppyDrives& drives) {
  std::optional<uint8_t> chosen = ui.ChooseFloppyDrive(FillFloppyDriveList(drives));
  if (!chosen) return false;
  state.SelectedFloppyDrive = *chosen;
  return true;
}

}  // namespace floppyset
