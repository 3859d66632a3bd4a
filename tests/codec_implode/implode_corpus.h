// Inputs and independent implode implementations (StormLib's pklib, dynamite) shared by the
// implode tests and benchmarks. Only test and benchmark binaries link this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace floppyset::implode_testing {

using Bytes = std::vector<uint8_t>;

inline constexpr unsigned kDictionaryBits[] = {4, 5, 6};

// A 1,474,560-byte FAT12 floppy image made with mformat and mcopy in `work_dir`, holding a
// deterministic mix of text files from /usr/share/doc and binaries from /usr/bin until about
// `fill_bytes` of file data; empty when mtools failed.
Bytes MakeFloppyImage(const std::string& work_dir, size_t fill_bytes);

Bytes TextSample(size_t size);    // concatenated documentation text
Bytes BinarySample(size_t size);  // concatenated executables
Bytes RandomBytes(size_t size, uint32_t seed);

// StormLib's pklib encoder, binary mode, dictionary of 1 << (6 + bits) bytes.
Bytes PklibImplode(const Bytes& data, unsigned dictionary_bits);

struct Decoded {
  uint32_t result = 0;
  Bytes output;
};

// StormLib's pklib decoder over `stream` served in 2048-byte reads.
Decoded PklibExplode(const Bytes& stream);
// dynamite's decoder; only for complete streams (it does not stop on truncated input).
Decoded DynamiteExplode(const Bytes& stream);

}  // namespace floppyset::implode_testing
