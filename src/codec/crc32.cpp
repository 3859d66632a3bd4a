// CRC-32/ISO-HDLC. On x86 with carry-less multiplication the bulk of a block is folded 64 bytes
// at a time (the method of Intel's "Fast CRC Computation Using PCLMULQDQ"); elsewhere, and for
// the tails, slicing-by-16 tables do 16 bytes per step.

#include "codec/crc32.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define FLOPPYSET_CRC32_CLMUL 1
#endif

namespace floppyset {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320;
constexpr int kSlices = 16;

using SliceTables = std::array<std::array<uint32_t, 256>, kSlices>;

// tables[0] is the classic byte table; tables[k][b] is the CRC of byte b followed by k zeros.
constexpr SliceTables MakeSliceTables() {
  SliceTables tables{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t crc = b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (kPolynomial & (0u - (crc & 1)));
    tables[0][b] = crc;
  }
  for (int k = 1; k < kSlices; ++k) {
    for (uint32_t b = 0; b < 256; ++b) {
      const uint32_t prev = tables[k - 1][b];
      tables[k][b] = (prev >> 8) ^ tables[0][prev & 0xFF];
    }
  }
  return tables;
}

constexpr SliceTables kTables = MakeSliceTables();

inline uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

#if FLOPPYSET_CRC32_CLMUL

// Folding constants for the reflected polynomial: x^(4*128+32), x^(4*128-32) mod P (fold by
// four), x^(128+32), x^(128-32) (fold by one), x^64 (128 to 64 bits), then P and mu for the
// Barrett reduction.
alignas(16) constexpr uint64_t kFold4[2] = {0x0154442bd4, 0x01c6e41596};
alignas(16) constexpr uint64_t kFold1[2] = {0x01751997d0, 0x00ccaa009e};
alignas(16) constexpr uint64_t kFold64[2] = {0x0163cd6124, 0};
alignas(16) constexpr uint64_t kBarrett[2] = {0x01db710641, 0x01f7011641};

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i acc, __m128i k, __m128i data) {
  const __m128i low = _mm_clmulepi64_si128(acc, k, 0x00);
  const __m128i high = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), data);
}

// count >= 64 and a multiple of 16.
__attribute__((target("pclmul,sse4.1"))) uint32_t Crc32Clmul(const uint8_t* p, size_t count,
                                                             uint32_t crc) {
  auto load = [](const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = load(p + 16);
  __m128i x3 = load(p + 32);
  __m128i x4 = load(p + 48);
  p += 64;
  count -= 64;
  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold4));
  while (count >= 64) {
    x1 = Fold(x1, k, load(p));
    x2 = Fold(x2, k, load(p + 16));
    x3 = Fold(x3, k, load(p + 32));
    x4 = Fold(x4, k, load(p + 48));
    p += 64;
    count -= 64;
  }
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold1));
  x1 = Fold(x1, k, x2);
  x1 = Fold(x1, k, x3);
  x1 = Fold(x1, k, x4);
  for (; count >= 16; count -= 16, p += 16) x1 = Fold(x1, k, load(p));

  // 128 bits to 64.
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  x2 = _mm_clmulepi64_si128(x1, k, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kFold64));
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x00), x2);

  // Barrett reduction to 32 bits.
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(kBarrett));
  x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x10);
  x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, low32), k, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, x2), 1));
}

bool CpuHasClmul() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

#endif  // FLOPPYSET_CRC32_CLMUL

}  // namespace

uint32_t Crc32UpdatePortable(const uint8_t* buffer, size_t count, uint32_t crc) {
  const auto& t = kTables;
  while (count >= 16) {
    const uint32_t a = LoadLe32(buffer) ^ crc;
    const uint32_t b = LoadLe32(buffer + 4);
    const uint32_t c = LoadLe32(buffer + 8);
    const uint32_t d = LoadLe32(buffer + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    buffer += 16;
    count -= 16;
  }
  while (count-- > 0) crc = t[0][(crc ^ *buffer++) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t Crc32Update(const uint8_t* buffer, size_t count, uint32_t crc) {
#if FLOPPYSET_CRC32_CLMUL
  if (count >= 64 && CpuHasClmul()) {
    const size_t bulk = count & ~size_t{15};
    crc = Crc32Clmul(buffer, bulk, crc);
    buffer += bulk;
    count -= bulk;
  }
#endif
  return Crc32UpdatePortable(buffer, count, crc);
}

}  // namespace floppyset
