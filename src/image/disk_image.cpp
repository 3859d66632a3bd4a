#include "image/disk_image.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "base/codepage.h"
#include "base/path.h"
#include "base/time.h"
#include "ui/messages.h"

namespace floppyset {
namespace {

constexpr uint8_t kEndMarker = 0x00;
constexpr uint8_t kFillerMarker = 0xF6;  // the filler byte of a freshly formatted sector
constexpr uint8_t kDeletedMarker = 0xE5;
constexpr uint8_t kDotMarker = '.';
constexpr uint16_t kEndOfChain = 0xFF8;
constexpr size_t kSlotSize = 32;
// DOS paths hold at most 64 characters, so real trees are far shallower; the bound keeps a
// hostile image from exhausting a worker thread's stack.
constexpr int kMaxDirectoryDepth = 64;
constexpr uint16_t kUnknownHighest = 0xFFFF;

// Boot-sector fields the reader relies on.
constexpr size_t kBytesPerSectorField = 11;
constexpr size_t kSectorsPerClusterField = 13;
constexpr size_t kReservedSectorsField = 14;
constexpr size_t kFatCountField = 16;
constexpr size_t kRootSlotsField = 17;
constexpr size_t kTotalSectorsField = 19;
constexpr size_t kSectorsPerFatField = 22;
constexpr size_t kBootFieldsEnd = 28;

bool EndsDirectory(uint8_t marker) {
  return marker == kEndMarker || marker == kFillerMarker;
}

const DirectoryEntry* AsEntry(const uint8_t* p) {
  return reinterpret_cast<const DirectoryEntry*>(p);
}
const uint8_t* AsBytes(const DirectoryEntry* entry) {
  return entry->raw;
}

// A name field up to its NUL, blank-padded to `width`.
std::string PaddedField(std::string_view field, size_t width) {
  std::string text(field.substr(0, field.find('\0')));
  text.resize(width, ' ');
  return text;
}

std::string TrimmedText(std::string_view field) {
  std::string text(field.substr(0, field.find('\0')));
  TrimTrailingBlanks(text);
  return text;
}

}  // namespace

// Sound images hold each cluster in one file at most, so their files together never exceed
// the image; twice that leaves room and still stops cross-linked chains from multiplying it.
constexpr uint64_t kUnpackSizeFactor = 2;

DiskImage::~DiskImage() = default;

const uint8_t* DiskImage::data() const {
  return mapping_ ? mapping_->data() : nullptr;
}
size_t DiskImage::size() const {
  return mapping_ ? mapping_->size() : 0;
}

// --- boot sector --------------------------------------------------------------------------
// Fields that lie past the end of a tiny file read as 0.

namespace {
uint16_t Field16(const uint8_t* base, size_t size, size_t offset) {
  return base && offset + 2 <= size ? LoadLe16(base + offset) : 0;
}
uint8_t Field8(const uint8_t* base, size_t size, size_t offset) {
  return base && offset < size ? base[offset] : 0;
}
}  // namespace

uint16_t DiskImage::BytesPerSector() const {
  return Field16(data(), size(), kBytesPerSectorField);
}
uint8_t DiskImage::SectorsPerCluster() const {
  return Field8(data(), size(), kSectorsPerClusterField);
}

namespace {
struct BootFields {
  uint32_t bytes_per_sector, sectors_per_cluster, reserved, fats, root_slots, sectors_per_fat;
};
BootFields ReadBootFields(const uint8_t* base, size_t size) {
  if (!base || size < kBootFieldsEnd) return {};
  return {LoadLe16(base + kBytesPerSectorField),  base[kSectorsPerClusterField],
          LoadLe16(base + kReservedSectorsField), base[kFatCountField],
          LoadLe16(base + kRootSlotsField),       LoadLe16(base + kSectorsPerFatField)};
}

bool IsPowerOfTwo(uint32_t value) {
  return value != 0 && (value & (value - 1)) == 0;
}

// The layout as far as the walks need it, or why there is none: the FATs, the root directory
// and the start of the data area lie inside the image, and the clusters are FAT12 clusters.
// The image may end before its last cluster (cut images are read as far as they go).
struct Fat12Layout {
  std::string problem;
  uint16_t clusters = 0;
};
Fat12Layout ReadFat12Layout(const uint8_t* base, size_t size) {
  constexpr uint32_t kMaxFat12Clusters = 4084;
  constexpr size_t kLargeTotalSectorsField = 32;
  if (size < kBootFieldsEnd) return {LoadMessage(kMsgLayoutShortBoot)};
  const BootFields b = ReadBootFields(base, size);
  if (!IsPowerOfTwo(b.bytes_per_sector) || b.bytes_per_sector < 128 || b.bytes_per_sector > 4096) {
    return {FormatMessageId(kMsgLayoutBytesPerSector, unsigned{b.bytes_per_sector})};
  }
  if (!IsPowerOfTwo(b.sectors_per_cluster)) {
    return {FormatMessageId(kMsgLayoutSectorsPerCluster, unsigned{b.sectors_per_cluster})};
  }
  if (b.reserved == 0) return {LoadMessage(kMsgLayoutNoReserved)};
  if (b.fats == 0) return {LoadMessage(kMsgLayoutNoFat)};
  if (b.root_slots == 0) return {LoadMessage(kMsgLayoutNoRoot)};
  if (b.sectors_per_fat == 0) return {LoadMessage(kMsgLayoutNoFatSectors)};
  // FAT copies are addressed with 16-bit offsets: the first must begin below 64 KiB.
  const uint64_t fat_start = uint64_t{b.reserved} * b.bytes_per_sector;
  const uint64_t fat_end = fat_start + uint64_t{b.fats} * b.sectors_per_fat * b.bytes_per_sector;
  if (fat_start > 0xFFFF || fat_end > size) return {LoadMessage(kMsgLayoutFatPastEnd)};
  if (fat_end + uint64_t{b.root_slots} * kSlotSize > size) {
    return {LoadMessage(kMsgLayoutRootPastEnd)};
  }
  const uint64_t data_sector = uint64_t{b.reserved} + uint64_t{b.fats} * b.sectors_per_fat +
                               b.root_slots * kSlotSize / b.bytes_per_sector;
  if (data_sector * b.bytes_per_sector > size) {
    return {LoadMessage(kMsgLayoutDataPastEnd)};
  }
  uint32_t total = LoadLe16(base + kTotalSectorsField);
  if (total == 0 && size >= kLargeTotalSectorsField + 4) {
    total = LoadLe32(base + kLargeTotalSectorsField);
  }
  const uint64_t clusters = total > data_sector ? (total - data_sector) / b.sectors_per_cluster : 0;
  if (clusters == 0) return {LoadMessage(kMsgLayoutNoClusters)};
  if (clusters > kMaxFat12Clusters) {
    return {FormatMessageId(kMsgLayoutNotFat12, static_cast<unsigned>(clusters))};
  }
  return {"", static_cast<uint16_t>(clusters)};
}

}  // namespace

DiskImage::DiskImage(Host& host, const std::string& path)
    : host_(host), path_(path), mapping_(host.MapForRead(path)) {
  unpack_left_ = kUnpackSizeFactor * size();
  if (IsOpen()) {
    const Fat12Layout layout = ReadFat12Layout(data(), size());
    if (!layout.problem.empty()) {
      layout_problem_ = FormatMessageId(kMsgLayoutNone, layout.problem.c_str());
    }
    cluster_count_ = layout.clusters;
  }
}

// --- address arithmetic -------------------------------------------------------------------

const uint8_t* DiskImage::FatCopy(uint8_t index) const {
  const BootFields b = ReadBootFields(data(), size());
  if (index >= b.fats) return nullptr;
  // The documented offset is taken as 16 bits.
  const uint16_t offset =
      static_cast<uint16_t>((index * b.sectors_per_fat + b.reserved) * b.bytes_per_sector);
  return offset < size() ? data() + offset : nullptr;
}

uint16_t DiskImage::NextCluster(uint16_t cluster) const {
  const uint8_t* fat = FatCopy(0);
  if (!fat) return 0xFFF;
  const BootFields b = ReadBootFields(data(), size());
  const size_t offset = cluster * size_t{3} / 2;
  const size_t fat_bytes = std::min<size_t>(size_t{b.sectors_per_fat} * b.bytes_per_sector,
                                            static_cast<size_t>(data() + size() - fat));
  if (offset + 2 > fat_bytes) return 0xFFF;  // outside FAT 0: the chain ends
  const uint16_t word = LoadLe16(fat + offset);
  return (cluster & 1) ? word >> 4 : word & 0x0FFF;
}

const DirectoryEntry* DiskImage::RootDirectory() const {
  const uint8_t* fat = FatCopy(0);
  if (!fat) return nullptr;
  const BootFields b = ReadBootFields(data(), size());
  const size_t offset =
      static_cast<size_t>(fat - data()) + size_t{b.fats} * b.sectors_per_fat * b.bytes_per_sector;
  return offset + kSlotSize <= size() ? AsEntry(data() + offset) : nullptr;
}

uint32_t DiskImage::RootSlotLimit() const {
  const DirectoryEntry* root = RootDirectory();
  if (!root) return 0;
  const size_t fitting = (size() - static_cast<size_t>(AsBytes(root) - data())) / kSlotSize;
  return static_cast<uint32_t>(
      std::min<size_t>(ReadBootFields(data(), size()).root_slots, fitting));
}

uint16_t DiskImage::ClusterToSector(uint16_t cluster) const {
  const BootFields b = ReadBootFields(data(), size());
  if (b.bytes_per_sector == 0) return 0;
  const uint32_t root_sectors = b.root_slots * 32 / b.bytes_per_sector;
  return static_cast<uint16_t>((cluster - 2) * b.sectors_per_cluster + root_sectors +
                               b.fats * b.sectors_per_fat + b.reserved);
}

uint32_t DiskImage::ClusterBytes() const {
  const BootFields b = ReadBootFields(data(), size());
  return b.sectors_per_cluster * b.bytes_per_sector;
}

// A cluster whose data begins inside the image. Its documented 16-bit sector number must not
// have wrapped, so that distinct clusters never share their data: a directory chain then
// always moves forward through the image.
bool DiskImage::IsDataCluster(uint16_t cluster) const {
  const BootFields b = ReadBootFields(data(), size());
  if (cluster < 2 || cluster >= kEndOfChain || b.bytes_per_sector % kSlotSize != 0 ||
      ClusterBytes() == 0) {
    return false;
  }
  const uint32_t root_sectors = b.root_slots * 32 / b.bytes_per_sector;
  const uint64_t sector = uint64_t{cluster - 2u} * b.sectors_per_cluster + root_sectors +
                          b.fats * b.sectors_per_fat + b.reserved;
  if (sector != ClusterToSector(cluster)) return false;
  return sector * b.bytes_per_sector + kSlotSize <= size();
}

const uint8_t* DiskImage::ClusterData(uint16_t cluster) const {
  if (!IsDataCluster(cluster)) return nullptr;
  return data() + size_t{BytesPerSector()} * ClusterToSector(cluster);
}

const DirectoryEntry* DiskImage::DirectoryStart() const {
  if (!IsReadable()) return nullptr;
  if (CurrentDirectory == 0) return RootDirectory();
  const uint8_t* start = ClusterData(CurrentDirectory);
  return start ? AsEntry(start) : nullptr;
}

bool DiskImage::ContainsSlot(const uint8_t* slot) const {
  return slot && slot >= data() && slot + kSlotSize <= data() + size();
}

// Calls visit(cluster) for each data cluster of a chain, in order. The walk ends at an
// end-of-chain value, at clusters 0 and 1, at a cluster outside the image and at the first
// repeated cluster; visit returns false to stop early.
template <typename Visit>
void DiskImage::WalkChain(uint16_t first, Visit visit) const {
  ClusterSet visited;
  for (uint16_t cluster = first; IsDataCluster(cluster) && visited.Insert(cluster);
       cluster = NextCluster(cluster)) {
    if (!visit(cluster)) return;
  }
}

// --- stepping through a directory ---------------------------------------------------------

const DirectoryEntry* DiskImage::NextSlotInChain(const DirectoryEntry* slot) const {
  if (!IsOpen() || CurrentDirectory == 0 || !slot || !ContainsSlot(AsBytes(slot))) return nullptr;
  const uint8_t* at = AsBytes(slot);
  const uint32_t cluster_bytes = ClusterBytes();
  auto next_in = [&](const uint8_t* start) -> const DirectoryEntry* {
    const uint8_t* next = at + kSlotSize;
    return ContainsSlot(next) && next < start + cluster_bytes ? AsEntry(next) : nullptr;
  };
  if (chain_directory_ == CurrentDirectory && chain_cluster_ && at >= chain_cluster_ &&
      at + kSlotSize < chain_cluster_ + cluster_bytes) {
    return next_in(chain_cluster_);
  }
  // Find the cluster of the chain that holds the slot; the walk ends at a loop, so the slot
  // behind the last one of a cluster is always further along the chain.
  const uint8_t* holder = nullptr;
  const uint8_t* result_cluster = nullptr;
  WalkChain(CurrentDirectory, [&](uint16_t cluster) {
    const uint8_t* start = ClusterData(cluster);
    if (holder) {
      result_cluster = start;
      return false;
    }
    if (at >= start && at < start + cluster_bytes) {
      holder = start;
      if (at + kSlotSize < start + cluster_bytes) {
        result_cluster = start;
        return false;
      }
    }
    return true;
  });
  if (!result_cluster) return nullptr;
  chain_directory_ = CurrentDirectory;
  chain_cluster_ = result_cluster;
  return result_cluster == holder ? next_in(holder) : AsEntry(result_cluster);
}

const DirectoryEntry* DiskImage::NextEntry(const DirectoryEntry* slot) const {
  if (!IsOpen() || !slot) return nullptr;
  if (CurrentDirectory == 0) {
    const DirectoryEntry* root = RootDirectory();
    if (!root || AsBytes(slot) < AsBytes(root)) return nullptr;
    const uint32_t limit = RootSlotLimit();
    const size_t index = static_cast<size_t>(AsBytes(slot) - AsBytes(root)) / kSlotSize;
    for (size_t i = index + 1; i < limit; ++i) {
      const uint8_t marker = root[i].marker();
      if (EndsDirectory(marker)) return nullptr;
      if (marker != kDeletedMarker) return root + i;
    }
    return nullptr;
  }
  for (const DirectoryEntry* next = NextSlotInChain(slot); next; next = NextSlotInChain(next)) {
    if (EndsDirectory(next->marker())) return nullptr;
    if (next->marker() != kDeletedMarker) return next;
  }
  return nullptr;
}

const DirectoryEntry* DiskImage::FirstFile() const {
  const DirectoryEntry* start = IsOpen() ? DirectoryStart() : nullptr;
  if (!start || start->marker() == kEndMarker) return nullptr;
  if (start->marker() != kDeletedMarker && start->IsPlainFile()) return start;
  return NextFile(start);
}

const DirectoryEntry* DiskImage::NextFile(const DirectoryEntry* slot) const {
  do {
    slot = NextEntry(slot);
  } while (slot && !slot->IsPlainFile());
  return slot;
}

const DirectoryEntry* DiskImage::FirstSubdirectory() const {
  const DirectoryEntry* slot = IsOpen() ? DirectoryStart() : nullptr;
  if (!slot || slot->marker() == kEndMarker) return nullptr;
  for (; slot; slot = NextEntry(slot)) {
    if (slot->marker() != kDeletedMarker && slot->marker() != kDotMarker &&
        slot->IsSubdirectory()) {
      return slot;
    }
  }
  return nullptr;
}

const DirectoryEntry* DiskImage::NextSubdirectory(const DirectoryEntry* slot) const {
  do {
    slot = NextEntry(slot);
  } while (slot && !slot->IsSubdirectory());
  return slot;
}

bool DiskImage::EnterSubdirectory(const std::string& name) {
  if (!IsOpen()) return false;
  std::string copy = name.substr(0, kMaxPath - 1);
  if (!copy.empty() && (copy.back() == '\\' || IsPathSeparator(copy.back()))) copy.pop_back();
  if (copy.find_first_of("\\/") != std::string::npos) {  // a host path
    const std::string short_path = host_.ShortPathName(copy);
    const size_t last = short_path.find_last_of("\\/");
    copy = last == std::string::npos ? short_path : short_path.substr(last + 1);
  }
  // A name with no 8.3 form names no slot (cutting it could name another one).
  const size_t dot = copy.find('.');
  const size_t base_length = std::min(copy.size(), dot);
  if (base_length > 8 || (dot != std::string::npos && copy.size() - dot - 1 > 3)) return false;
  const std::string wanted = ToDirectoryName(copy);

  for (const DirectoryEntry* slot = DirectoryStart(); slot; slot = NextEntry(slot)) {
    // Each field ends at a NUL, as for the names the walks hand out.
    if (PaddedField(slot->name(), 8) + PaddedField(slot->extension(), 3) == wanted &&
        slot->IsSubdirectory()) {
      CurrentDirectory = slot->first_cluster();
      return true;
    }
  }
  return false;
}

void DiskImage::LeaveSubdirectory() {
  if (!IsOpen() || CurrentDirectory == 0) return;
  const uint8_t* start = ClusterData(CurrentDirectory);
  const uint8_t* dot_dot = start ? start + kSlotSize : nullptr;
  // Without a readable ".." slot the only safe parent is the root.
  CurrentDirectory = ContainsSlot(dot_dot) ? AsEntry(dot_dot)->first_cluster() : 0;
}

// --- used size ----------------------------------------------------------------------------

uint16_t DiskImage::HighestCluster(const DirectoryEntry* entry) const {
  if (!IsOpen() || !entry) return 0;
  uint16_t highest = 0;
  WalkChain(entry->first_cluster(), [&](uint16_t cluster) {
    highest = std::max(highest, cluster);
    return true;
  });
  return highest;
}

namespace {

// The highest cluster of every file and directory; entries that share a chain (cross-linked,
// in a hostile image up to one per slot) have it walked once.
class HighestClusterSearch : public FatTreeVisitor {
 public:
  explicit HighestClusterSearch(const DiskImage& image) : image_(image) {}
  void File(const DirectoryEntry& file) override { Note(file); }
  bool Directory(const DirectoryEntry& directory, WalkBlock block) override {
    Note(directory);
    return block == WalkBlock::kNone;
  }
  uint16_t highest() const { return highest_; }

