#include "codec/crc16.h"

#include "base/bytes.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define FLOPPYSET_CRC16_CLMUL 1
// GCC cannot align Windows stack frames beyond 16 bytes (its bug 54412), so AVX-512 spills
// could fault there: Windows builds stop at the 128-bit folding.
#if !defined(_WIN32)
#define FLOPPYSET_CRC16_WIDE_CLMUL 1
#endif
#endif

namespace floppyset {
namespace {

constexpr uint16_t kReflectedPolynomial = 0xA001;

// Slicing-by-8 tables: row 0 is the classic byte table, row k advances a byte k positions
// further through the register. Entries are 32 bits wide because 16-bit XORs would merge
// into partial registers on x86.
using SliceTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr SliceTables MakeSliceTables() {
  SliceTables tables{};
  for (unsigned n = 0; n < 256; ++n) {
    unsigned r = n;
    for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? (r >> 1) ^ kReflectedPolynomial : r >> 1;
    tables[0][n] = r;
  }
  for (size_t k = 1; k < 8; ++k) {
    for (unsigned n = 0; n < 256; ++n) {
      const uint32_t prev = tables[k - 1][n];
      tables[k][n] = tables[0][prev & 0xFF] ^ (prev >> 8);
    }
  }
  return tables;
}

constexpr SliceTables kTables = MakeSliceTables();

// Eight bytes at once. The CRC stays in 32 bits between steps; only its low 16 bits are set.
inline uint32_t SliceEight(const uint8_t* p, uint32_t crc) {
  uint64_t x = LoadLe64(p) ^ crc;
  uint32_t result = 0;
#pragma GCC unroll 8
  for (size_t k = 8; k-- > 0; x >>= 8) result ^= kTables[k][x & 0xFF];
  return result;
}

uint16_t UpdateBytewise(const uint8_t* p, size_t count, uint16_t crc) {
  for (size_t i = 0; i < count; ++i) {
    crc = static_cast<uint16_t>(kTables[0][(crc ^ p[i]) & 0xFF] ^ (crc >> 8));
  }
  return crc;
}

uint16_t UpdateSliced(const uint8_t* p, size_t count, uint16_t crc) {
  uint32_t wide = crc;
  for (; count >= 8; p += 8, count -= 8) wide = SliceEight(p, wide);
  return UpdateBytewise(p, count, static_cast<uint16_t>(wide));
}

// Polynomials mod P in the register's reflected form: bit 15 is x^0, bit 0 is x^15.
uint16_t MultiplyModP(uint16_t a, uint16_t b) {
  uint16_t product = 0;
  for (unsigned m = 0x8000; m != 0; m >>= 1) {
    if (a & m) product ^= b;
    b = (b & 1) ? static_cast<uint16_t>((b >> 1) ^ kReflectedPolynomial) : b >> 1;
  }
  return product;
}

// x^(8n) mod P: appending n zero bytes multiplies a CRC by it.
uint16_t XPowerEightN(size_t n) {
  uint16_t result = 0x8000;  // x^0
  uint16_t square = 0x0080;  // x^8
  for (; n != 0; n >>= 1) {
    if (n & 1) result = MultiplyModP(result, square);
    square = MultiplyModP(square, square);
  }
  return result;
}

constexpr size_t kInterleaveThreshold = 16 * 1024;
constexpr size_t kStreams = 4;
// Both folding kernels need this many bytes.
constexpr size_t kFoldingThreshold = 256;

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
constexpr FoldConstants kFold2048 = MakeFold(2048);

__attribute__((target("pclmul,sse4.1"))) inline __m128i Constants(FoldConstants k) {
  return _mm_set_epi64x(static_cast<long long>(k.high_half), static_cast<long long>(k.low_half));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, next), high);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Folds the remaining 16-byte blocks into `folded`, then reduces it and the last bytes.
__attribute__((target("pclmul,sse4.1"))) uint16_t FinishFolding(__m128i folded, const uint8_t* p,
                                                                size_t count) {
  const __m128i k128 = Constants(kFold128);
  while (count >= 16) {
    folded = Fold(folded, k128, Load(p));
    p += 16;
    count -= 16;
  }
  uint8_t bytes[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), folded);
  return UpdateSliced(p, count, UpdateSliced(bytes, sizeof bytes, 0));
}

// 32-bit Windows keeps its stack only 4-byte aligned, and callers may come from the system:
// the entry realigns it for the 16-byte register spills.
#if defined(__i386__)
#define FLOPPYSET_REALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define FLOPPYSET_REALIGN_STACK
#endif

// Four independent 16-byte lanes hide the multiplier's latency. Needs count >= 64.
FLOPPYSET_REALIGN_STACK __attribute__((target("pclmul,sse4.1"))) uint16_t UpdateClmul(
    const uint8_t* p, size_t count, uint16_t crc) {
  const __m128i k512 = Constants(kFold512);
  const __m128i k128 = Constants(kFold128);
  // A starting CRC is the same as XORing it into the first two message bytes.
  __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(crc));
  __m128i x1 = Load(p + 16);
  __m128i x2 = Load(p + 32);
  __m128i x3 = Load(p + 48);
  for (p += 64, count -= 64; count >= 64; p += 64, count -= 64) {
    x0 = Fold(x0, k512, Load(p));
    x1 = Fold(x1, k512, Load(p + 16));
    x2 = Fold(x2, k512, Load(p + 32));
    x3 = Fold(x3, k512, Load(p + 48));
  }
  return FinishFolding(Fold(Fold(Fold(x0, k128, x1), k128, x2), k128, x3), p, count);
}

