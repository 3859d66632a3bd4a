// The structure of a disk image checked without writing anything: whether it can be read at
// all, what damages it, and which of its files would not come out whole.
#pragma once

#include <string>
#include <vector>

#include "image/disk_image.h"
#include "image/flat_image.h"

namespace floppyset {

struct FileLoss {
  std::string path;  // directories joined with '/', as stored
  std::string what;  // in words
};

struct ImageCheck {
  // False: the image cannot be opened or has no FAT12 layout; nothing of it can be trusted.
  bool readable = true;
  // Why the image is damaged beyond single files (layout, cross-linked clusters, directories
  // whose chains or links are broken, a flat list cut short), in words; empty when it is not.
  std::string reason;
  // Files that would come out cut (longer than their chain, a chain that leaves the image or
  // loops) or not at all (a name not allowed, or a directory of such a name).
  std::vector<FileLoss> files;

  bool sound() const { return readable && reason.empty() && files.empty(); }
};

// The whole tree from the root; CurrentDirectory is left as it was.
ImageCheck CheckDiskImage(DiskImage& image);
ImageCheck CheckFlatImage(const FlatImage& image);

}  // namespace floppyset
