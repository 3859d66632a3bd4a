// CRC-16/ARC (reflected polynomial 0xA001, initial value 0, no final XOR), the checksum that
// LHA archives store for every member.
#pragma once

#include <cstddef>
#include <cstdint>

namespace floppyset {

// Continues `crc` over `count` bytes. Uses carry-less multiplication where the CPU has it.
uint16_t Crc16Update(const uint8_t* buffer, size_t count, uint16_t crc);

// The table-driven (slicing-by-8) form, the same result on every CPU.
uint16_t Crc16UpdatePortable(const uint8_t* buffer, size_t count, uint16_t crc);

// The implementations Crc16Update chooses from, for tests and benchmarks: SSE PCLMULQDQ and
// AVX-512 VPCLMULQDQ folding (x86 only), and the portable one.
enum class Crc16Kernel { kPortable, kClmul, kWideClmul };
bool Crc16KernelAvailable(Crc16Kernel kernel);
// Crc16Update with the given kernel, which must be available.
uint16_t Crc16UpdateWith(Crc16Kernel kernel, const uint8_t* buffer, size_t count, uint16_t crc);

}  // namespace floppyset
