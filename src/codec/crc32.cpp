// CRC-32/ISO-HDLC. On x86 the bulk of a block is folded with carry-less multiplication (the
// method of Intel's "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ"), 256 bytes
// per step with AVX-512 VPCLMULQDQ or 64 bytes with PCLMULQDQ, chosen once from the CPU's
// features. Elsewhere, and for the tails, five interleaved table-driven CRCs over 8-byte words.

#include "codec/crc32.h"

#include "base/bytes.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define FLOPPYSET_CRC32_CLMUL 1
// GCC cannot align Windows stack frames beyond 16 bytes (its bug 54412), so AVX-512 register
// spills could fault there: Windows builds stop at the 16-byte PCLMULQDQ folding.
#if !defined(_WIN32)
#define FLOPPYSET_CRC32_VPCLMUL 1
#endif
#endif

namespace floppyset {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320;
constexpr int kLanes = 5;      // interleaved CRCs of the portable version
constexpr int kWordBytes = 8;  // bytes per lane and step
constexpr int kBlockBytes = kLanes * kWordBytes;

using Table = std::array<uint32_t, 256>;

constexpr uint32_t ShiftZeroByte(uint32_t crc, const Table& byte_table) {
  return (crc >> 8) ^ byte_table[crc & 0xFF];
}

constexpr Table MakeByteTable() {
  Table table{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t crc = b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (kPolynomial & (0u - (crc & 1)));
    table[b] = crc;
  }
  return table;
}

constexpr Table kByteTable = MakeByteTable();

// kLaneTables[j][b]: the register after byte b at byte j of a lane's word and the zeros up to
// the same lane's next word, kBlockBytes later. XORed into that word, it carries the lane on.
constexpr std::array<Table, kWordBytes> MakeLaneTables() {
  std::array<Table, kWordBytes> tables{};
  for (int j = 0; j < kWordBytes; ++j) {
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t crc = kByteTable[b];
      for (int zero = 0; zero < kBlockBytes - j - 1; ++zero) crc = ShiftZeroByte(crc, kByteTable);
      tables[j][b] = crc;
    }
  }
  return tables;
}

constexpr std::array<Table, kWordBytes> kLaneTables = MakeLaneTables();

inline uint32_t LaneStep(uint64_t word) {
  // Two bytes per shift (the second byte is a cheap extract on x86).
  uint32_t crc = 0;
#pragma GCC unroll 4
  for (int j = 0; j < kWordBytes; j += 2, word >>= 16) {
    crc ^= kLaneTables[j][word & 0xFF] ^ kLaneTables[j + 1][(word >> 8) & 0xFF];
  }
  return crc;
}

// The register after the 8 bytes of `word`, starting from 0 (the register is XORed in first).
inline uint32_t WordStep(uint64_t word) {
#pragma GCC unroll 8
  for (int j = 0; j < kWordBytes; ++j) word = (word >> 8) ^ kByteTable[word & 0xFF];
  return static_cast<uint32_t>(word);
}

inline uint32_t BytewiseUpdate(const uint8_t* p, size_t count, uint32_t crc) {
  while (count-- > 0) crc = kByteTable[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return crc;
}

#if FLOPPYSET_CRC32_CLMUL

// Folding constants for the reflected polynomial (bit-reflected x^n mod P, shifted left by one):
// pairs for folding across 256, 64 and 16 bytes (n = 8 * distance + 32 and - 32), x^64 for
// 128 to 64 bits, then P and mu for the Barrett reduction.
alignas(16) constexpr uint64_t kFold256[2] = {0x011542778a, 0x01322d1430};
alignas(16) constexpr uint64_t kFold64[2] = {0x0154442bd4, 0x01c6e41596};
alignas(16) constexpr uint64_t kFold16[2] = {0x01751997d0, 0x00ccaa009e};
alignas(16) constexpr uint64_t kFold8[2] = {0x0163cd6124, 0};
alignas(16) constexpr uint64_t kBarrett[2] = {0x01db710641, 0x01f7011641};

#define FLOPPYSET_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))
#define FLOPPYSET_VPCLMUL_TARGET \
  __attribute__((target("avx512f,avx512vl,avx512bw,vpclmulqdq,pclmul,sse4.1")))

FLOPPYSET_CLMUL_TARGET inline __m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

FLOPPYSET_CLMUL_TARGET inline __m128i Constants(const uint64_t* pair) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(pair));
}

