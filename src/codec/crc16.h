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

}  // namespace floppyset
