#include "mkfloppyset/fat12_builder.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "base/bytes.h"

namespace floppyset {
namespace {

namespace fs = std::filesystem;

// The standard 1.44 MB layout.
constexpr uint32_t kBytesPerSector = 512;
constexpr uint32_t kTotalSectors = 2880;
constexpr uint32_t kReservedSectors = 1;
constexpr uint32_t kFatCount = 2;
constexpr uint32_t kSectorsPerFat = 9;
constexpr uint32_t kRootSlots = 224;
constexpr uint32_t kSectorsPerTrack = 18;
constexpr uint32_t kHeads = 2;
constexpr uint8_t kMediaByte = 0xF0;
constexpr uint32_t kSlotSize = 32;
constexpr uint32_t kRootSectors = kRootSlots * kSlotSize / kBytesPerSector;
constexpr uint32_t kFirstDataSector = kReservedSectors + kFatCount * kSectorsPerFat + kRootSectors;
constexpr uint32_t kClusterCount = kTotalSectors - kFirstDataSector;  // one sector per cluster
constexpr uint16_t kEndOfChain = 0xFFF;

constexpr uint8_t kAttrReadOnly = 0x01;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrArchive = 0x20;

struct Node {
  std::string source_name;
  fs::path source;
  std::string short_name;  // 11 characters, blank-padded
  bool is_directory = false;
  uint8_t attributes = 0;
  uint16_t dos_time = 0;
  uint16_t dos_date = 0;
  uint32_t size = 0;
  uint16_t first_cluster = 0;
  std::vector<Node> children;
};

bool IsShortNameChar(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= '0' && c <= '9') return true;
  if (c >= 0x80) return true;
  return std::string_view("!#$%&'()-@^_`{}~").find(static_cast<char>(c)) != std::string_view::npos;
}

// The 11-character directory form of a name that has an 8.3 form, upper-cased.
bool ToShortName(const std::string& name, std::string& out) {
  const size_t dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || extension.size() > 3) return false;
  if (dot != std::string::npos && extension.empty()) return false;
  out.assign(11, ' ');
  for (size_t i = 0; i < base.size() + extension.size(); ++i) {
    const bool in_base = i < base.size();
    const auto c = static_cast<unsigned char>(
        std::toupper(static_cast<unsigned char>(in_base ? base[i] : extension[i - base.size()])));
    if (!IsShortNameChar(c)) return false;
    out[in_base ? i : 8 + i - base.size()] = static_cast<char>(c);
  }
  return static_cast<unsigned char>(out[0]) != 0xE5;
}

// A file's last-write time as a local DOS date and time, clamped to the DOS range.
void DosTimeOf(const fs::path& path, uint16_t& dos_time, uint16_t& dos_date) {
  std::error_code error;
  const auto written = fs::last_write_time(path, error);
  dos_time = 0;
  dos_date = (0 << 9) | (1 << 5) | 1;  // 1980-01-01
  if (error) return;
  const auto system = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
      std::chrono::file_clock::to_sys(written));
  const std::time_t seconds = std::chrono::system_clock::to_time_t(system);
  const std::tm* local = std::localtime(&seconds);
  if (!local || local->tm_year < 80) return;
  if (local->tm_year > 207) {
    dos_date = (127 << 9) | (12 << 5) | 31;
    dos_time = (23 << 11) | (59 << 5) | 29;
    return;
  }
  dos_date =
      static_cast<uint16_t>((local->tm_year - 80) << 9 | (local->tm_mon + 1) << 5 | local->tm_mday);
  dos_time = static_cast<uint16_t>(local->tm_hour << 11 | local->tm_min << 5 | local->tm_sec / 2);
}

bool IsReadOnly(const fs::path& path) {
  std::error_code error;
  const fs::perms perms = fs::status(path, error).permissions();
  if (error) return false;
  return (perms & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) ==
         fs::perms::none;
}

uint32_t ClustersFor(uint64_t bytes) {
  return static_cast<uint32_t>((bytes + kBytesPerSector - 1) / kBytesPerSector);
}

