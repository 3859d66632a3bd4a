// Builds a standard 1.44 MB FAT12 floppy image from a directory tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace floppyset {

// Fills `image` with 1,474,560 bytes: 8.3 names upper-cased, subdirectories with "." and "..",
// last-write times from the files, the read-only bit where the write bits are missing.
// False with a message in `error` when a name has no 8.3 form or the files do not fit.
bool BuildFat12Image(const std::string& directory, std::vector<uint8_t>& image, std::string& error);

}  // namespace floppyset
