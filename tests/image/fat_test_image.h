// A standard 1.44 MB FAT12 image assembled byte by byte, for cases the real tools cannot
// make (exact cluster numbers, markers, broken chains).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "support/temp_dir.h"

namespace floppyset::testing {

struct TestFatImage {
  static constexpr size_t kSize = 1'474'560;
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kSize, 0);

  TestFatImage() {
    const uint8_t boot[] = {0, 2, 1, 1, 0, 2, 224, 0, 0x40, 0x0B, 0xF0, 9, 0, 18, 0, 2};
    std::memcpy(bytes.data() + 11, boot, sizeof boot);
    SetFat(0, 0xFF0);
    SetFat(1, 0xFFF);
  }
  void SetFat(uint16_t cluster, uint16_t value) {
    uint8_t* entry = bytes.data() + 512 + cluster * 3 / 2;
    const uint16_t word = LoadLe16(entry);
    StoreLe16(entry, (cluster & 1) ? static_cast<uint16_t>((word & 0x000F) | value << 4)
                                   : static_cast<uint16_t>((word & 0xF000) | value));
  }
  // Links the clusters in order and ends the chain.
  void Chain(const std::vector<uint16_t>& clusters) {
    for (size_t i = 0; i < clusters.size(); ++i) {
      SetFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0xFFF);
    }
  }
  uint8_t* Root(size_t slot) { return bytes.data() + 19 * 512 + slot * 32; }
  uint8_t* Cluster(uint16_t cluster) { return bytes.data() + (cluster + 31) * 512; }
  // Writes a slot: `name11` is the 11-byte name and extension.
  static void Slot(uint8_t* slot, const char* name11, uint8_t attributes, uint16_t cluster = 0,
                   uint32_t size = 0) {
    std::memcpy(slot, name11, 11);
    slot[11] = attributes;
    StoreLe16(slot + 22, 0x8000);
    StoreLe16(slot + 24, 0x2E21);
    StoreLe16(slot + 26, cluster);
    StoreLe32(slot + 28, size);
  }
  // A subdirectory of one cluster holding its "." and ".." slots.
  void Subdirectory(uint8_t* slot, const char* name11, uint16_t cluster, uint16_t parent) {
    Slot(slot, name11, 0x10, cluster);
    Chain({cluster});
    Slot(Cluster(cluster), ".          ", 0x10, cluster);
    Slot(Cluster(cluster) + 32, "..         ", 0x10, parent);
  }
  // A file whose data fills consecutive clusters from `first` with `fill`.
  void File(uint8_t* slot, const char* name11, uint16_t first, uint32_t size, uint8_t fill,
            uint8_t attributes = 0x20) {
    Slot(slot, name11, attributes, size ? first : 0, size);
    std::vector<uint16_t> chain;
    for (uint32_t i = 0; i * 512 < size; ++i) chain.push_back(static_cast<uint16_t>(first + i));
    Chain(chain);
    if (size) std::memset(Cluster(first), fill, size);
  }
  std::string Save(const TempDir& dir) const {
    WriteFileBytes(dir / "image.ima", bytes);
    return dir / "image.ima";
  }
};

}  // namespace floppyset::testing
