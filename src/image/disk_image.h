// A FAT12 floppy image, mapped read-only and walked in place: directory entries are views
// into the mapping, nothing is copied. Images are untrusted: every pointer handed out lies
// wholly inside the mapping (or is null), and every walk is bounded.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "host/host.h"
#include "image/unpack_report.h"

namespace floppyset {

// Attribute bits that make a slot neither a plain file nor usable as one.
inline constexpr uint8_t kAttrNotAFile = 0x58;  // device, directory, volume label

// One 32-byte directory slot, viewed in place.
struct DirectoryEntry {
  uint8_t raw[32];

  std::string_view name() const { return {reinterpret_cast<const char*>(raw), 8}; }
  std::string_view extension() const { return {reinterpret_cast<const char*>(raw + 8), 3}; }
  uint8_t marker() const { return raw[0]; }
  uint8_t attributes() const { return raw[11]; }
  uint16_t time() const { return LoadLe16(raw + 22); }
  uint16_t date() const { return LoadLe16(raw + 24); }
  uint16_t first_cluster() const { return LoadLe16(raw + 26); }
  uint32_t size() const { return LoadLe32(raw + 28); }

  bool IsPlainFile() const { return (attributes() & kAttrNotAFile) == 0; }
  bool IsSubdirectory() const { return (attributes() & kAttrDirectory) != 0; }
};
static_assert(sizeof(DirectoryEntry) == 32);

// Cluster numbers met during one walk; a repeat means a loop. Data clusters lie below 0xFF8,
// so larger numbers (which name no data) are not kept.
class ClusterSet {
 public:
  // False when the cluster was in the set already.
  bool Insert(uint16_t cluster) {
    if (cluster >= kSize) return true;
    if (seen_.test(cluster)) return false;
    seen_.set(cluster);
    return true;
  }
  bool Contains(uint16_t cluster) const { return cluster < kSize && seen_.test(cluster); }

 private:
  static constexpr size_t kSize = 0x1000;
  std::bitset<kSize> seen_;
};

// Why a directory is not entered by DiskImage::WalkTree.
enum class WalkBlock {
  kNone,
  kLoop,     // it leads back to a directory walked already (an ancestor, itself, the root)
  kTooDeep,  // it lies deeper than any DOS path reaches
};

// What DiskImage::WalkTree hands out. It walks the directory being visited as the image's
// CurrentDirectory, so a visitor may ask the image about it.
class FatTreeVisitor {
 public:
  virtual ~FatTreeVisitor() = default;
  // A plain file of the directory being walked.
  virtual void File(const DirectoryEntry& file) { (void)file; }
  // A subdirectory, before its contents; true to enter it. One that `block`s is never
  // entered, whatever the answer.
  virtual bool Directory(const DirectoryEntry& directory, WalkBlock block) {
    (void)directory;
    return block == WalkBlock::kNone;
  }
  // After the contents of a subdirectory that was entered.
  virtual void Leave(const DirectoryEntry& directory) { (void)directory; }
  // True ends the walk at once.
  virtual bool Stopped() const { return false; }
};

class DiskImage {
 public:
  // Maps the image; a missing, empty or unmappable file leaves the object not open.
  DiskImage(Host& host, const std::string& path);
  virtual ~DiskImage();
  DiskImage(const DiskImage&) = delete;
  DiskImage& operator=(const DiskImage&) = delete;

  bool IsOpen() const { return mapping_ != nullptr; }
  // Open, and its boot sector gives a usable FAT12 layout. Only such an image has directories:
  // on any other the walks find nothing and the copy-out writes nothing.
  bool IsReadable() const { return IsOpen() && layout_problem_.empty(); }
  // Why the boot sector gives no usable FAT12 layout ("no FAT12 layout in its boot sector (...)");
  // empty when it does or when the image is not open.
  const std::string& LayoutProblem() const { return layout_problem_; }
  // Data clusters of a readable image (numbered from 2); 0 otherwise.
  uint16_t ClusterCount() const { return cluster_count_; }
  const std::string& path() const { return path_; }
  // The whole mapped image (null and 0 when not open).
  const uint8_t* data() const;
  size_t size() const;

  // First cluster of the directory the walks work on; 0 is the root directory. Callers save
  // it, set it and restore it around recursion.
  uint16_t CurrentDirectory = 0;

  // --- layout (null or 0 when not open or outside the image) ---
  uint16_t BytesPerSector() const;
  uint8_t SectorsPerCluster() const;

  const uint8_t* FatCopy(uint8_t index) const;
  // The 12-bit FAT entry of a cluster; 0xFFF (end of chain) when the entry lies outside FAT 0.
  uint16_t NextCluster(uint16_t cluster) const;
  const DirectoryEntry* RootDirectory() const;
  uint16_t ClusterToSector(uint16_t cluster) const;
  // The first byte of a data cluster; null for clusters 0 and 1 and clusters outside the image.
  const uint8_t* ClusterData(uint16_t cluster) const;
  const DirectoryEntry* DirectoryStart() const;

