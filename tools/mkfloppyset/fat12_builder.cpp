#include "mkfloppyset/fat12_builder.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <unordered_map>

#include "base/bytes.h"
#include "mkfloppyset/fat_names.h"

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
constexpr uint32_t kRootSectors = kRootSlots * kSlotSize / kBytesPerSector;
constexpr uint32_t kFirstDataSector = kReservedSectors + kFatCount * kSectorsPerFat + kRootSectors;
constexpr uint32_t kClusterCount = kTotalSectors - kFirstDataSector;  // one sector per cluster
constexpr uint16_t kEndOfChain = 0xFFF;

constexpr uint8_t kAttrReadOnly = 0x01;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrArchive = 0x20;

struct Node {
  fs::path source;
  std::string relative;    // UTF-8, directories joined by '/'
  std::string short_path;  // 8.3 names joined by '\'
  FatName name;
  bool is_directory = false;
  uint8_t attributes = 0;
  uint16_t dos_time = 0;
  uint16_t dos_date = 0;
  uint32_t size = 0;
  std::vector<Node> children;
  unsigned disk = 0;            // a file or empty directory: the disk it goes on
  std::vector<unsigned> disks;  // a directory: the disks it appears on, ascending
  uint16_t first_cluster = 0;   // on the disk being written
};

bool OnDisk(const Node& node, unsigned disk) {
  if (!node.is_directory || node.children.empty()) return node.disk == disk;
  return std::binary_search(node.disks.begin(), node.disks.end(), disk);
}

uint16_t DosDate(int year, int month, int day) {
  return static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
}

// A file's last-write time as a local DOS date and time (two-second steps), moved into the
// DOS range with a warning.
void DosTimeOf(const Node& node, const Fat12Options& options, uint16_t& dos_time,
               uint16_t& dos_date) {
  std::error_code error;
  const auto written = fs::last_write_time(node.source, error);
  dos_time = 0;
  dos_date = DosDate(1980, 1, 1);
  if (error) return;
  const auto system = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
      std::chrono::file_clock::to_sys(written));
  const std::time_t seconds = std::chrono::system_clock::to_time_t(system);
  std::tm local{};
  const std::tm* converted = std::localtime(&seconds);
  const bool known = converted != nullptr;
  if (known) local = *converted;
  if (known && local.tm_year >= 80 && local.tm_year <= 207) {
    dos_date = DosDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    dos_time = static_cast<uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return;
  }
  const bool late = known && local.tm_year > 207;
  if (late) {
    dos_date = DosDate(2107, 12, 31);
    dos_time = (23 << 11) | (59 << 5) | 29;
  }
  if (options.warnings) {
    options.warnings->push_back(
        "\"" + node.relative + "\" is dated " +
        (known ? std::to_string(local.tm_year + 1900) : std::string("outside the calendar")) +
        ", outside the DOS dates; it is dated " + (late ? "2107-12-31 23:59:58" : "1980-01-01") +
        " on the disk");
  }
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

uint32_t DirectoryClusters(uint32_t slots) {
  return ClustersFor(uint64_t{slots} * kSlotSize);
}

// Reads a directory tree into nodes, in name order, with their FAT names.
bool ScanDirectory(const fs::path& directory, const Node* parent, const Fat12Options& options,
                   std::vector<Node>& nodes, std::string& error) {
  std::error_code code;
  std::vector<fs::directory_entry> items;
  for (const fs::directory_entry& item : fs::directory_iterator(directory, code)) {
    std::error_code broken;
    if (item.is_symlink(broken) && !item.exists(broken)) {
      if (options.warnings) {
        options.warnings->push_back("skipped \"" + item.path().string() +
                                    "\", a symbolic link to nothing");
      }
      continue;
    }
    items.push_back(item);
  }
  if (code) {
    error = "cannot read the directory \"" + directory.string() + "\": " + code.message();
    return false;
  }
  std::sort(items.begin(), items.end());
  std::vector<std::string> names;
  for (const fs::directory_entry& item : items) names.push_back(item.path().filename().string());
  std::vector<FatName> fat_names;
  const std::string where = parent ? parent->relative + "/" : "";
  if (!MakeFatNames(names, where, options.oem_code_page, fat_names, error)) return false;
  for (size_t i = 0; i < items.size(); ++i) {
    Node node;
    node.source = items[i].path();
    node.relative = where + names[i];
    node.name = fat_names[i];
    node.short_path =
        (parent ? parent->short_path + "\\" : "") + ShortNameText(node.name.short_name);
    DosTimeOf(node, options, node.dos_time, node.dos_date);
    node.is_directory = items[i].is_directory(code);
    if (node.is_directory) {
      node.attributes = kAttrDirectory;
      if (!ScanDirectory(node.source, &node, options, node.children, error)) return false;
    } else if (items[i].is_regular_file(code)) {
      const uint64_t size = items[i].file_size(code);
      if (code || size > 0xFFFFFFFFu) {
        error = "cannot read the size of \"" + node.source.string() + "\"";
        return false;
      }
      node.size = static_cast<uint32_t>(size);
      node.attributes = kAttrArchive | (IsReadOnly(node.source) ? kAttrReadOnly : 0);
    } else {
      error = "\"" + node.source.string() + "\" is neither a file nor a directory";
      return false;
    }
    nodes.push_back(std::move(node));
  }
  return true;
}

