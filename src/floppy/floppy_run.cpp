#include "floppy/floppy_run.h"

namespace floppyset {

void CreateFloppySet(RunState&, Host&, Ui&, FloppyDrives&) {}

bool CreateOneFloppy(RunState&, Host&, Ui&, FloppyDrives&, uint32_t, uint32_t) {
  return true;
}

bool ShowFloppyError(const RunState&, Ui&) {
  return false;
}

}  // namespace floppyset