 private:
  void Note(const DirectoryEntry& entry) {
    const uint16_t first = entry.first_cluster();
    uint16_t highest = 0;
    if (first >= highest_of_.size()) {
      highest = image_.HighestCluster(&entry);
    } else {
      if (highest_of_[first] == kUnknownHighest) highest_of_[first] = image_.HighestCluster(&entry);
      highest = highest_of_[first];
    }
    highest_ = std::max(highest_, highest);
  }

  const DiskImage& image_;
  std::vector<uint16_t> highest_of_ = std::vector<uint16_t>(0x1000, kUnknownHighest);
  uint16_t highest_ = 0;
};

}  // namespace

void DiskImage::WalkTree(FatTreeVisitor& visitor) {
  if (!IsReadable()) return;
  ClusterSet walked;
  walked.Insert(0);
  walked.Insert(CurrentDirectory);
  const uint16_t start = CurrentDirectory;
  WalkTree(visitor, walked, 0);
  CurrentDirectory = start;
}

void DiskImage::WalkTree(FatTreeVisitor& visitor, ClusterSet& walked, int depth) {
  for (const DirectoryEntry* file = FirstFile(); file && !visitor.Stopped();
       file = NextFile(file)) {
    visitor.File(*file);
  }
  for (const DirectoryEntry* sub = FirstSubdirectory(); sub && !visitor.Stopped();
       sub = NextSubdirectory(sub)) {
    const uint16_t cluster = sub->first_cluster();
    const WalkBlock block = walked.Contains(cluster)      ? WalkBlock::kLoop
                            : depth >= kMaxDirectoryDepth ? WalkBlock::kTooDeep
                                                          : WalkBlock::kNone;
    if (!visitor.Directory(*sub, block) || block != WalkBlock::kNone) continue;
    walked.Insert(cluster);
    const uint16_t saved = CurrentDirectory;
    CurrentDirectory = cluster;
    WalkTree(visitor, walked, depth + 1);
    CurrentDirectory = saved;
    visitor.Leave(*sub);
  }
}

void DiskImage::CollectHighestCluster(uint16_t& maximum) {
  HighestClusterSearch search(*this);
  WalkTree(search);
  maximum = std::max(maximum, search.highest());
}

uint32_t DiskImage::UsedImageSize() {
  if (!IsReadable()) return 0;
  const BootFields b = ReadBootFields(data(), size());
  uint64_t used = 0;
  if (!FirstFile() && !FirstSubdirectory()) {
    used = uint64_t{b.fats * b.sectors_per_fat + b.reserved} * b.bytes_per_sector +
           b.root_slots * kSlotSize;
  } else {
    const uint16_t saved = CurrentDirectory;
    CurrentDirectory = 0;
    uint16_t highest = 0;
    CollectHighestCluster(highest);
    CurrentDirectory = saved;
    if (highest == 0) return 0;
    const uint32_t root_sectors = b.root_slots * 32 / b.bytes_per_sector;
    const uint64_t sector = uint64_t{highest - 1u} * b.sectors_per_cluster + root_sectors +
                            b.fats * b.sectors_per_fat + b.reserved;
    used = sector * b.bytes_per_sector;
  }
  // Never more than the image holds: callers read that many bytes from it.
  return static_cast<uint32_t>(std::min<uint64_t>(used, size()));
}

// --- copying out --------------------------------------------------------------------------

bool DiskImage::ExtractFile(const DirectoryEntry* entry, const std::string& destination) {
  if (!IsOpen() || !entry || report_.over_limit) return false;
  const std::string name = HostName(*entry);
  const std::string path = JoinPath(destination, name);
  if (!IsPlainFileName(name) || path.size() >= kMaxPath) {
    report_.Skip(path);
    return false;
  }

  const std::vector<std::pair<const uint8_t*, size_t>> runs = FileRuns(*entry);
  uint64_t length = 0;
  for (const auto& run : runs) length += run.second;
  if (length > unpack_left_) {
    report_.StopAt(path);
    return false;
  }
  unpack_left_ -= length;

  std::unique_ptr<File> file = CreateReplacing(host_, path);
  if (!file) {
    report_.Skip(path);
    return false;
  }
  bool written = true;
  for (const auto& [start, run_length] : runs) {
    written = written && file->Write(start, run_length);
  }
  if (!written) {  // a failed write leaves nothing worth keeping under the file's name
    file.reset();
    host_.RemoveFile(path);
    report_.Cut(path);
    return false;
  }
  const bool complete = length == entry->size();
  // A file cut short by the image must not look like the original.
  if (complete) {
    if (const auto time = LocalFileTime(entry->date(), entry->time())) {
      file->SetTimes(*time, *time, *time);
    }
  }
  file.reset();
  // After closing, so that a read-only file is complete first. A file just created holds
  // the archive bit alone already (Windows gives it to every new file), so that case needs
  // no call.
  if (entry->attributes() != kAttrArchive) host_.SetAttributes(path, entry->attributes());
  if (!complete) report_.Cut(path);
  return complete;
}

namespace {

// Windows NT keeps an all lower-case 8.3 name (or extension) without a long name, marking it
// in the entry's byte 12 instead; mtools does the same.
std::string LowerCaseAsMarked(const DirectoryEntry& entry, std::string name) {
  constexpr uint8_t kLowerBase = 0x08, kLowerExtension = 0x10;
  const uint8_t marks = entry.raw[12];
  const size_t dot = name.find('.');
  for (size_t i = 0; i < name.size(); ++i) {
    const bool in_base = dot == std::string::npos || i < dot;
    if ((marks & (in_base ? kLowerBase : kLowerExtension)) && name[i] >= 'A' && name[i] <= 'Z') {
      name[i] = static_cast<char>(name[i] + 32);
    }
  }
  return name;
}

}  // namespace

std::string DiskImage::HostName(const DirectoryEntry& entry) const {
  const std::string stored = HostEntryName(entry);
  if (name_code_page_ == 0) return stored;
  // Where names are converted anyway, the long name that modern systems keep beside the
  // 8.3 one is the file's name.
  if (const std::optional<std::string> long_name = LongName(entry);
      long_name && IsPlainFileName(*long_name)) {
    return *long_name;
  }
  return CodePageToUtf8(LowerCaseAsMarked(entry, stored), name_code_page_);
}

std::optional<std::string> DiskImage::LongName(const DirectoryEntry& entry) const {
  constexpr uint8_t kLongNameAttributes = 0x0F;
  constexpr size_t kMaxParts = 20;  // 255 characters
  static constexpr size_t kCharOffsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  const DirectoryEntry* root = RootDirectory();
  const uint32_t cluster_bytes = ClusterBytes();
  if (!IsReadable() || !root || cluster_bytes == 0) return std::nullopt;
  // The parts lie in the slots right before the entry, in its own cluster (or the root area).
  const uint8_t* at = AsBytes(&entry);
  const uint8_t* data_start = AsBytes(root) + size_t{ReadBootFields(data(), size()).root_slots} *
                                                  kSlotSize / BytesPerSector() * BytesPerSector();
  const uint8_t* region = AsBytes(root);
  if (at >= data_start) {
    region = data_start + size_t(at - data_start) / cluster_bytes * cluster_bytes;
  }
  uint8_t sum = 0;
  for (size_t i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry.raw[i]);
  std::u16string units;
  for (size_t part = 1; part <= kMaxParts; ++part) {
    if (size_t(at - region) < part * kSlotSize) return std::nullopt;
    const uint8_t* slot = at - part * kSlotSize;
    if (!ContainsSlot(slot) || slot[11] != kLongNameAttributes || slot[13] != sum ||
        (slot[0] & 0x1F) != part) {
      return std::nullopt;
    }
    for (const size_t offset : kCharOffsets)
      units += static_cast<char16_t>(LoadLe16(slot + offset));
    if ((slot[0] & 0x40) == 0) continue;
    const size_t end = units.find(u'\0');
    if (end != std::u16string::npos) units.resize(end);
    return units.empty() ? std::nullopt : std::optional(Utf16ToUtf8(units));
  }
  return std::nullopt;
}

std::vector<std::pair<const uint8_t*, size_t>> DiskImage::FileRuns(
    const DirectoryEntry& entry) const {
  // The file holds what its chain holds, up to its size, never more: a size that the chain
  // does not cover is not made up with zeros. One walk of the chain gives the runs of
  // consecutive clusters, so that a copy writes each straight from the mapping.
  std::vector<std::pair<const uint8_t*, size_t>> runs;
  if (!IsReadable()) return runs;
  const uint32_t cluster_bytes = ClusterBytes();
  uint64_t remaining = entry.size();
  if (remaining == 0) return runs;
  WalkChain(entry.first_cluster(), [&](uint16_t cluster) {
    const uint8_t* start = ClusterData(cluster);
    const size_t available = std::min<size_t>(cluster_bytes, data() + size() - start);
    const size_t take = static_cast<size_t>(std::min<uint64_t>(available, remaining));
    if (!runs.empty() && runs.back().first + runs.back().second == start) {
      runs.back().second += take;
    } else {
      runs.emplace_back(start, take);
    }
    remaining -= take;
    return remaining != 0 && take == cluster_bytes;  // a cut cluster is the image's end
  });
  return runs;
}

// Files of one image mostly share a few time stamps; the last conversion is kept.
std::optional<FileTime> DiskImage::LocalFileTime(uint16_t dos_date, uint16_t dos_time) {
  const uint32_t stamp = uint32_t{dos_date} << 16 | dos_time;
  if (!last_stamp_ || *last_stamp_ != stamp) {
    const auto local = DosDateTimeToCalendar(dos_date, dos_time);
    last_time_ = local ? host_.LocalToFileTime(*local) : std::nullopt;
    last_stamp_ = stamp;
  }
  return last_time_;
}

// Makes each directory and copies its files; a directory that cannot be made safely is
// skipped with all it holds.
class DiskImage::TreeCopy : public FatTreeVisitor {
 public:
  TreeCopy(DiskImage& image, const std::string& destination) : image_(image) {
    paths_.push_back(destination);
  }
  void File(const DirectoryEntry& file) override { image_.ExtractFile(&file, paths_.back()); }
  bool Directory(const DirectoryEntry& directory, WalkBlock block) override {
    const std::string name = image_.HostName(directory);
    const std::string path = JoinPath(paths_.back(), name);
    // A directory that leads back to one being copied is a loop of the image.
    if (!IsPlainFileName(name) || path.size() >= kMaxPath || block != WalkBlock::kNone) {
      image_.report_.Skip(path);
      return false;
    }
    // A directory left by an earlier unpack is entered, so that its files are replaced.
    const CreateDirectoryResult made = image_.host_.MakeDirectory(path);
    if (made == CreateDirectoryResult::kFailed ||
        (made == CreateDirectoryResult::kAlreadyExists &&
         (image_.host_.Attributes(path).value_or(0) & kAttrDirectory) == 0)) {
      image_.report_.Skip(path);
      return false;
    }
    paths_.push_back(path);
    created_.push_back(made == CreateDirectoryResult::kCreated);
    return true;
  }
  void Leave(const DirectoryEntry& directory) override {
    // Windows does not keep directories read-only for their contents; POSIX would, and the
    // unpacked set could then not be replaced or removed. The bit is left out. Only a
    // directory made here gets attributes.
    if (created_.back()) {
      image_.host_.SetAttributes(paths_.back(), directory.attributes() & ~kAttrReadOnly);
    }
    paths_.pop_back();
    created_.pop_back();
  }
  bool Stopped() const override { return image_.report_.over_limit; }

