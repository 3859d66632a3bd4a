// APST archives written by hand for the tests, with members imploded by StormLib (an
// encoder independent of ours).
#pragma once

#include <StormLib.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "program_file.h"

namespace floppyset::testing {

inline std::vector<uint8_t> StormImplode(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out(data.size() * 2 + 8192);
  int size = static_cast<int>(out.size());
  std::vector<uint8_t> in = data;
  if (!SCompImplode(out.data(), &size, in.data(), static_cast<int>(in.size()))) return {};
  out.resize(static_cast<size_t>(size));
  return out;
}

inline uint32_t ZlibCrc32(const std::vector<uint8_t>& data) {
  return static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

struct TestMember {
  std::string name;  // stored as is, then a NUL unless `terminate` is false
  std::vector<uint8_t> data;
  uint32_t modified_time = 0x46FBE0C9;
  bool terminate = true;
  uint32_t crc_xor = 0;      // non-zero: a wrong MemberCrc
  size_t cut_packed_by = 0;  // bytes cut off the end of the packed data
};

inline std::vector<uint8_t> ApstArchive(const std::vector<TestMember>& members) {
  std::vector<uint8_t> out = {'A', 'P', 'S', 'T', 0, 0, 0, 0};
  for (const TestMember& m : members) {
    std::vector<uint8_t> packed = StormImplode(m.data);
    packed.resize(packed.size() - m.cut_packed_by);
    std::vector<uint8_t> name(m.name.begin(), m.name.end());
    if (m.terminate) name.push_back(0);
    std::vector<uint8_t> header(24, 0);
    header[0] = '$';
    header[1] = 'P';
    header[2] = 'K';
    header[3] = 'F';
    PutLe32(header, 4, ZlibCrc32(m.data) ^ m.crc_xor);
    PutLe16(header, 10, static_cast<uint16_t>(name.size()));
    PutLe32(header, 12, static_cast<uint32_t>(packed.size()));
    PutLe32(header, 16, 0x20);
    PutLe32(header, 20, m.modified_time);
    Append(out, header);
    Append(out, name);
    Append(out, packed);
  }
  return out;
}

// Something like a floppy image: runs of zeros, text and counting bytes.
inline std::vector<uint8_t> ImageLike(size_t size, unsigned seed) {
  std::vector<uint8_t> data(size, 0);
  for (size_t i = 0; i < size; ++i) {
    if ((i / 4096 + seed) % 3 == 0) data[i] = static_cast<uint8_t>("FLOPPYSET "[(i + seed) % 10]);
    if ((i / 4096 + seed) % 3 == 1) data[i] = static_cast<uint8_t>(i * seed >> 3);
  }
  return data;
}

}  // namespace floppyset::testing
