#include "package/integrity.h"

#include <array>
#include <string>

#include "workspace/workspace.h"

namespace floppyset {
namespace {

// The sum is a polynomial in 3: folding n bytes into s gives s * 3^n + sum(b[j] * 3^(n-1-j)).
// A chunk of kChunk bytes is therefore one dot product with precomputed powers of 3 and then
// s = s * 3^kChunk + dot. Each power is split into two signed 16-bit halves
// (w = low + high * 2^16 modulo 2^32), so that the dot products are 16 x 16 -> 32-bit
// multiply-adds, which the compiler turns into pmaddwd. With 256 bytes per chunk the
// partial sums stay below 2^31 (256 * 255 * 32768).
constexpr size_t kChunk = 256;

struct Powers {
  std::array<int16_t, kChunk> low{};  // low[i] + high[i] * 2^16 = 3^(kChunk - 1 - i)
  std::array<int16_t, kChunk> high{};
  uint32_t chunk = 1;  // 3^kChunk
};

constexpr int16_t SignedHalf(uint32_t half) {
  return static_cast<int16_t>(half >= 0x8000 ? static_cast<int32_t>(half) - 0x10000
                                             : static_cast<int32_t>(half));
}

constexpr Powers MakePowers() {
  Powers p;
  for (size_t i = kChunk; i-- > 0;) {
    const int16_t low = SignedHalf(p.chunk & 0xFFFF);
    p.low[i] = low;
    p.high[i] = SignedHalf(((p.chunk - static_cast<uint32_t>(int32_t{low})) >> 16) & 0xFFFF);
    p.chunk *= 3;
  }
  return p;
}

constexpr Powers kPowers = MakePowers();

[[gnu::always_inline]] inline uint32_t SumChunks(const uint8_t* data, size_t chunks, uint32_t sum) {
  for (size_t c = 0; c < chunks; ++c, data += kChunk) {
    int32_t low = 0, high = 0;
    for (size_t i = 0; i < kChunk; ++i) {
      const int16_t b = data[i];
      low += b * kPowers.low[i];
      high += b * kPowers.high[i];
    }
    const uint32_t dot = static_cast<uint32_t>(low) + (static_cast<uint32_t>(high) << 16);
    sum = sum * kPowers.chunk + dot;
  }
  return sum;
}

using SumChunksFn = uint32_t (*)(const uint8_t*, size_t, uint32_t);

uint32_t SumChunksBaseline(const uint8_t* data, size_t chunks, uint32_t sum) {
  return SumChunks(data, chunks, sum);
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
[[gnu::target("avx2")]] uint32_t SumChunksAvx2(const uint8_t* data, size_t chunks, uint32_t sum) {
  return SumChunks(data, chunks, sum);
}

SumChunksFn SelectSumChunks() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? SumChunksAvx2 : SumChunksBaseline;
}
#else
inline SumChunksFn SelectSumChunks() {
  return SumChunksBaseline;
}
#endif

}  // namespace

uint32_t PackageSum(const uint8_t* data, size_t size, uint32_t sum) {
  static const SumChunksFn sum_chunks = SelectSumChunks();
  const size_t chunks = size / kChunk;
  if (chunks != 0) sum = sum_chunks(data, chunks, sum);
  for (size_t i = chunks * kChunk; i < size; ++i) sum = sum * 3 + data[i];
  return sum;
}

uint32_t ArchiveChecksum(const std::string& workspace, Host& host) {
  if (workspace.empty()) return 0;
  const std::unique_ptr<MappedFile> mapping = host.MapForRead(ArchivePath(workspace));
  return mapping ? PackageSum(mapping->data(), mapping->size()) : 0;
}

}  // namespace floppyset
