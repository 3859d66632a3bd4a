#include "platform/posix/linux_floppy.h"

namespace floppyset {

LinuxFloppyDrives::LinuxFloppyDrives(const std::string& device_override) {
  if (!device_override.empty()) drives_.push_back({device_override, false});
}

std::string LinuxFloppyDrives::Label(uint8_t drive) {
  return drive < drives_.size() ? drives_[drive].path : std::string();
}

std::unique_ptr<FloppyDevice> LinuxFloppyDrives::MakeDevice(uint8_t) {
  return nullptr;
}

bool IsFloppyControllerDrive(const std::string&) {
  return false;
}

std::vector<std::string> FindUsbFloppyDrives(const std::string&) {
  return {};
}

}  // namespace floppyset
