// Floppy drives of a Linux machine: the floppy controller's drives (/dev/fd0, /dev/fd1),
// which can also format tracks, then USB floppy drives (removable block devices of 2,880
// sectors), which read and write only. Drive indexes 0.. (A:, B:, ...) follow that order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "floppy/floppy_device.h"

namespace floppyset {

struct LinuxFloppyDrive {
  std::string path;         // "/dev/fd0", "/dev/sdb", ...
  bool can_format = false;  // a floppy controller drive
};

class LinuxFloppyDrives : public FloppyDrives {
 public:
  // Probes the machine's drives; with a `device_override` ("--device=PATH") that path is
  // the only drive (A:).
  explicit LinuxFloppyDrives(const std::string& device_override = "");

  bool IsFloppyDrive(uint8_t drive) override { return drive < drives_.size(); }
  std::string Label(uint8_t drive) override;
  std::unique_ptr<FloppyDevice> MakeDevice(uint8_t drive) override;

  const std::vector<LinuxFloppyDrive>& drives() const { return drives_; }

 private:
  std::vector<LinuxFloppyDrive> drives_;
};

// True when `path` is a floppy controller drive (block major 2, or FDGETDRVTYP answers).
bool IsFloppyControllerDrive(const std::string& path);
// The USB floppy drives: /dev/sdX for each /sys/block/sdX removable with 2,880 sectors.
std::vector<std::string> FindUsbFloppyDrives(const std::string& sys_block = "/sys/block");

}  // namespace floppyset