 private:
  DiskImage& image_;
  std::vector<std::string> paths_;
  std::vector<bool> created_;
};

bool DiskImage::ExtractTree(const std::string& destination) {
  if (!IsReadable()) {
    if (IsOpen()) {
      report_.damage = layout_problem_ + "; nothing of it was unpacked";
    }
    return false;
  }
  TreeCopy copy(*this, destination);
  WalkTree(copy);
  return true;
}

// --- names --------------------------------------------------------------------------------

std::string ToDirectoryName(std::string& name) {
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string extension;
  const size_t dot = name.find('.');
  if (dot != std::string::npos) {
    extension = name.substr(dot + 1);
    name.resize(dot);
  }
  std::string out(11, ' ');
  out.replace(0, std::min<size_t>(name.size(), 8), name, 0, 8);
  out.replace(8, std::min<size_t>(extension.size(), 3), extension, 0, 3);
  return out;
}

void TrimTrailingBlanks(std::string& text) {
  const size_t last = text.find_last_not_of(' ');
  text.resize(last == std::string::npos ? 0 : last + 1);
}

std::string FormatEntryName(const DirectoryEntry& entry, std::string_view directory) {
  std::string out(directory);
  if (!out.empty() && out.back() != '\\' && !IsPathSeparator(out.back())) out += kPathSeparator;
  return out + TrimmedText(entry.name()) + "." + TrimmedText(entry.extension());
}

std::string HostEntryName(const DirectoryEntry& entry) {
  // Win32 drops the trailing dot of a name without extension; other hosts would keep it.
  const std::string extension = TrimmedText(entry.extension());
  const std::string name = TrimmedText(entry.name());
  return extension.empty() ? name : name + "." + extension;
}

}  // namespace floppyset
