// The published code tables of the PKWARE implode format, shared by the decoder and the encoder.
// Code values are given in the order their bits arrive (least-significant bit first).
#pragma once

#include <cstdint>

namespace floppyset::implode_format {

inline constexpr int kLengthCodeCount = 16;
inline constexpr int kDistanceCodeCount = 64;
inline constexpr uint32_t kEndOfStreamValue = 517;  // length value that ends the stream
inline constexpr uint32_t kMinMatch = 2;
inline constexpr uint32_t kMaxMatch = 518;  // value 516 + 2

// Bit lengths of the 64 distance position codes.
inline constexpr uint8_t kDistBits[kDistanceCodeCount] = {
    2, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};

inline constexpr uint8_t kDistCode[kDistanceCodeCount] = {
    0x03, 0x0D, 0x05, 0x19, 0x09, 0x11, 0x01, 0x3E, 0x1E, 0x2E, 0x0E, 0x36, 0x16, 0x26, 0x06, 0x3A,
    0x1A, 0x2A, 0x0A, 0x32, 0x12, 0x22, 0x42, 0x02, 0x7C, 0x3C, 0x5C, 0x1C, 0x6C, 0x2C, 0x4C, 0x0C,
    0x74, 0x34, 0x54, 0x14, 0x64, 0x24, 0x44, 0x04, 0x78, 0x38, 0x58, 0x18, 0x68, 0x28, 0x48, 0x08,
    0xF0, 0x70, 0xB0, 0x30, 0xD0, 0x50, 0x90, 0x10, 0xE0, 0x60, 0xA0, 0x20, 0xC0, 0x40, 0x80, 0x00};

// Extra bits after each length code, and the length value each code starts at.
inline constexpr uint8_t kExLenBits[kLengthCodeCount] = {0, 0, 0, 0, 0, 0, 0, 0,
                                                         1, 2, 3, 4, 5, 6, 7, 8};
inline constexpr uint16_t kLenBase[kLengthCodeCount] = {0, 1,  2,  3,  4,  5,  6,   7,
                                                        8, 10, 14, 22, 38, 70, 134, 262};

// Bit lengths and values of the 16 length codes.
inline constexpr uint8_t kLenBits[kLengthCodeCount] = {3, 2, 3, 3, 4, 4, 4, 5,
                                                       5, 5, 5, 6, 6, 6, 7, 7};
inline constexpr uint8_t kLenCode[kLengthCodeCount] = {
    0x05, 0x03, 0x01, 0x06, 0x0A, 0x02, 0x0C, 0x14, 0x04, 0x18, 0x08, 0x30, 0x10, 0x20, 0x40, 0x00};

}  // namespace floppyset::implode_format
