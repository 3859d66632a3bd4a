// The package sum against the plain byte loop and memcpy over a several-MB archive.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "package/integrity.h"

namespace {

constexpr size_t kArchiveSize = 2654140;  // the example package's archive

const std::vector<uint8_t>& Archive() {
  static const std::vector<uint8_t> archive = [] {
    std::vector<uint8_t> data(kArchiveSize);
    std::mt19937 random(7);
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    return data;
  }();
  return archive;
}

[[gnu::noinline]] uint32_t PlainLoop(const uint8_t* data, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum = sum * 3 + data[i];
  return sum;
}

void BM_PackageChecksum_Ours(benchmark::State& state) {
  const std::vector<uint8_t>& data = Archive();
  for (auto _ : state) benchmark::DoNotOptimize(floppyset::PackageSum(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_PackageChecksum_Ours);

void BM_PackageChecksum_PlainLoop(benchmark::State& state) {
  const std::vector<uint8_t>& data = Archive();
  for (auto _ : state) benchmark::DoNotOptimize(PlainLoop(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_PackageChecksum_PlainLoop);

void BM_Memcpy(benchmark::State& state) {
  const std::vector<uint8_t>& data = Archive();
  std::vector<uint8_t> copy(data.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), data.data(), data.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Memcpy);

}  // namespace
