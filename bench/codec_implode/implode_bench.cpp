// Implode decoding, encoding and CRC-32 on a 1.44 MB FAT12 floppy image of real files, against
// StormLib's pklib, dynamite, ISA-L, zlib and memcpy in the same run.

#include <benchmark/benchmark.h>
#include <isa-l/crc.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "codec/crc32.h"
#include "codec/explode.h"
#include "implode_corpus.h"
#include "mkfloppyset/implode.h"

extern "C" {
#include <libdynamite.h>

unsigned int explode(unsigned int (*read_buf)(char*, unsigned int*, void*),
                     void (*write_buf)(char*, unsigned int*, void*), char* work_buf, void* param);
unsigned int implode(unsigned int (*read_buf)(char*, unsigned int*, void*),
                     void (*write_buf)(char*, unsigned int*, void*), char* work_buf, void* param,
                     unsigned int* type, unsigned int* dsize);
}

namespace floppyset::implode_testing {
namespace {

const Bytes& Floppy() {
  static const Bytes image = [] {
    const auto dir =
        std::filesystem::temp_directory_path() / ("floppyset-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    Bytes bytes = MakeFloppyImage(dir.string(), 1400 * 1024);
    std::filesystem::remove_all(dir);
    if (bytes.size() != 1474560) std::abort();
    return bytes;
  }();
  return image;
}

// The same stream for every decoder: pklib's, per dictionary size.
const Bytes& Stream(unsigned bits) {
  static std::map<unsigned, Bytes> streams;
  auto& stream = streams[bits];
  if (stream.empty()) stream = PklibImplode(Floppy(), bits);
  return stream;
}

// Shared by every decoder: serve the stream in 2048-byte reads, copy the output to a buffer.
struct Io {
  const Bytes* in;
  size_t in_pos = 0;
  uint8_t* out;
  size_t out_pos = 0;
  uint32_t crc = 0xFFFFFFFF;
  size_t Read(void* buffer, size_t size) {
    const size_t n = std::min(size, in->size() - in_pos);
    std::memcpy(buffer, in->data() + in_pos, n);
    in_pos += n;
    return n;
  }
  void Write(const void* buffer, size_t size) {
    std::memcpy(out + out_pos, buffer, size);
    out_pos += size;
  }
};

uint32_t OurRead(uint8_t* buffer, uint32_t* size, void* param) {
  return static_cast<uint32_t>(static_cast<Io*>(param)->Read(buffer, *size));
}
void OurWrite(uint8_t* buffer, uint32_t* size, void* param) {
  static_cast<Io*>(param)->Write(buffer, *size);
}
void OurWriteWithCrc(uint8_t* buffer, uint32_t* size, void* param) {
  auto* io = static_cast<Io*>(param);
  io->Write(buffer, *size);
  io->crc = Crc32Update(buffer, *size, io->crc);
}
unsigned int PklibRead(char* buffer, unsigned int* size, void* param) {
  return static_cast<unsigned int>(static_cast<Io*>(param)->Read(buffer, *size));
}
void PklibWrite(char* buffer, unsigned int* size, void* param) {
  static_cast<Io*>(param)->Write(buffer, *size);
}
size_t DynamiteRead(void* buffer, size_t size, void* param) {
  return static_cast<Io*>(param)->Read(buffer, size);
}
size_t DynamiteWrite(void* buffer, size_t size, void* param) {
  static_cast<Io*>(param)->Write(buffer, size);
  return size;
}

template <typename Decode>
void RunDecoder(benchmark::State& state, Decode decode) {
  const Bytes& stream = Stream(static_cast<unsigned>(state.range(0)));
  Bytes output(Floppy().size() + 8192);
  for (auto _ : state) {
    Io io{&stream, 0, output.data()};
    decode(io);
    if (io.out_pos != Floppy().size()) state.SkipWithError("wrong output size");
    benchmark::DoNotOptimize(io.crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Floppy().size()));
}

void BM_Explode_Ours(benchmark::State& state) {
  auto work = std::make_unique<ExplodeWorkArea>();
  RunDecoder(state, [&](Io& io) { Explode(OurRead, OurWrite, work.get(), &io); });
}

void BM_ExplodeWithCrc_Ours(benchmark::State& state) {
  auto work = std::make_unique<ExplodeWorkArea>();
  RunDecoder(state, [&](Io& io) { Explode(OurRead, OurWriteWithCrc, work.get(), &io); });
}

void BM_Explode_StormLib(benchmark::State& state) {
  std::vector<char> work(36312);
  RunDecoder(state, [&](Io& io) { explode(PklibRead, PklibWrite, work.data(), &io); });
}

void BM_Explode_Dynamite(benchmark::State& state) {
  RunDecoder(state, [&](Io& io) { dynamite_explode(DynamiteRead, DynamiteWrite, &io); });
}

template <typename Crc>
void RunCrc(benchmark::State& state, Crc crc) {
  const Bytes& data = Floppy();
  for (auto _ : state) benchmark::DoNotOptimize(crc(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void BM_Crc32_Ours(benchmark::State& state) {
  RunCrc(state, [](const uint8_t* p, size_t n) { return Crc32Update(p, n, 0xFFFFFFFF); });
}
void BM_Crc32_OursPortable(benchmark::State& state) {
  RunCrc(state, [](const uint8_t* p, size_t n) { return Crc32UpdatePortable(p, n, 0xFFFFFFFF); });
}
void BM_Crc32_Isal(benchmark::State& state) {
  RunCrc(state, [](const uint8_t* p, size_t n) { return crc32_gzip_refl(0, p, n); });
}
void BM_Crc32_Zlib(benchmark::State& state) {
  RunCrc(state, [](const uint8_t* p, size_t n) { return crc32(0, p, static_cast<uInt>(n)); });
}

void BM_Implode_Ours(benchmark::State& state) {
  const Bytes& data = Floppy();
  size_t packed = 0;
  for (auto _ : state) {
    packed = Implode(data.data(), data.size(), static_cast<unsigned>(state.range(0))).size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  state.counters["compressed"] = static_cast<double>(packed);
}

void BM_Implode_StormLib(benchmark::State& state) {
  const Bytes& data = Floppy();
  size_t packed = 0;
  for (auto _ : state) packed = PklibImplode(data, static_cast<unsigned>(state.range(0))).size();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  state.counters["compressed"] = static_cast<double>(packed);
}

void BM_Memcpy(benchmark::State& state) {
  const Bytes& data = Floppy();
  Bytes copy(data.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), data.data(), data.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

BENCHMARK(BM_Explode_Ours)->DenseRange(4, 6);
BENCHMARK(BM_ExplodeWithCrc_Ours)->DenseRange(4, 6);
BENCHMARK(BM_Explode_StormLib)->DenseRange(4, 6);
BENCHMARK(BM_Explode_Dynamite)->DenseRange(4, 6);
BENCHMARK(BM_Crc32_Ours);
BENCHMARK(BM_Crc32_OursPortable);
BENCHMARK(BM_Crc32_Isal);
BENCHMARK(BM_Crc32_Zlib);
BENCHMARK(BM_Implode_Ours)->DenseRange(4, 6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Implode_StormLib)->DenseRange(4, 6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy);

}  // namespace
}  // namespace floppyset::implode_testing
