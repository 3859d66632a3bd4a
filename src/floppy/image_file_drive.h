// A floppy drive made of image files, for machines without a floppy drive and for the
// demo: one drive (A:) whose disk n is written as DIR/disk<n>.img, a 1,474,560-byte file
// laid out like the disk (sector order), zero where nothing was written.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "floppy/floppy_device.h"
#include "host/host.h"

namespace floppyset {

inline constexpr uint32_t kFloppyDiskBytes = 1474560;

class ImageFileDrives : public FloppyDrives {
 public:
  ImageFileDrives(Host& host, std::string directory);

  bool IsFloppyDrive(uint8_t drive) override { return drive == 0; }
  std::string Label(uint8_t drive) override;
  std::unique_ptr<FloppyDevice> MakeDevice(uint8_t drive) override;
  void BeginDisk(uint32_t disk_number) override { disk_number_ = disk_number; }

  // DIR/disk<n>.img
  std::string DiskPath(uint32_t disk_number) const;

 private:
  Host& host_;
  std::string directory_;
  uint32_t disk_number_ = 1;
};

}  // namespace floppyset
