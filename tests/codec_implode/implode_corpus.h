// A floppy image of real files and the independent implode implementations (StormLib's pklib,
// dynamite), shared by the implode and LHA tests and the benchmarks, which alone link them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace floppyset::implode_testing {

using Bytes = std::vector<uint8_t>;

// A 1,474,560-byte FAT12 image made by mformat and mcopy in `work_dir`, holding text files
// from /usr/share/doc and programs from /usr/bin, in turn, up to about `fill_bytes` of data;
// empty when mtools failed.
Bytes MakeFloppyImage(const std::string& work_dir, size_t fill_bytes);
Bytes RandomBytes(size_t size, uint32_t seed);

// pklib's encoder, binary mode, dictionary of 1 << (6 + bits) bytes.
Bytes PklibImplode(const Bytes& data, unsigned dictionary_bits);

// pklib's decoder over `stream`; dynamite's, for complete streams only (it does not stop on
// truncated input).
struct Decoded {
  uint32_t result = 0;
  Bytes output;
};
Decoded PklibExplode(const Bytes& stream);
Decoded DynamiteExplode(const Bytes& stream);

}  // namespace floppyset::implode_testing
