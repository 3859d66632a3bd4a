#include "codec/crc16.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define FLOPPYSET_CRC16_CLMUL 1
#endif

namespace floppyset {
namespace {

constexpr uint16_t kReflectedPolynomial = 0xA001;

// Slicing-by-8 tables: row 0 is the classic byte table, row k advances a byte k positions
// further through the register.
using SliceTables = std::array<std::array<uint16_t, 256>, 8>;

constexpr SliceTables MakeSliceTables() {
  SliceTables tables{};
  for (unsigned n = 0; n < 256; ++n) {
    unsigned r = n;
    for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? (r >> 1) ^ kReflectedPolynomial : r >> 1;
    tables[0][n] = static_cast<uint16_t>(r);
  }
  for (size_t k = 1; k < 8; ++k) {
    for (unsigned n = 0; n < 256; ++n) {
      const uint16_t prev = tables[k - 1][n];
      tables[k][n] = static_cast<uint16_t>(tables[0][prev & 0xFF] ^ (prev >> 8));
    }
  }
  return tables;
}

constexpr SliceTables kTables = MakeSliceTables();

uint64_t LoadLittle64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

uint16_t UpdateBytewise(const uint8_t* p, size_t count, uint16_t crc) {
  for (size_t i = 0; i < count; ++i) crc = kTables[0][(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

#ifdef FLOPPYSET_CRC16_CLMUL

// Carry-less folding. Sixteen message bytes loaded little-endian into a 128-bit register hold
// the message polynomial bit-reflected: register bit i is the coefficient of x^(127 - i). A
// carry-less product of two reflected 64-bit values comes out multiplied by x once more, so
// every folding constant is x^(distance - 1) mod P, bit-reflected into 64 bits.
constexpr uint32_t kPolynomial = 0x18005;  // x^16 + x^15 + x^2 + 1

constexpr uint64_t XPowerModP(unsigned n) {
  uint32_t r = 1;
  for (unsigned i = 0; i < n; ++i) {
    r <<= 1;
    if (r & 0x10000) r ^= kPolynomial;
  }
  return r;
}

constexpr uint64_t Reflect64(uint64_t v) {
  uint64_t r = 0;
  for (int i = 0; i < 64; ++i) r |= ((v >> i) & 1) << (63 - i);
  return r;
}

// The low half of the register is the high-degree half of the polynomial: it travels
// `distance + 64` bits, the high half `distance` bits.
struct FoldConstants {
  uint64_t low_half;
  uint64_t high_half;
};

constexpr FoldConstants MakeFold(unsigned distance) {
  return {Reflect64(XPowerModP(distance + 64 - 1)), Reflect64(XPowerModP(distance - 1))};
}

constexpr FoldConstants kFold128 = MakeFold(128);
constexpr FoldConstants kFold512 = MakeFold(512);

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Needs count >= 64.
__attribute__((target("pclmul,sse4.1"))) uint16_t UpdateClmul(const uint8_t* p, size_t count,
                                                              uint16_t crc) {
  const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512.high_half),
                                      static_cast<long long>(kFold512.low_half));
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128.high_half),
                                      static_cast<long long>(kFold128.low_half));
  // A starting CRC is the same as XORing it into the first two message bytes.
  __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(crc));
  __m128i x1 = Load(p + 16);
  __m128i x2 = Load(p + 32);
  __m128i x3 = Load(p + 48);
  p += 64;
  count -= 64;
  while (count >= 64) {
    x0 = Fold(x0, k512, Load(p));
    x1 = Fold(x1, k512, Load(p + 16));
    x2 = Fold(x2, k512, Load(p + 32));
    x3 = Fold(x3, k512, Load(p + 48));
    p += 64;
    count -= 64;
  }
  __m128i x = Fold(Fold(Fold(x0, k128, x1), k128, x2), k128, x3);
  while (count >= 16) {
    x = Fold(x, k128, Load(p));
    p += 16;
    count -= 16;
  }
  alignas(16) uint8_t folded[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(folded), x);
  crc = Crc16UpdatePortable(folded, sizeof folded, 0);
  return Crc16UpdatePortable(p, count, crc);
}

bool CpuHasClmul() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

#endif  // FLOPPYSET_CRC16_CLMUL

}  // namespace

uint16_t Crc16UpdatePortable(const uint8_t* p, size_t count, uint16_t crc) {
  while (count >= 8) {
    const uint64_t x = LoadLittle64(p) ^ crc;
    crc = kTables[7][x & 0xFF] ^ kTables[6][(x >> 8) & 0xFF] ^ kTables[5][(x >> 16) & 0xFF] ^
          kTables[4][(x >> 24) & 0xFF] ^ kTables[3][(x >> 32) & 0xFF] ^
          kTables[2][(x >> 40) & 0xFF] ^ kTables[1][(x >> 48) & 0xFF] ^ kTables[0][x >> 56];
    p += 8;
    count -= 8;
  }
  return UpdateBytewise(p, count, crc);
}

uint16_t Crc16Update(const uint8_t* buffer, size_t count, uint16_t crc) {
#ifdef FLOPPYSET_CRC16_CLMUL
  if (count >= 128 && CpuHasClmul()) return UpdateClmul(buffer, count, crc);
#endif
  return Crc16UpdatePortable(buffer, count, crc);
}

}  // namespace floppyset