#ifdef FLOPPYSET_CRC16_WIDE_CLMUL

#define FLOPPYSET_WIDE_CLMUL __attribute__((target("avx512f,avx512vl,vpclmulqdq,pclmul,sse4.1")))

FLOPPYSET_WIDE_CLMUL inline __m512i WideConstants(FoldConstants k) {
  const auto low = static_cast<long long>(k.low_half);
  const auto high = static_cast<long long>(k.high_half);
  return _mm512_set_epi64(high, low, high, low, high, low, high, low);
}

// Four 128-bit folds in one instruction; the three-way XOR in one more.
FLOPPYSET_WIDE_CLMUL inline __m512i WideFold(__m512i x, __m512i k, __m512i next) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                   _mm512_clmulepi64_epi128(x, k, 0x11), next, 0x96);
}

// The same folding with AVX-512 VPCLMULQDQ: four 512-bit accumulators, 256 bytes a round.
// Needs count >= 256.
FLOPPYSET_WIDE_CLMUL uint16_t UpdateWideClmul(const uint8_t* p, size_t count, uint16_t crc) {
  constexpr size_t kAccumulators = 4;
  constexpr size_t kStride = 64 * kAccumulators;
  const __m512i k2048 = WideConstants(kFold2048);
  const __m512i k512 = WideConstants(kFold512);
  __m512i x[kAccumulators];
#pragma GCC unroll 4
  for (size_t i = 0; i < kAccumulators; ++i) x[i] = _mm512_loadu_si512(p + 64 * i);
  x[0] = _mm512_xor_si512(x[0], _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, crc));
  p += kStride;
  count -= kStride;
  while (count >= kStride) {
    for (size_t i = 0; i < kAccumulators; ++i)
      x[i] = WideFold(x[i], k2048, _mm512_loadu_si512(p + 64 * i));
    p += kStride;
    count -= kStride;
  }
  __m512i wide = x[0];
#pragma GCC unroll 4
  for (size_t i = 1; i < kAccumulators; ++i) wide = WideFold(wide, k512, x[i]);
  const __m128i k128 = Constants(kFold128);
  uint8_t lanes[64];
  _mm512_storeu_si512(lanes, wide);
  __m128i folded = Load(lanes);
  for (size_t i = 1; i < 4; ++i) folded = Fold(folded, k128, Load(lanes + 16 * i));
  // Dirty upper register halves would slow down all later SSE code of the process.
  _mm256_zeroupper();
  return FinishFolding(folded, p, count);
}

bool CpuHasWideClmul() {
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                          __builtin_cpu_supports("vpclmulqdq");
  return has;
}

#endif  // FLOPPYSET_CRC16_WIDE_CLMUL

bool CpuHasClmul() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

#endif  // FLOPPYSET_CRC16_CLMUL

}  // namespace

uint16_t Crc16UpdatePortable(const uint8_t* p, size_t count, uint16_t crc) {
  if (count < kInterleaveThreshold) return UpdateSliced(p, count, crc);
  // Independent streams keep the table lookups busy; their CRCs are joined by moving each
  // one past the bytes that follow it.
  const size_t part = count / kStreams & ~size_t{7};
  uint32_t crcs[kStreams] = {crc};
  for (size_t i = 0; i < part; i += 8) {
#pragma GCC unroll 8
    for (size_t k = 0; k < kStreams; ++k) crcs[k] = SliceEight(p + k * part + i, crcs[k]);
  }
  const uint16_t shift = XPowerEightN(part);
  crc = static_cast<uint16_t>(crcs[0]);
  for (size_t k = 1; k < kStreams; ++k) {
    crc = static_cast<uint16_t>(MultiplyModP(crc, shift) ^ crcs[k]);
  }
  return UpdateSliced(p + kStreams * part, count - kStreams * part, crc);
}

bool Crc16KernelAvailable(Crc16Kernel kernel) {
  switch (kernel) {
    case Crc16Kernel::kPortable:
      return true;
#ifdef FLOPPYSET_CRC16_CLMUL
    case Crc16Kernel::kClmul:
      return CpuHasClmul();
#endif
#ifdef FLOPPYSET_CRC16_WIDE_CLMUL
    case Crc16Kernel::kWideClmul:
      return CpuHasWideClmul();
#endif
    default:
      return false;
  }
}

uint16_t Crc16UpdateWith(Crc16Kernel kernel, const uint8_t* buffer, size_t count, uint16_t crc) {
#ifdef FLOPPYSET_CRC16_CLMUL
  if (count >= kFoldingThreshold) {
#ifdef FLOPPYSET_CRC16_WIDE_CLMUL
    if (kernel == Crc16Kernel::kWideClmul) return UpdateWideClmul(buffer, count, crc);
#endif
    if (kernel == Crc16Kernel::kClmul) return UpdateClmul(buffer, count, crc);
  }
#endif
  (void)kernel;
  return Crc16UpdatePortable(buffer, count, crc);
}

uint16_t Crc16Update(const uint8_t* buffer, size_t count, uint16_t crc) {
  static const Crc16Kernel best =
      Crc16KernelAvailable(Crc16Kernel::kWideClmul) ? Crc16Kernel::kWideClmul
      : Crc16KernelAvailable(Crc16Kernel::kClmul)   ? Crc16Kernel::kClmul
                                                    : Crc16Kernel::kPortable;
  return Crc16UpdateWith(best, buffer, count, crc);
}

}  // namespace floppyset
