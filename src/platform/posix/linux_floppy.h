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
  // the only drive (A:). sysfs and procfs are read below `system_root` ("" for the machine's
  // own; tests lay out their own).
  explicit LinuxFloppyDrives(const std::string& device_override = "", std::string system_root = "");

  bool IsFloppyDrive(uint8_t drive) override { return drive < drives_.size(); }
  std::string Label(uint8_t drive) override;
  std::unique_ptr<FloppyDevice> MakeDevice(uint8_t drive) override;
  // A device override that is no floppy drive (FloppyDeviceRefusal).
  std::string Refusal() override;
  // Real disks: the warning is asked before every run.
  bool ConfirmsEveryRun() const override { return true; }

  const std::vector<LinuxFloppyDrive>& drives() const { return drives_; }

 private:
  std::string device_override_;
  std::string system_root_;
  std::vector<LinuxFloppyDrive> drives_;
};

// Why `path` must not be written as a floppy drive, naming it; empty when it may: a floppy
// controller drive (`can_format` set), or a whole removable block device of 2,880 sectors
// of 512 bytes; in either case not mounted (nor a partition of it) and writable by the user.
// A file, a directory, another kind of device, a fixed disk or one of another size is refused.
std::string FloppyDeviceRefusal(const std::string& path, const std::string& system_root,
                                bool& can_format);

// True when `path` is a floppy controller drive (block major 2, or FDGETDRVTYP answers).
bool IsFloppyControllerDrive(const std::string& path);
// The USB floppy drives: /dev/sdX for each /sys/block/sdX removable with 2,880 sectors.
std::vector<std::string> FindUsbFloppyDrives(const std::string& sys_block = "/sys/block");

}  // namespace floppyset
