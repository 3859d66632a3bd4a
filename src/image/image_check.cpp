#include "image/image_check.h"

#include <algorithm>

#include "base/path.h"
#include "ui/messages.h"

namespace floppyset {
namespace {

constexpr uint16_t kEndOfChain = 0xFF8;

// The first few faults of an image, and how many there were.
class Faults {
 public:
  void Add(std::string fault) {
    if (++count_ <= kKept) kept_.push_back(std::move(fault));
  }
  std::string Text() const {
    std::string text;
    for (const std::string& fault : kept_) text += (text.empty() ? "" : "; ") + fault;
    if (count_ > kKept) {
      text += "; " + FormatMessageId(kMsgMoreFaults, std::to_string(count_ - kKept).c_str());
    }
    return text;
  }

 private:
  static constexpr size_t kKept = 4;
  std::vector<std::string> kept_;
  size_t count_ = 0;
};

enum class ChainEnd { kEnd, kFree, kOutside, kLoop };

std::string ChainFault(ChainEnd end) {
  switch (end) {
    case ChainEnd::kEnd:
      return LoadMessage(kMsgChainShort);
    case ChainEnd::kFree:
      return LoadMessage(kMsgChainFree);
    case ChainEnd::kOutside:
      return LoadMessage(kMsgChainOutside);
    case ChainEnd::kLoop:
      return LoadMessage(kMsgChainLoop);
  }
  return "";
}

// Follows every file's and directory's chain once, noting which entry holds each cluster.
class TreeCheck : public FatTreeVisitor {
 public:
  TreeCheck(DiskImage& image, ImageCheck& check)
      : image_(image),
        check_(check),
        cluster_bytes_(uint32_t{image.BytesPerSector()} * image.SectorsPerCluster()) {}

  void File(const DirectoryEntry& file) override {
    const std::string path = PathOf(file);
    if (skipping_ == 0 && !IsPlainFileName(HostEntryName(file))) {
      check_.files.push_back({path, LoadMessage(kMsgNameSkipped)});
    }
    const uint64_t size = file.size();
    if (size == 0) return;  // whatever cluster it names, it holds nothing
    const Walk walk = Follow(file.first_cluster(), size, path);
    if (walk.bytes >= size || skipping_ != 0) return;
    const std::string cause =
        file.first_cluster() == 0 ? LoadMessage(kMsgNoCluster) : ChainFault(walk.end);
    check_.files.push_back({path, FormatMessageId(kMsgFileCut, std::to_string(walk.bytes).c_str(),
                                                  std::to_string(size).c_str(), cause.c_str())});
  }

  bool Directory(const DirectoryEntry& directory, WalkBlock block) override {
    const std::string path = PathOf(directory);
    if (block == WalkBlock::kLoop) {
      faults_.Add(FormatMessageId(kMsgDirectoryLoop, path.c_str()));
      return false;
    }
    if (block == WalkBlock::kTooDeep) {
      faults_.Add(FormatMessageId(kMsgDirectoryTooDeep, path.c_str()));
      return false;
    }
    const Walk walk = Follow(directory.first_cluster(), 0, path);
    if (walk.end != ChainEnd::kEnd) {
      faults_.Add(FormatMessageId(kMsgDirectoryFault, path.c_str(), ChainFault(walk.end).c_str()));
    }
    if (skipping_ != 0 || !IsPlainFileName(HostEntryName(directory))) {
      if (skipping_++ == 0) {
        check_.files.push_back({path, LoadMessage(kMsgDirectorySkipped)});
      }
    }
    directories_.push_back(path);
    return true;
  }

  void Leave(const DirectoryEntry&) override {
    directories_.pop_back();
    if (skipping_ != 0) --skipping_;
  }

  std::string Reason() const { return faults_.Text(); }

 private:
  struct Walk {
    uint64_t bytes = 0;
    ChainEnd end = ChainEnd::kEnd;
  };

  std::string PathOf(const DirectoryEntry& entry) const {
    const std::string name = HostEntryName(entry);
    return directories_.empty() ? name : directories_.back() + '/' + name;
  }

  // The chain from `first` as far as it holds `wanted` bytes (0: to its end), each cluster
  // claimed for `path`.
  Walk Follow(uint16_t first, uint64_t wanted, const std::string& path) {
    Walk walk;
    ClusterSet seen;
    const auto me = static_cast<int32_t>(holders_.size());
    holders_.push_back(path);
    bool shared = false;
    const uint32_t last = uint32_t{image_.ClusterCount()} + 1;
    for (uint16_t cluster = first;; cluster = image_.NextCluster(cluster)) {
      if (cluster >= kEndOfChain) return walk;
      if (cluster < 2) return {walk.bytes, ChainEnd::kFree};
      const uint8_t* start = image_.ClusterData(cluster);
      if (cluster > last || !start) return {walk.bytes, ChainEnd::kOutside};
      if (!seen.Insert(cluster)) return {walk.bytes, ChainEnd::kLoop};
      int32_t& holder = owner_[cluster];
      if (holder < 0) {
        holder = me;
      } else if (!shared) {  // one fault per entry, however many clusters it shares
        shared = true;
        faults_.Add(FormatMessageId(kMsgSharedCluster,
                                    holders_[static_cast<size_t>(holder)].c_str(), path.c_str(),
                                    unsigned{cluster}));
      }
      const size_t available = std::min<size_t>(
          cluster_bytes_, static_cast<size_t>(image_.data() + image_.size() - start));
      walk.bytes += available;
      if (wanted != 0 && walk.bytes >= wanted) return walk;
      if (available < cluster_bytes_) return {walk.bytes, ChainEnd::kOutside};
    }
  }

  DiskImage& image_;
  ImageCheck& check_;
  const uint32_t cluster_bytes_;
  std::vector<std::string> directories_;  // the paths of the directories entered
  int skipping_ = 0;                      // inside a directory that would be skipped
  // The entry that first claimed each cluster, as an index into holders_.
  std::vector<int32_t> owner_ = std::vector<int32_t>(0x1000, -1);
  std::vector<std::string> holders_;
  Faults faults_;
};

}  // namespace

ImageCheck CheckDiskImage(DiskImage& image) {
  ImageCheck check;
  if (!image.IsReadable()) {
    check.readable = false;
    check.reason = image.IsOpen() ? image.LayoutProblem() : LoadMessage(kMsgImageNotOpen);
    return check;
  }
  const uint16_t saved = image.CurrentDirectory;
  image.CurrentDirectory = 0;
  TreeCheck tree(image, check);
  image.WalkTree(tree);
  image.CurrentDirectory = saved;
  check.reason = tree.Reason();
  return check;
}

ImageCheck CheckFlatImage(const FlatImage& image) {
  ImageCheck check;
  if (!image.IsReady()) {
    check.readable = false;
    check.reason = LoadMessage(kMsgImageNotOpen);
    return check;
  }
  for (const FlatRecord* record = image.FirstRecord(); record; record = image.NextRecord(record)) {
    const std::string_view relative = record->RelativePath();
    if (IsWritableRecordPath(relative, 0)) continue;
    std::string path(relative);
    std::replace(path.begin(), path.end(), '\\', '/');
    check.files.push_back({path, LoadMessage(kMsgFlatPathSkipped)});
  }
  check.reason = image.ListDamage();
  return check;
}

}  // namespace floppyset
