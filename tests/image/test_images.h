// Disk images assembled byte by byte for the image tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "image/flat_image.h"

namespace floppyset::testing {

// A standard 1.44 MB image.
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
  void Chain(const std::vector<uint16_t>& clusters) {  // linked in order, then ended
    for (size_t i = 0; i < clusters.size(); ++i)
      SetFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0xFFF);
  }
  uint8_t* Root(size_t slot) { return bytes.data() + 19 * 512 + slot * 32; }
  uint8_t* Cluster(uint16_t cluster) { return bytes.data() + (cluster + 31) * 512; }
  // `name11` is the 11 bytes of name and extension.
  static void Slot(uint8_t* slot, const char* name11, uint8_t attributes, uint16_t cluster = 0,
                   uint32_t size = 0) {
    std::memcpy(slot, name11, 11);
    slot[11] = attributes;
    StoreLe16(slot + 22, 0x8000);
    StoreLe16(slot + 24, 0x2E21);
    StoreLe16(slot + 26, cluster);
    StoreLe32(slot + 28, size);
  }
  void Subdirectory(uint8_t* slot, const char* name11, uint16_t cluster, uint16_t parent) {
    Slot(slot, name11, 0x10, cluster);
    Chain({cluster});
    Slot(Cluster(cluster), ".          ", 0x10, cluster);
    Slot(Cluster(cluster) + 32, "..         ", 0x10, parent);
  }
  // Data filling consecutive clusters from `first`.
  void File(uint8_t* slot, const char* name11, uint16_t first, uint32_t size, uint8_t fill,
            uint8_t attributes = 0x20) {
    Slot(slot, name11, attributes, size ? first : 0, size);
    std::vector<uint16_t> chain;
    for (uint32_t i = 0; i * 512 < size; ++i) chain.push_back(static_cast<uint16_t>(first + i));
    Chain(chain);
    if (size) std::memset(Cluster(first), fill, size);
  }
};

struct Record {
  std::string path, data;
  uint32_t attributes = kAttrArchive;
  uint64_t times[3] = {};  // created, accessed, written
};

inline std::vector<uint8_t> FlatBytes(const std::vector<Record>& records, bool terminated = true) {
  std::vector<uint8_t> out;
  for (const Record& r : records) {
    std::vector<uint8_t> header(kFlatHeaderSize, 0);
    StoreLe32(header.data(), r.attributes);
    for (int i = 0; i < 3; ++i) StoreLe64(header.data() + 4 + 8 * i, r.times[i]);
    StoreLe32(header.data() + 28, static_cast<uint32_t>(r.data.size()));
    std::copy_n(r.path.begin(), std::min<size_t>(r.path.size(), 260), header.begin() + 32);
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), r.data.begin(), r.data.end());
  }
  if (terminated) out.resize(out.size() + kFlatHeaderSize, 0);
  return out;
}

}  // namespace floppyset::testing