// Reads a directory tree into nodes (sorted by name); counts the clusters it needs.
bool ScanDirectory(const fs::path& directory, std::vector<Node>& nodes, uint64_t& clusters,
                   std::string& error) {
  std::error_code code;
  for (const fs::directory_entry& item : fs::directory_iterator(directory, code)) {
    Node node;
    node.source = item.path();
    node.source_name = item.path().filename().string();
    if (!ToShortName(node.source_name, node.short_name)) {
      error = "\"" + node.source.string() + "\" has no 8.3 name (at most 8 characters, a dot " +
              "and 3 characters, no blanks)";
      return false;
    }
    for (const Node& other : nodes) {
      if (other.short_name == node.short_name) {
        error = "\"" + node.source.string() + "\" and \"" + other.source_name +
                "\" have the same 8.3 name";
        return false;
      }
    }
    DosTimeOf(node.source, node.dos_time, node.dos_date);
    node.is_directory = item.is_directory(code);
    if (node.is_directory) {
      node.attributes = kAttrDirectory;
      if (!ScanDirectory(node.source, node.children, clusters, error)) return false;
      clusters += ClustersFor((node.children.size() + 2) * uint64_t{kSlotSize});
    } else if (item.is_regular_file(code)) {
      const uint64_t size = item.file_size(code);
      if (code || size > 0xFFFFFFFFu) {
        error = "cannot read the size of \"" + node.source.string() + "\"";
        return false;
      }
      node.size = static_cast<uint32_t>(size);
      node.attributes = kAttrArchive | (IsReadOnly(node.source) ? kAttrReadOnly : 0);
      clusters += ClustersFor(size);
    } else {
      error = "\"" + node.source.string() + "\" is neither a file nor a directory";
      return false;
    }
    nodes.push_back(std::move(node));
  }
  if (code) {
    error = "cannot read the directory \"" + directory.string() + "\": " + code.message();
    return false;
  }
  std::sort(nodes.begin(), nodes.end(),
            [](const Node& a, const Node& b) { return a.source_name < b.source_name; });
  return true;
}

class Fat12Writer {
 public:
  explicit Fat12Writer(std::vector<uint8_t>& image) : image_(image) {}

  void WriteBootSector() {
    uint8_t* boot = image_.data();
    const uint8_t jump[] = {0xEB, 0x3C, 0x90};
    std::memcpy(boot, jump, sizeof jump);
    std::memcpy(boot + 3, "MKFLOPPY", 8);
    StoreLe16(boot + 11, kBytesPerSector);
    boot[13] = 1;  // sectors per cluster
    StoreLe16(boot + 14, kReservedSectors);
    boot[16] = kFatCount;
    StoreLe16(boot + 17, kRootSlots);
    StoreLe16(boot + 19, kTotalSectors);
    boot[21] = kMediaByte;
    StoreLe16(boot + 22, kSectorsPerFat);
    StoreLe16(boot + 24, kSectorsPerTrack);
    StoreLe16(boot + 26, kHeads);
    boot[38] = 0x29;  // extended boot signature
    StoreLe32(boot + 39, 0x19800101);
    std::memcpy(boot + 43, "NO NAME    ", 11);
    std::memcpy(boot + 54, "FAT12   ", 8);
    // Boot code: tell the BIOS to try the next device (INT 18h), then halt.
    const uint8_t code[] = {0xCD, 0x18, 0xF4, 0xEB, 0xFD};
    std::memcpy(boot + 62, code, sizeof code);
    boot[510] = 0x55;
    boot[511] = 0xAA;
    SetFatEntry(0, 0xF00 | kMediaByte);
    SetFatEntry(1, kEndOfChain);
  }

  // Reserves `count` consecutive clusters as one chain; its first cluster (0 for none).
  uint16_t AllocateChain(uint32_t count) {
    if (count == 0) return 0;
    const uint16_t first = next_free_;
    for (uint32_t i = 0; i < count; ++i) {
      const auto cluster = static_cast<uint16_t>(first + i);
      SetFatEntry(cluster, i + 1 == count ? kEndOfChain : static_cast<uint16_t>(cluster + 1));
    }
    next_free_ = static_cast<uint16_t>(next_free_ + count);
    return first;
  }

  uint8_t* ClusterData(uint16_t cluster) {
    return image_.data() + (kFirstDataSector + cluster - 2u) * kBytesPerSector;
  }
  uint8_t* RootDirectory() {
    return image_.data() + (kReservedSectors + kFatCount * kSectorsPerFat) * kBytesPerSector;
  }