// A file or empty directory to be placed, with the directories above it, outermost first.
struct Leaf {
  Node* node;
  std::vector<Node*> above;
};

void CollectLeaves(std::vector<Node>& nodes, std::vector<Node*>& above, std::vector<Leaf>& out) {
  for (Node& node : nodes) {
    if (node.is_directory && !node.children.empty()) {
      above.push_back(&node);
      CollectLeaves(node.children, above, out);
      above.pop_back();
    } else {
      out.push_back({&node, above});
    }
  }
}

// What one disk holds so far: the slots of each of its directories and its clusters.
class DiskUse {
 public:
  // Adds the leaf when the disk keeps to `cluster_limit` clusters and its root to 224 slots.
  bool TryAdd(const Leaf& leaf, uint32_t cluster_limit) {
    changes_.clear();
    uint32_t clusters = clusters_, root = root_slots_;
    auto add_slots = [&](const Node* directory, uint32_t count) {
      if (!directory) {
        root += count;
        return;
      }
      const uint32_t before = SlotsOf(directory);
      changes_.emplace_back(directory, before + count);
      clusters += DirectoryClusters(before + count) - DirectoryClusters(before);
    };
    const Node* parent = nullptr;
    for (const Node* directory : leaf.above) {
      if (SlotsOf(directory) == 0) {
        add_slots(parent, directory->name.SlotCount());
        add_slots(directory, 2);  // "." and ".."
      }
      parent = directory;
    }
    add_slots(parent, leaf.node->name.SlotCount());
    if (leaf.node->is_directory) {
      add_slots(leaf.node, 2);
    } else {
      clusters += ClustersFor(leaf.node->size);
    }
    if (clusters > cluster_limit || root > kRootSlots) return false;
    for (const auto& [directory, slots] : changes_) slots_[directory] = slots;
    clusters_ = clusters;
    root_slots_ = root;
    return true;
  }
  uint32_t clusters() const { return clusters_; }

 private:
  uint32_t SlotsOf(const Node* directory) const {
    for (auto it = changes_.rbegin(); it != changes_.rend(); ++it) {
      if (it->first == directory) return it->second;
    }
    const auto found = slots_.find(directory);
    return found == slots_.end() ? 0 : found->second;
  }

  std::unordered_map<const Node*, uint32_t> slots_;
  std::vector<std::pair<const Node*, uint32_t>> changes_;
  uint32_t clusters_ = 0;
  uint32_t root_slots_ = 0;
};

// Places every leaf on the first disk with room for it under `cluster_limit`; the number of
// disks used, or 0 when a leaf fits on no disk at all (`refused` names it).
unsigned PlaceLeaves(std::vector<Leaf>& leaves, uint32_t cluster_limit, const Leaf** refused) {
  std::vector<DiskUse> disks;
  for (Leaf& leaf : leaves) {
    unsigned disk = 0;
    while (disk < disks.size() && !disks[disk].TryAdd(leaf, cluster_limit)) ++disk;
    if (disk == disks.size()) {
      disks.emplace_back();
      if (!disks.back().TryAdd(leaf, cluster_limit)) {
        if (refused) *refused = &leaf;
        return 0;
      }
    }
    leaf.node->disk = disk;
  }
  return static_cast<unsigned>(disks.size());
}

// Marks every directory with the disks of the leaves below it.
void MarkDirectories(std::vector<Node>& nodes) {
  for (Node& node : nodes) {
    if (!node.is_directory || node.children.empty()) continue;
    MarkDirectories(node.children);
    node.disks.clear();
    for (const Node& child : node.children) {
      if (child.is_directory && !child.children.empty()) {
        node.disks.insert(node.disks.end(), child.disks.begin(), child.disks.end());
      } else {
        node.disks.push_back(child.disk);
      }
    }
    std::sort(node.disks.begin(), node.disks.end());
    node.disks.erase(std::unique(node.disks.begin(), node.disks.end()), node.disks.end());
  }
}

