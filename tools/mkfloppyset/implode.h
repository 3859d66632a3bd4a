// Encoder for the PKWARE Data Compression Library "implode" format, binary literal mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace floppyset {

// Compresses `size` bytes into a complete stream (two header bytes, the codes, the end-of-stream
// marker, padding to a whole byte). dictionary_bits 4, 5 or 6 selects a 1024, 2048 or 4096-byte
// dictionary; any other value is treated as 6.
std::vector<uint8_t> Implode(const uint8_t* data, size_t size, unsigned dictionary_bits);

}  // namespace floppyset