  void CopyFatToSecondCopy() {
    const uint8_t* fat = image_.data() + kReservedSectors * kBytesPerSector;
    std::memcpy(image_.data() + (kReservedSectors + kSectorsPerFat) * kBytesPerSector, fat,
                kSectorsPerFat * kBytesPerSector);
  }

 private:
  void SetFatEntry(uint16_t cluster, uint16_t value) {
    uint8_t* entry = image_.data() + kReservedSectors * kBytesPerSector + cluster * 3u / 2;
    const uint16_t word = LoadLe16(entry);
    StoreLe16(entry, (cluster & 1) ? static_cast<uint16_t>((word & 0x000F) | value << 4)
                                   : static_cast<uint16_t>((word & 0xF000) | value));
  }

  std::vector<uint8_t>& image_;
  uint16_t next_free_ = 2;
};

void WriteSlot(uint8_t* slot, const std::string& short_name, uint8_t attributes, uint16_t dos_time,
               uint16_t dos_date, uint16_t first_cluster, uint32_t size) {
  std::memcpy(slot, short_name.data(), 11);
  slot[11] = attributes;
  StoreLe16(slot + 14, dos_time);  // creation time and date as well
  StoreLe16(slot + 16, dos_date);
  StoreLe16(slot + 18, dos_date);  // last access date
  StoreLe16(slot + 22, dos_time);
  StoreLe16(slot + 24, dos_date);
  StoreLe16(slot + 26, first_cluster);
  StoreLe32(slot + 28, size);
}

// Allocates and writes the children of one directory, their slots from `slots` onward.
bool WriteChildren(Fat12Writer& writer, std::vector<Node>& children, uint8_t* slots,
                   uint16_t own_cluster, std::string& error) {
  for (Node& node : children) {
    if (node.is_directory) {
      const uint32_t clusters = ClustersFor((node.children.size() + 2) * uint64_t{kSlotSize});
      node.first_cluster = writer.AllocateChain(clusters);
      uint8_t* own = writer.ClusterData(node.first_cluster);
      WriteSlot(own, ".          ", kAttrDirectory, node.dos_time, node.dos_date,
                node.first_cluster, 0);
      WriteSlot(own + kSlotSize, "..         ", kAttrDirectory, node.dos_time, node.dos_date,
                own_cluster, 0);
      if (!WriteChildren(writer, node.children, own + 2 * kSlotSize, node.first_cluster, error)) {
        return false;
      }
    } else {
      node.first_cluster = writer.AllocateChain(ClustersFor(node.size));
      if (node.size != 0) {
        std::ifstream in(node.source, std::ios::binary);
        in.read(reinterpret_cast<char*>(writer.ClusterData(node.first_cluster)), node.size);
        if (!in || static_cast<uint64_t>(in.gcount()) != node.size) {
          error = "cannot read \"" + node.source.string() + "\"";
          return false;
        }
      }
    }
    WriteSlot(slots, node.short_name, node.attributes, node.dos_time, node.dos_date,
              node.first_cluster, node.size);
    slots += kSlotSize;
  }
  return true;
}

}  // namespace

bool BuildFat12Image(const std::string& directory, std::vector<uint8_t>& image,
                     std::string& error) {
  std::vector<Node> root;
  uint64_t clusters = 0;
  if (!ScanDirectory(directory, root, clusters, error)) return false;
  if (root.size() > kRootSlots) {
    error = "\"" + directory + "\" holds " + std::to_string(root.size()) +
            " entries; the root directory of a 1.44 MB disk holds at most 224";
    return false;
  }
  if (clusters > kClusterCount) {
    error = "the files of \"" + directory + "\" need " +
            std::to_string(clusters * kBytesPerSector) + " bytes; a 1.44 MB disk holds " +
            std::to_string(kClusterCount * kBytesPerSector);
    return false;
  }
  image.assign(size_t{kTotalSectors} * kBytesPerSector, 0);
  Fat12Writer writer(image);
  writer.WriteBootSector();
  // Directory clusters are written contiguously, so their slots run on from one cluster into
  // the next.
  if (!WriteChildren(writer, root, writer.RootDirectory(), 0, error)) return false;
  writer.CopyFatToSecondCopy();
  return true;
}

}  // namespace floppyset
