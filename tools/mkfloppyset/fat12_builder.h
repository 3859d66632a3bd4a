// Builds standard 1.44 MB FAT12 floppy images from a directory tree: one image of the whole
// tree, or as many as it needs, each file whole on one of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/codepage.h"

namespace floppyset {

struct Fat12Options {
  int oem_code_page = kOemCodePage;  // of the 8.3 names
  // Told of dates moved into the DOS range (1980 to 2107), one line each; may be null.
  std::vector<std::string>* warnings = nullptr;
};

// One disk of a split tree: its image and the paths of its files (relative, UTF-8, with '/'),
// each followed by its path on the disk in 8.3 names.
struct Fat12Disk {
  std::vector<uint8_t> image;
  std::vector<std::pair<std::string, std::string>> files;
};

// Fills `image` with 1,474,560 bytes: names in 8.3 form (a long name beside them where the
// 8.3 form does not say it all), subdirectories with "." and "..", last-write times from the
// files as local DOS times, the read-only bit where the write bits are missing.
// False with a message in `error` when a name cannot be stored or the files do not fit.
bool BuildFat12Image(const std::string& directory, std::vector<uint8_t>& image, std::string& error,
                     const Fat12Options& options = {});

// Spreads the tree over as few disks as it needs (`disk_count` 0), or over exactly
// `disk_count` disks, filled evenly; each file lies whole on one disk, in its directories.
// False with a reason when a file is larger than a disk or the count cannot be met.
bool SplitToFat12Images(const std::string& directory, unsigned disk_count,
                        std::vector<Fat12Disk>& disks, std::string& error,
                        const Fat12Options& options = {});

}  // namespace floppyset
