// What a disk image given to mkfloppyset must be before it goes into a set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace floppyset {

// A FAT12 image of a floppy size (160 KB to 1.44 MB) whose boot sector describes it; false
// with the reason otherwise.
bool CheckFat12FloppyImage(const std::vector<uint8_t>& image, std::string& reason);

// A flat image: records that follow each other to a closing record at the very end; false
// with the reason otherwise.
bool CheckFlatImageBytes(const std::vector<uint8_t>& image, std::string& reason);

}  // namespace floppyset
