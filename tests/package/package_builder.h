// Hand-made APST archives, members imploded by StormLib (an encoder independent of ours).
#pragma once

#include <StormLib.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "support/set_builder.h"

namespace floppyset::testing {

inline uint32_t ZlibCrc32(const Bytes& data) {
  return static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

inline Bytes StormImplode(Bytes in) {
  Bytes out(in.size() * 2 + 8192);
  int size = static_cast<int>(out.size());
  if (!SCompImplode(out.data(), &size, in.data(), static_cast<int>(in.size()))) return {};
  out.resize(static_cast<size_t>(size));
  return out;
}
inline Bytes StormExplode(Bytes packed, size_t size) {
  Bytes out(size);
  int out_size = static_cast<int>(size);
  if (!SCompExplode(out.data(), &out_size, packed.data(), static_cast<int>(packed.size())))
    return {};
  out.resize(static_cast<size_t>(out_size));
  return out;
}

struct TestMember {
  std::string name;  // stored as is, then a NUL unless `terminate` is false
  Bytes data;
  uint32_t modified_time = 0x46FBE0C9;
  bool terminate = true;
  uint32_t crc_xor = 0;      // non-zero: a wrong MemberCrc
  size_t cut_packed_by = 0;  // bytes cut off the end of the packed data
};

inline Bytes ApstArchive(const std::vector<TestMember>& members) {
  Bytes out = {'A', 'P', 'S', 'T', 0, 0, 0, 0};
  for (const TestMember& m : members) {
    Bytes packed = StormImplode(m.data), header = {'$', 'P', 'K', 'F'};
    packed.resize(packed.size() - m.cut_packed_by);
    header.resize(24);
    PutLe(header, 4, ZlibCrc32(m.data) ^ m.crc_xor);
    PutLe(header, 10, static_cast<uint32_t>(m.name.size() + m.terminate), 2);
    PutLe(header, 12, static_cast<uint32_t>(packed.size()));
    PutLe(header, 16, 0x20);
    PutLe(header, 20, m.modified_time);
    Append(out, header);
    Append(out, m.name, m.name.size() + m.terminate);
    Append(out, packed);
  }
  return out;
}

}  // namespace floppyset::testing
