// Setup sets for the tests, built with mkfloppyset's pieces, and byte helpers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "mkfloppyset/package_writer.h"

namespace floppyset::testing {

using Bytes = std::vector<uint8_t>;
// One disk's files: path -> content; a path ending in '/' is an empty directory.
using DiskFiles = std::map<std::string, std::string>;
inline constexpr int64_t kFileTime = 981173106;  // 2001-02-03 04:05:06 UTC

// Writes the files below `dir`, all last written at kFileTime.
void WriteTree(const std::string& dir, const DiskFiles& files);
// A FAT12 (or flat) image of the files, their times taken as UTC; `scratch` is used and removed.
Bytes BuildImage(const std::string& scratch, const DiskFiles& files, bool flat);
// Floppy set of "Demo Product", LHA archive, installer SETUP.EXE, no autostart.
PackageRecipe DemoRecipe();
// A program file with one image per disk, flat when the recipe unpacks.
void WriteProgram(const std::string& path, const PackageRecipe& recipe,
                  const std::vector<DiskFiles>& disks, const std::string& scratch);
std::vector<std::string> Entries(const std::string& dir);  // sorted; none when missing
inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}
// Sets TZ for the rest of the test (each test runs in a process of its own).
void SetTimeZone(const char* tz);

inline void PutLe(Bytes& out, size_t at, uint32_t v, int size = 4) {
  for (int i = 0; i < size; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t GetLe(const Bytes& in, size_t at, int size = 4) {
  uint32_t v = 0;
  for (int i = size; i-- > 0;) v = v << 8 | in[at + i];
  return v;
}
inline void Append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}
inline void Append(Bytes& out, const std::string& text, size_t length) {
  Bytes bytes(length, 0);
  std::copy_n(text.begin(), std::min(text.size(), length), bytes.begin());
  Append(out, bytes);
}
// Where a program file's PE CheckSum lies, and its SizeOfImage: where the package starts.
inline size_t PeChecksumOffset(const Bytes& p) {
  return GetLe(p, 60) + 24 + 64;
}
inline uint32_t PackageOffset(const Bytes& p) {
  return GetLe(p, GetLe(p, 60) + 24 + 56);
}
// A program image of `size_of_image` bytes whose PE headers start at 0x80, otherwise zeros.
Bytes ProgramImage(uint32_t size_of_image, uint32_t checksum);
// Something like a floppy image: runs of zeros, text and counting bytes.
Bytes ImageLike(size_t size, unsigned seed);

}  // namespace floppyset::testing