uint32_t SlotsOn(const std::vector<Node>& children, unsigned disk) {
  uint32_t slots = 0;
  for (const Node& child : children) {
    if (OnDisk(child, disk)) slots += child.name.SlotCount();
  }
  return slots;
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

// Allocates and writes the children of one directory that lie on `disk`, their slots from
// `slots` onward.
bool WriteChildren(Fat12Writer& writer, std::vector<Node>& children, unsigned disk, uint8_t* slots,
                   uint16_t own_cluster, Fat12Disk* listing, std::string& error) {
  for (Node& node : children) {
    if (!OnDisk(node, disk)) continue;
    if (node.is_directory) {
      node.first_cluster =
          writer.AllocateChain(DirectoryClusters(2 + SlotsOn(node.children, disk)));
      uint8_t* own = writer.ClusterData(node.first_cluster);
      WriteSlot(own, ".          ", kAttrDirectory, node.dos_time, node.dos_date,
                node.first_cluster, 0);
      WriteSlot(own + kSlotSize, "..         ", kAttrDirectory, node.dos_time, node.dos_date,
                own_cluster, 0);
      if (!WriteChildren(writer, node.children, disk, own + 2 * kSlotSize, node.first_cluster,
                         listing, error)) {
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
      if (listing) listing->files.emplace_back(node.relative, node.short_path);
    }
    WriteLongNameSlots(slots, node.name);
    slots += (node.name.SlotCount() - 1) * kSlotSize;
    WriteSlot(slots, node.name.short_name, node.attributes, node.dos_time, node.dos_date,
              node.first_cluster, node.size);
    slots += kSlotSize;
  }
  return true;
}

// The image of the nodes on `disk`, which the caller knows to fit.
bool WriteDisk(std::vector<Node>& root, unsigned disk, std::vector<uint8_t>& image,
               Fat12Disk* listing, std::string& error) {
  image.assign(size_t{kTotalSectors} * kBytesPerSector, 0);
  Fat12Writer writer(image);
  writer.WriteBootSector();
  // Directory clusters are written contiguously, so their slots run on from one cluster into
  // the next.
  if (!WriteChildren(writer, root, disk, writer.RootDirectory(), 0, listing, error)) return false;
  writer.CopyFatToSecondCopy();
  return true;
}

bool ScanTree(const std::string& directory, const Fat12Options& options, std::vector<Node>& root,
              std::vector<Leaf>& leaves, std::string& error) {
  if (!ScanDirectory(directory, nullptr, options, root, error)) return false;
  std::vector<Node*> above;
  CollectLeaves(root, above, leaves);
  return true;
}

}  // namespace

bool BuildFat12Image(const std::string& directory, std::vector<uint8_t>& image, std::string& error,
                     const Fat12Options& options) {
  std::vector<Node> root;
  std::vector<Leaf> leaves;
  if (!ScanTree(directory, options, root, leaves, error)) return false;
  DiskUse use;
  for (const Leaf& leaf : leaves) {
    if (use.TryAdd(leaf, UINT32_MAX)) continue;
    error = "\"" + directory + "\" holds more than the 224 entries of a 1.44 MB disk's root " +
            "directory (long names take more than one); --split spreads it over several disks";
    return false;
  }
  if (use.clusters() > kClusterCount) {
    error = "the files of \"" + directory + "\" need " +
            std::to_string(uint64_t{use.clusters()} * kBytesPerSector) +
            " bytes; a 1.44 MB disk holds " + std::to_string(kClusterCount * kBytesPerSector) +
            " (--split spreads them over several disks)";
    return false;
  }
  MarkDirectories(root);
  return WriteDisk(root, 0, image, nullptr, error);
}

bool SplitToFat12Images(const std::string& directory, unsigned disk_count,
                        std::vector<Fat12Disk>& disks, std::string& error,
                        const Fat12Options& options) {
  std::vector<Node> root;
  std::vector<Leaf> leaves;
  if (!ScanTree(directory, options, root, leaves, error)) return false;
  const Leaf* refused = nullptr;
  unsigned needed = PlaceLeaves(leaves, kClusterCount, &refused);
  if (needed == 0 && refused) {
    error = "\"" + refused->node->relative + "\" (" + std::to_string(refused->node->size) +
            " bytes) does not fit on a 1.44 MB disk, which holds " +
            std::to_string(kClusterCount * kBytesPerSector);
    return false;
  }
  if (needed == 0) needed = 1;  // an empty tree still makes one empty disk
  if (disk_count != 0 && needed > disk_count) {
    error = "the files of \"" + directory + "\" need " + std::to_string(needed) + " disks, not " +
            std::to_string(disk_count);
    return false;
  }
  if (disk_count > needed) {
    // The fewest clusters per disk that still fits the count fills the disks evenly.
    uint32_t low = 1, high = kClusterCount;
    while (low < high) {
      const uint32_t middle = (low + high) / 2;
      const unsigned used = PlaceLeaves(leaves, middle, nullptr);
      if (used != 0 && used <= disk_count) {
        high = middle;
      } else {
        low = middle + 1;
      }
    }
    needed = PlaceLeaves(leaves, high, nullptr);
    if (needed != disk_count) {
      error = "the files of \"" + directory + "\" fill at most " + std::to_string(needed) +
              " disks, not " + std::to_string(disk_count);
      return false;
    }
  }
  MarkDirectories(root);
  disks.assign(needed, Fat12Disk{});
  for (unsigned disk = 0; disk < needed; ++disk) {
    if (!WriteDisk(root, disk, disks[disk].image, &disks[disk], error)) return false;
  }
  return true;
}

}  // namespace floppyset
