// Hand-made setup program files for the package tests: a PE header that names SizeOfImage
// and CheckSum, zero filler, then whatever package bytes the test wants.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace floppyset::testing {

inline void PutLe16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t GetLe32(const std::vector<uint8_t>& in, size_t at) {
  return in[at] | in[at + 1] << 8 | in[at + 2] << 16 | static_cast<uint32_t>(in[at + 3]) << 24;
}
inline uint16_t GetLe16(const std::vector<uint8_t>& in, size_t at) {
  return static_cast<uint16_t>(in[at] | in[at + 1] << 8);
}

// A program image of `size_of_image` bytes whose PE headers start at `pe_offset`; only the
// first 0x200 bytes hold anything, as if its sections ended early.
inline std::vector<uint8_t> ProgramImage(uint32_t size_of_image, uint32_t checksum,
                                         uint32_t pe_offset = 0x80) {
  std::vector<uint8_t> image(size_of_image, 0);
  image[0] = 'M';
  image[1] = 'Z';
  PutLe32(image, 60, pe_offset);
  image[pe_offset] = 'P';
  image[pe_offset + 1] = 'E';
  PutLe32(image, pe_offset + 24 + 56, size_of_image);
  PutLe32(image, pe_offset + 24 + 64, checksum);
  for (size_t i = pe_offset + 248; i < 0x200 && i < image.size(); ++i) image[i] = 0xCC;
  return image;
}

inline void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) {
  out.insert(out.end(), more.begin(), more.end());
}
inline void Append(std::vector<uint8_t>& out, const std::string& text, size_t length) {
  std::vector<uint8_t> bytes(length, 0);
  for (size_t i = 0; i < text.size() && i < length; ++i) bytes[i] = static_cast<uint8_t>(text[i]);
  Append(out, bytes);
}

}  // namespace floppyset::testing