// acc * x^(distance) folded onto data.
FLOPPYSET_CLMUL_TARGET inline __m128i Fold(__m128i acc, __m128i k, __m128i data) {
  const __m128i low = _mm_clmulepi64_si128(acc, k, 0x00);
  const __m128i high = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), data);
}

// Folds the remaining 16-byte blocks into acc and reduces it to the 32-bit register.
FLOPPYSET_CLMUL_TARGET inline uint32_t FinishFolding(__m128i acc, const uint8_t* p, size_t count) {
  __m128i k = Constants(kFold16);
  for (; count >= 16; count -= 16, p += 16) acc = Fold(acc, k, Load128(p));

  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  acc = _mm_xor_si128(_mm_srli_si128(acc, 8), _mm_clmulepi64_si128(acc, k, 0x10));
  k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kFold8));
  acc = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(acc, low32), k, 0x00),
                      _mm_srli_si128(acc, 4));

  k = Constants(kBarrett);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(acc, low32), k, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), k, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(acc, t), 1));
}

// count >= 64 and a multiple of 16.
FLOPPYSET_CLMUL_TARGET uint32_t Crc32Clmul(const uint8_t* p, size_t count, uint32_t crc) {
  __m128i x1 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = Load128(p + 16);
  __m128i x3 = Load128(p + 32);
  __m128i x4 = Load128(p + 48);
  p += 64;
  count -= 64;
  const __m128i k = Constants(kFold64);
  for (; count >= 64; count -= 64, p += 64) {
    x1 = Fold(x1, k, Load128(p));
    x2 = Fold(x2, k, Load128(p + 16));
    x3 = Fold(x3, k, Load128(p + 32));
    x4 = Fold(x4, k, Load128(p + 48));
  }
  const __m128i k16 = Constants(kFold16);
  x1 = Fold(Fold(Fold(x1, k16, x2), k16, x3), k16, x4);
  return FinishFolding(x1, p, count);
}

#if FLOPPYSET_CRC32_VPCLMUL

FLOPPYSET_VPCLMUL_TARGET inline __m512i Load512(const uint8_t* p) {
  return _mm512_loadu_si512(p);
}

FLOPPYSET_VPCLMUL_TARGET inline __m512i Broadcast(const uint64_t* pair) {
  const auto low = static_cast<long long>(pair[0]);
  const auto high = static_cast<long long>(pair[1]);
  return _mm512_set_epi64(high, low, high, low, high, low, high, low);
}

FLOPPYSET_VPCLMUL_TARGET inline __m512i Fold512(__m512i acc, __m512i k, __m512i data) {
  const __m512i low = _mm512_clmulepi64_epi128(acc, k, 0x00);
  const __m512i high = _mm512_clmulepi64_epi128(acc, k, 0x11);
  return _mm512_ternarylogic_epi64(low, high, data, 0x96);  // low ^ high ^ data
}

