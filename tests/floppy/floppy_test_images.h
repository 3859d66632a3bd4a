// FAT12 disk images for the floppy tests, made by mtools (an independent FAT12 writer).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace floppyset::testing {

enum class ImageContent {
  kEmptyRoot,        // a freshly formatted disk
  kZeroLengthFiles,  // one file of 0 bytes
  kHighCluster1403,  // one file on clusters 2 to 1,403
  kFull,             // one file filling every cluster
};

// Writes a 1.44 MB FAT12 image with that content to `path`; false when mtools failed.
bool MakeFat12Image(const std::string& path, ImageContent content);

// Bytes that differ from cylinder to cylinder, for file contents.
std::vector<uint8_t> PatternBytes(size_t count, uint8_t seed);

}  // namespace floppyset::testing
