// -lh5- decoding (with its CRC-16) and CRC-16 alone, memory to memory, on a 1.44 MB FAT12
// floppy image of mixed real files made with mtools and compressed by jlha.
#include <archive.h>
#include <archive_entry.h>
#include <benchmark/benchmark.h>
#include <generic_crc.h>
#include <lhasa.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/crc16.h"
#include "codec/lh5_decoder.h"

namespace {

using floppyset::Crc16Update;
using floppyset::Crc16UpdatePortable;
using floppyset::Lh5Decoder;

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A floppy image of text, programs, libraries and pictures, compressed into a level-0 jlha
// archive of one member.
struct Corpus {
  std::vector<uint8_t> image;
  std::vector<uint8_t> archive;  // the whole jlha archive
  std::vector<uint8_t> packed;   // the member's -lh5- stream
  uint16_t crc = 0;

  Corpus() {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("floppyset-lha-bench-" + std::to_string(getpid()));
    const std::string d = dir.string();
    const std::string script =
        "set -e; rm -rf '" + d + "'; mkdir -p '" + d + "/f'; cd '" + d + "/f'; " +
        "cp /usr/share/common-licenses/GPL-3 GPL3.TXT; "
        "head -c 380000 /bin/bash > BASH.EXE; "
        "head -c 260000 /usr/lib/x86_64-linux-gnu/libstdc++.so.6 > LIBSTD.DLL; "
        "cat /usr/share/doc/*/copyright 2>/dev/null | head -c 320000 > COPYRITE.TXT; "
        "cat /usr/share/pixmaps/* 2>/dev/null | head -c 120000 > PIXMAPS.DAT; "
        "head -c 150000 /usr/bin/java 2>/dev/null > JAVA.EXE || true; "
        "mformat -C -f 1440 -i ../image.ima :: >/dev/null; mcopy -i ../image.ima * :: >/dev/null; "
        "cd ..; cp image.ima image00.tii; jlha a0q1 set.lzh image00.tii >/dev/null 2>&1";
    if (std::system(script.c_str()) != 0) throw std::runtime_error("corpus: " + script);
    image = ReadAll(d + "/image.ima");
    archive = ReadAll(d + "/set.lzh");
    std::filesystem::remove_all(dir);
    // Level-0 header: size byte, checksum, then method, sizes, ..., name, CRC-16.
    const size_t header = archive.at(0);
    const size_t name_length = archive.at(21);
    if (std::memcmp(&archive[2], "-lh5-", 5) != 0 || image.size() != 1474560) {
      throw std::runtime_error("corpus: unexpected jlha output");
    }
    const uint32_t packed_size =
        archive[7] | archive[8] << 8 | archive[9] << 16 | archive[10] << 24;
    crc = static_cast<uint16_t>(archive[22 + name_length] | archive[23 + name_length] << 8);
    packed.assign(archive.begin() + 2 + header, archive.begin() + 2 + header + packed_size);
  }
};

const Corpus& TheCorpus() {
  static const Corpus corpus;
  return corpus;
}

void Report(benchmark::State& state, size_t bytes, bool ok) {
  if (!ok) state.SkipWithError("wrong output");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["ratio_packed"] = static_cast<double>(TheCorpus().packed.size()) / bytes;
}

void BM_Lh5_Ours(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  Lh5Decoder decoder;
  bool ok = true;
  for (auto _ : state) {
    decoder.Start(c.packed);
    uint16_t crc = 0;
    for (size_t left = c.image.size(); left > 0;) {
      const size_t n = std::min(left, Lh5Decoder::kMaxChunk);
      decoder.Decode(n);
      crc = Crc16Update(decoder.output().data(), n, crc);
      left -= n;
    }
    ok &= crc == c.crc;
  }
  Report(state, c.image.size(), ok);
}
BENCHMARK(BM_Lh5_Ours);

// The same without the CRC-16, to show what the CRC costs inside the decoder.
void BM_Lh5_OursWithoutCrc(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  Lh5Decoder decoder;
  for (auto _ : state) {
    decoder.Start(c.packed);
    for (size_t left = c.image.size(); left > 0;) {
      const size_t n = std::min(left, Lh5Decoder::kMaxChunk);
      decoder.Decode(n);
      benchmark::DoNotOptimize(decoder.output().data());
      left -= n;
    }
  }
  Report(state, c.image.size(), true);
}
BENCHMARK(BM_Lh5_OursWithoutCrc);

void BM_Lh5_Libarchive(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  std::vector<uint8_t> buffer(64 * 1024);
  bool ok = true;
  for (auto _ : state) {
    archive* a = archive_read_new();
    archive_read_support_format_lha(a);
    archive_read_open_memory(a, c.archive.data(), c.archive.size());
    archive_entry* entry;
    size_t total = 0;
    if (archive_read_next_header(a, &entry) == ARCHIVE_OK) {
      la_ssize_t n;
      while ((n = archive_read_data(a, buffer.data(), buffer.size())) > 0) total += n;
      ok &= n == 0;  // libarchive checks the CRC-16 at the end
    }
    ok &= total == c.image.size();
    archive_read_free(a);
  }
  Report(state, c.image.size(), ok);
}
BENCHMARK(BM_Lh5_Libarchive);

struct MemoryStream {
  const uint8_t* data;
  size_t left;
};

size_t ReadMemory(void* buf, size_t buf_len, void* user_data) {
  auto* m = static_cast<MemoryStream*>(user_data);
  const size_t n = std::min(buf_len, m->left);
  std::memcpy(buf, m->data, n);
  m->data += n;
  m->left -= n;
  return n;
}

void BM_Lh5_Lhasa(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  std::vector<uint8_t> buffer(64 * 1024);
  char name[] = "-lh5-";
  LHADecoderType* type = lha_decoder_for_name(name);
  bool ok = true;
  for (auto _ : state) {
    MemoryStream stream{c.packed.data(), c.packed.size()};
    LHADecoder* decoder = lha_decoder_new(type, ReadMemory, &stream, c.image.size());
    size_t total = 0;
    for (size_t n; (n = lha_decoder_read(decoder, buffer.data(), buffer.size())) > 0;) total += n;
    ok &= total == c.image.size() && lha_decoder_get_crc(decoder) == c.crc;
    lha_decoder_free(decoder);
  }
  Report(state, c.image.size(), ok);
}
BENCHMARK(BM_Lh5_Lhasa);

template <uint16_t (*kCrc)(const uint8_t*, size_t, uint16_t)>
void BM_Crc16(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  uint16_t crc = 0;
  for (auto _ : state) {
    crc = kCrc(c.image.data(), c.image.size(), 0);
    benchmark::DoNotOptimize(crc);
  }
  Report(state, c.image.size(), crc == c.crc);
}
uint16_t SseClmul(const uint8_t* data, size_t size, uint16_t crc) {
  return floppyset::Crc16UpdateWith(floppyset::Crc16Kernel::kClmul, data, size, crc);
}
// Ours: the kernel chosen at run time; OursSse: PCLMULQDQ on 128-bit registers only.
void BM_Crc16_Ours(benchmark::State& state) {
  BM_Crc16<Crc16Update>(state);
}
void BM_Crc16_OursSse(benchmark::State& state) {
  if (!floppyset::Crc16KernelAvailable(floppyset::Crc16Kernel::kClmul)) {
    state.SkipWithError("no PCLMULQDQ");
    return;
  }
  BM_Crc16<SseClmul>(state);
}
void BM_Crc16_OursPortable(benchmark::State& state) {
  BM_Crc16<Crc16UpdatePortable>(state);
}
BENCHMARK(BM_Crc16_Ours);
BENCHMARK(BM_Crc16_OursSse);
BENCHMARK(BM_Crc16_OursPortable);

void BM_Crc16_Crcutil(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  using Crc = crcutil::GenericCrc<crcutil::uint64, crcutil::uint64, crcutil::uint64, 4>;
  const Crc crc16(
      0xA001, 16,
      false);  // the reflected CRC-16/ARC polynomial; CrcDefault is the multiword CRC on x86
  crcutil::uint64 crc = 0;
  for (auto _ : state) {
    crc = crc16.CrcDefault(c.image.data(), c.image.size(), 0);
    benchmark::DoNotOptimize(crc);
  }
  Report(state, c.image.size(), crc == c.crc);
}
BENCHMARK(BM_Crc16_Crcutil);

void BM_Memcpy(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  std::vector<uint8_t> copy(c.image.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), c.image.data(), c.image.size());
    benchmark::ClobberMemory();
  }
  Report(state, c.image.size(), copy == c.image);
}
BENCHMARK(BM_Memcpy);

}  // namespace