  // --- walking the current directory ---
  const DirectoryEntry* NextEntry(const DirectoryEntry* slot) const;
  const DirectoryEntry* NextSlotInChain(const DirectoryEntry* slot) const;
  const DirectoryEntry* FirstFile() const;
  const DirectoryEntry* NextFile(const DirectoryEntry* slot) const;
  const DirectoryEntry* FirstSubdirectory() const;
  const DirectoryEntry* NextSubdirectory(const DirectoryEntry* slot) const;
  // Finds a subdirectory by name (a bare 8.3 name or a host path, one trailing separator
  // allowed) and makes it current; false and nothing changed when there is none.
  bool EnterSubdirectory(const std::string& name);
  void LeaveSubdirectory();

  // Walks the tree below CurrentDirectory depth first: the files of a directory, then each
  // subdirectory followed by its contents. Each directory is entered once at most (a loop is
  // not followed) and no deeper than DOS paths reach; CurrentDirectory is restored.
  void WalkTree(FatTreeVisitor& visitor);

  // --- used size ---
  uint16_t HighestCluster(const DirectoryEntry* entry) const;
  void CollectHighestCluster(uint16_t& maximum);
  // Leading bytes of the image that hold data; 0 when only empty files exist (or not readable):
  // then the whole image counts.
  uint32_t UsedImageSize();

  // --- copying out ---
  // Names of copied files and directories are read in this code page and written as UTF-8
  // (0, the default: the bytes as stored).
  void SetNameCodePage(int code_page) { name_code_page_ = code_page; }
  // The host name of an entry, in the name code page.
  std::string HostName(const DirectoryEntry& entry) const;
  // The VFAT long name (UTF-8) kept in the slots before `entry`, when they are whole and
  // their checksum names it; none otherwise.
  std::optional<std::string> LongName(const DirectoryEntry& entry) const;
  // The pieces of the mapping that a copy of the file writes, in order: what its chain holds,
  // up to its size (empty when the image is not readable).
  std::vector<std::pair<const uint8_t*, size_t>> FileRuns(const DirectoryEntry& entry) const;
  // Writes one file below `destination`, never longer than its cluster chain holds; false
  // when it was skipped or not written in full (see unpack_report()).
  bool ExtractFile(const DirectoryEntry* entry, const std::string& destination);
  // Copies the current directory's files and subdirectories, entering subdirectories that
  // exist already; false only when not readable (unpack_report() then says why, if open).
  bool ExtractTree(const std::string& destination);
  // What the copies so far skipped or cut. All copies of one object together write at most
  // twice the image's size: past that they stop (over_limit).
  const UnpackReport& unpack_report() const { return report_; }

 private:
  class TreeCopy;

  bool ContainsSlot(const uint8_t* slot) const;
  uint32_t RootSlotLimit() const;
  uint32_t ClusterBytes() const;
  bool IsDataCluster(uint16_t cluster) const;
  template <typename Visit>
  void WalkChain(uint16_t first, Visit visit) const;
  void WalkTree(FatTreeVisitor& visitor, ClusterSet& walked, int depth);
  std::optional<FileTime> LocalFileTime(uint16_t dos_date, uint16_t dos_time);

  Host& host_;
  std::string path_;
  std::unique_ptr<MappedFile> mapping_;
  std::string layout_problem_;
  uint16_t cluster_count_ = 0;
  // The last cluster NextSlotInChain found in the chain of `chain_directory_`: steps inside
  // it need no walk of the chain.
  mutable uint16_t chain_directory_ = 0;
  mutable const uint8_t* chain_cluster_ = nullptr;
  std::optional<uint32_t> last_stamp_;
  std::optional<FileTime> last_time_;
  UnpackReport report_;
  uint64_t unpack_left_ = 0;
  int name_code_page_ = 0;
};

// Upper-cases `name` and cuts it at its first '.' (both in place); returns the 11-character
// blank-padded directory form. Parts longer than 8 and 3 characters are cut.
std::string ToDirectoryName(std::string& name);
void TrimTrailingBlanks(std::string& text);
// The 8- and 3-byte name fields end at a NUL or at their blank padding.
// "NAME.EXT" (always with the dot), behind `directory` and a separator when one is given.
std::string FormatEntryName(const DirectoryEntry& entry, std::string_view directory = {});
// The name a host file gets: NAME.EXT, or NAME without the dot when the extension is blank.
std::string HostEntryName(const DirectoryEntry& entry);

}  // namespace floppyset
