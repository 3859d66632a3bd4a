// Hand-made program files and APST archives, members imploded by StormLib (an encoder
// independent of ours), and image-like data.
#pragma once

#include <StormLib.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace floppyset::testing {

using Bytes = std::vector<uint8_t>;

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
inline uint32_t ZlibCrc32(const Bytes& data) {
  return static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

// A program image of `size_of_image` bytes whose PE headers start at 0x80, otherwise zeros.
inline Bytes ProgramImage(uint32_t size_of_image, uint32_t checksum) {
  Bytes image(size_of_image, 0);
  image[0] = 'M', image[1] = 'Z', image[0x80] = 'P', image[0x81] = 'E';
  PutLe(image, 60, 0x80);
  PutLe(image, 0x80 + 24 + 56, size_of_image);
  PutLe(image, 0x80 + 24 + 64, checksum);
  return image;
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

// Something like a floppy image: runs of zeros, text and counting bytes.
inline Bytes ImageLike(size_t size, unsigned seed) {
  Bytes data(size, 0);
  for (size_t i = 0; i < size; ++i) {
    if ((i / 4096 + seed) % 3 == 0) data[i] = static_cast<uint8_t>("FLOPPYSET "[(i + seed) % 10]);
    if ((i / 4096 + seed) % 3 == 1) data[i] = static_cast<uint8_t>(i * seed >> 3);
  }
  return data;
}

}  // namespace floppyset::testing
