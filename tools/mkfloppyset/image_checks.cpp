#include "mkfloppyset/image_checks.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "image/flat_image.h"

namespace floppyset {

bool CheckFat12FloppyImage(const std::vector<uint8_t>& image, std::string& reason) {
  static constexpr size_t kFloppySizes[] = {163840, 184320,  327680, 368640,
                                            737280, 1228800, 1474560};
  const size_t size = image.size();
  if (std::find(std::begin(kFloppySizes), std::end(kFloppySizes), size) == std::end(kFloppySizes)) {
    reason = "is " + std::to_string(size) + " bytes, not the size of a floppy image " +
             "(160, 180, 320, 360, 720 KB, 1.2 or 1.44 MB)";
    return false;
  }
  const uint8_t* boot = image.data();
  const uint32_t sector = LoadLe16(boot + 11), per_cluster = boot[13];
  const uint32_t reserved = LoadLe16(boot + 14), fats = boot[16];
  const uint32_t root_slots = LoadLe16(boot + 17), total = LoadLe16(boot + 19);
  const uint32_t media = boot[21], per_fat = LoadLe16(boot + 22);
  const uint32_t system = reserved + fats * per_fat + root_slots * 32 / 512;
  std::string fault;
  if (sector != 512)
    fault = "sector size " + std::to_string(sector);
  else if (per_cluster == 0 || (per_cluster & (per_cluster - 1)) != 0)
    fault = "cluster size of " + std::to_string(per_cluster) + " sectors";
  else if (reserved == 0 || fats == 0 || fats > 2 || per_fat == 0 || root_slots == 0)
    fault = "no FAT or root directory";
  else if (uint64_t{total} * 512 != size)
    fault = "it counts " + std::to_string(total) + " sectors, the file holds " +
            std::to_string(size / 512);
  else if (media < 0xF0 || image[reserved * 512] != media)
    fault = "no floppy media byte";
  else if (system >= total || (total - system) / per_cluster >= 4085)
    fault = "not a FAT12 layout";
  if (fault.empty()) return true;
  reason = "is no FAT12 floppy image (" + fault + " in its boot sector)";
  return false;
}

bool CheckFlatImageBytes(const std::vector<uint8_t>& image, std::string& reason) {
  size_t at = 0;
  while (at + kFlatHeaderSize <= image.size()) {
    const auto* record = reinterpret_cast<const FlatRecord*>(image.data() + at);
    const std::string_view path = record->RelativePath();
    if (path.empty()) {
      if (at + kFlatHeaderSize == image.size()) return true;
      reason = "is no flat image (bytes follow its closing record)";
      return false;
    }
    if (!IsWritableRecordPath(path, 0)) {
      reason = "is no flat image (a record names no path inside a folder)";
      return false;
    }
    at += kFlatHeaderSize + record->DataSize();
  }
  reason = "is no flat image (its records do not end in a closing record)";
  return false;
}

}  // namespace floppyset
