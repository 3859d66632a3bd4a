// A floppy drive made of image files, for machines without a floppy drive and for the
// demo: one drive (A:) whose disk n is written as DIR/disk<n>.img, a 1,474,560-byte file
// laid out like the disk (sector order), zero where nothing was written. DIR and its missing
// parents are made when the first disk is opened; a disk that is not finished is removed
// (and the directories made for it, when nothing else is in them).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/outcome.h"
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

  // Makes DIR and its missing parents; false with `failure` naming the directory and the cause.
  bool MakeDirectory(std::string& failure);
  // Removes the directories MakeDirectory made, deepest first, as far as they are empty.
  void RemoveMadeDirectories();

 private:
  Host& host_;
  std::string directory_;
  uint32_t disk_number_ = 1;
  std::vector<std::string> made_;  // by MakeDirectory, outermost first
};

// Copies `source` to the new file `target` through the host; a target that could not be
// written whole is removed. False with `failure` naming the file and the cause.
bool WriteImageFile(Host& host, const std::string& source, const std::string& target,
                    std::string& failure);

// What ExportIntactImages did: the images written, and a text for each one that was not.
struct ImageExport {
  uint32_t written = 0;
  std::vector<std::string> failures;
};

// Copies each intact image of the workspace (`images`, the set's account) to DIR/disk<n>.img.
// DIR is made for the first image and removed again when no image could be written; an image
// written short is removed. The damaged and missing ones are left to the caller to name.
ImageExport ExportIntactImages(Host& host, const std::string& workspace, const SetAccount& images,
                               const std::string& directory);

// The host's reason for its last failure, or words saying that it gave none.
std::string HostCause(Host& host);

}  // namespace floppyset
