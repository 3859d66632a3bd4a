// What an unpack could not do as the image asked: entries skipped (a name that is no plain
// file name, a path over the 260-byte limit, a file or directory that cannot be made), files
// written short (a failed write, a full disk, a chain shorter than the file's size) and damage
// that lost more than single files (no FAT12 layout, a flat record list cut short).
// The unpack run turns it into the failure message in place of its congratulation.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"

namespace floppyset {

struct UnpackReport {
  static constexpr size_t kNamesKept = 5;

  uint32_t skipped = 0;
  uint32_t cut = 0;
  // The image would unpack to more than a small multiple of its own size (cross-linked
  // chains): unpacking stopped there.
  bool over_limit = false;
  // The first few entries concerned, as host paths (stored bytes: show them, never open them).
  std::vector<std::string> names;
  // Why the image was not unpacked whole, in words that follow "is damaged: "; empty when it
  // was. It belongs to one image: Add leaves it out, the run names each image's own.
  std::string damage;

  void Skip(const std::string& name) {
    ++skipped;
    Keep(name);
  }
  void Cut(const std::string& name) {
    ++cut;
    Keep(name);
  }
  // The entry at which unpacking stopped.
  void StopAt(const std::string& name) {
    over_limit = true;
    Keep(name);
  }
  void Add(const UnpackReport& other) {
    skipped += other.skipped;
    cut += other.cut;
    over_limit = over_limit || other.over_limit;
    for (const std::string& name : other.names) Keep(name);
  }
  bool clean() const { return skipped == 0 && cut == 0 && !over_limit && damage.empty(); }

 private:
  void Keep(const std::string& name) {
    if (names.size() < kNamesKept) names.push_back(name);
  }
};

// Creates or replaces the file `path`. A file left by an earlier unpack may be refused by
// CreateForWrite (read-only; on Win32 also hidden or system): it is removed and made anew, its
// read-only bit cleared first where removing needs that (Win32). Anything else refused (a
// directory, a link, a file without write permission for other reasons) is left alone.
inline std::unique_ptr<File> CreateReplacing(Host& host, const std::string& path) {
  if (std::unique_ptr<File> file = host.CreateForWrite(path)) return file;
  const std::optional<uint32_t> attributes = host.Attributes(path);
  constexpr uint32_t kRefusingBits = kAttrReadOnly | kAttrHidden | kAttrSystem;
  if (!attributes || (*attributes & kAttrDirectory) != 0 || (*attributes & kRefusingBits) == 0) {
    return nullptr;
  }
  if (!host.RemoveFile(path)) {
    if ((*attributes & kAttrReadOnly) == 0) return nullptr;
    host.SetAttributes(path, *attributes & ~kAttrReadOnly);
    if (!host.RemoveFile(path)) return nullptr;
  }
  return host.CreateForWrite(path);
}

}  // namespace floppyset
