// CRC-32 as used by PKWARE archives and gzip (reflected polynomial 0xEDB88320).
#pragma once

#include <cstddef>
#include <cstdint>

namespace floppyset {

// Feeds `count` bytes into the CRC register `crc` and returns the new register. The caller keeps
// the register: start with 0xFFFFFFFF, feed every block in order, XOR with 0xFFFFFFFF at the end.
// A count of 0 returns the register unchanged. Uses carry-less multiplication when the CPU has it.
uint32_t Crc32Update(const uint8_t* buffer, size_t count, uint32_t crc);

// The table-driven version that runs on every CPU (exposed for tests and benchmarks).
uint32_t Crc32UpdatePortable(const uint8_t* buffer, size_t count, uint32_t crc);

}  // namespace floppyset