// count >= 256 and a multiple of 16: four 64-byte accumulators, each four 16-byte lanes.
FLOPPYSET_VPCLMUL_TARGET uint32_t Crc32Vpclmul(const uint8_t* p, size_t count, uint32_t crc) {
  const __m512i seed =
      _mm512_inserti32x4(_mm512_setzero_si512(), _mm_cvtsi32_si128(static_cast<int>(crc)), 0);
  __m512i z0 = _mm512_xor_si512(Load512(p), seed);
  __m512i z1 = Load512(p + 64);
  __m512i z2 = Load512(p + 128);
  __m512i z3 = Load512(p + 192);
  p += 256;
  count -= 256;
  __m512i k = Broadcast(kFold256);
  for (; count >= 256; count -= 256, p += 256) {
    z0 = Fold512(z0, k, Load512(p));
    z1 = Fold512(z1, k, Load512(p + 64));
    z2 = Fold512(z2, k, Load512(p + 128));
    z3 = Fold512(z3, k, Load512(p + 192));
  }
  k = Broadcast(kFold64);
  z0 = Fold512(Fold512(Fold512(z0, k, z1), k, z2), k, z3);
  uint8_t lanes[64];
  _mm512_storeu_si512(lanes, z0);
  const __m128i k16 = Constants(kFold16);
  __m128i x = Load128(lanes);
  for (int lane = 1; lane < 4; ++lane) x = Fold(x, k16, Load128(lanes + 16 * lane));
  return FinishFolding(x, p, count);
}

#endif  // FLOPPYSET_CRC32_VPCLMUL

enum class ClmulLevel { kNone, kSse, kAvx512 };

ClmulLevel DetectClmul() {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("pclmul") || !__builtin_cpu_supports("sse4.1")) {
    return ClmulLevel::kNone;
  }
#if FLOPPYSET_CRC32_VPCLMUL
  if (__builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw")) {
    return ClmulLevel::kAvx512;
  }
#endif
  return ClmulLevel::kSse;
}

#endif  // FLOPPYSET_CRC32_CLMUL

}  // namespace

uint32_t Crc32UpdatePortable(const uint8_t* buffer, size_t count, uint32_t crc) {
  if (count >= 2 * kBlockBytes) {
    static_assert(kLanes == 5);
    uint32_t c0 = crc, c1 = 0, c2 = 0, c3 = 0, c4 = 0;
    size_t blocks = count / kBlockBytes;
    // Every block but the last moves each lane on by one block.
    for (; blocks > 1; --blocks, buffer += kBlockBytes) {
      c0 = LaneStep(LoadLe64(buffer) ^ c0);
      c1 = LaneStep(LoadLe64(buffer + 8) ^ c1);
      c2 = LaneStep(LoadLe64(buffer + 16) ^ c2);
      c3 = LaneStep(LoadLe64(buffer + 24) ^ c3);
      c4 = LaneStep(LoadLe64(buffer + 32) ^ c4);
    }
    // The last block joins the lanes into one register.
    crc = WordStep(LoadLe64(buffer) ^ c0);
    crc = WordStep(LoadLe64(buffer + 8) ^ c1 ^ crc);
    crc = WordStep(LoadLe64(buffer + 16) ^ c2 ^ crc);
    crc = WordStep(LoadLe64(buffer + 24) ^ c3 ^ crc);
    crc = WordStep(LoadLe64(buffer + 32) ^ c4 ^ crc);
    buffer += kBlockBytes;
    count %= kBlockBytes;
  }
  return BytewiseUpdate(buffer, count, crc);
}

uint32_t Crc32Update(const uint8_t* buffer, size_t count, uint32_t crc) {
#if FLOPPYSET_CRC32_CLMUL
  static const ClmulLevel level = DetectClmul();
  if (count >= 64 && level != ClmulLevel::kNone) {
    const size_t bulk = count & ~size_t{15};
#if FLOPPYSET_CRC32_VPCLMUL
    if (level == ClmulLevel::kAvx512 && bulk >= 256) {
      crc = Crc32Vpclmul(buffer, bulk, crc);
    } else {
      crc = Crc32Clmul(buffer, bulk, crc);
    }
#else
    crc = Crc32Clmul(buffer, bulk, crc);
#endif
    buffer += bulk;
    count -= bulk;
  }
#endif
  return Crc32UpdatePortable(buffer, count, crc);
}

}  // namespace floppyset
