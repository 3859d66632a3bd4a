#include "package/integrity.h"

#include <array>
#include <string>

#include "package/package_reader.h"

namespace floppyset {
namespace {

// The sum is a polynomial in 3: folding n bytes into s gives s * 3^n + sum(b[j] * 3^(n-1-j)).
// A chunk of kChunk bytes is therefore one dot product with precomputed powers of 3, which
// the compiler vectorises, followed by s = s * 3^kChunk + dot.
constexpr size_t kChunk = 1024;

struct Powers {
  std::array<uint32_t, kChunk> weight{};  // weight[i] = 3^(kChunk - 1 - i)
  uint32_t chunk = 1;                     // 3^kChunk
};

constexpr Powers MakePowers() {
  Powers p;
  for (size_t i = kChunk; i-- > 0;) {
    p.weight[i] = p.chunk;
    p.chunk *= 3;
  }
  return p;
}

constexpr Powers kPowers = MakePowers();

[[gnu::always_inline]] inline uint32_t SumChunks(const uint8_t* data, size_t chunks, uint32_t sum) {
  for (size_t c = 0; c < chunks; ++c, data += kChunk) {
    uint32_t dot = 0;
    for (size_t i = 0; i < kChunk; ++i) dot += kPowers.weight[i] * data[i];
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

void ComputePackageChecksum(RunState& state, Host& host) {
  state.PackageChecksum = 0;
  if (state.WorkspaceDir.empty()) return;
  const std::unique_ptr<MappedFile> mapping = host.MapForRead(ArchivePath(state));
  if (mapping) state.PackageChecksum = PackageSum(mapping->data(), mapping->size());
}

bool ExeChecksumMatches(const RunState& state) {
  return state.Header.ExpectedExeChecksum == state.PeCheckSum;
}

bool PackageChecksumMatches(const RunState& state) {
  return state.Header.ExpectedPackageChecksum == state.PackageChecksum;
}

}  // namespace floppyset
