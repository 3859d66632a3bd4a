// Copying a full 1.44 MB FAT12 image of a few hundred files into a fresh directory: ours,
// the floor (the same files written from memory, one open/write/set-times/close each), the
// one-write-per-cluster copy, and mtools for context.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "base/path.h"
#include "image/disk_image.h"
#include "mkfloppyset/fat12_builder.h"
#include "platform/posix/posix_host.h"

namespace floppyset {
namespace {

namespace fs = std::filesystem;

struct SourceFile {
  std::string relative;
  std::vector<uint8_t> bytes;
};

// The test set: 120 files in the root and 4 subdirectories of 60, about 1.35 MB in all.
struct Fixture {
  Fixture() {
    // Memory-backed when the machine has it, so that the disk's own speed does not hide the
    // cost of the copy.
    std::error_code code;
    const fs::path base =
        fs::is_directory("/dev/shm", code) ? fs::path("/dev/shm") : fs::temp_directory_path();
    root = base / ("floppyset-bench-" + std::to_string(::getpid()));
    fs::create_directories(root / "src");
    std::mt19937 random(1);
    std::uniform_int_distribution<int> size(0, 7000);
    auto add = [&](const std::string& relative) {
      SourceFile file{relative, std::vector<uint8_t>(static_cast<size_t>(size(random)))};
      for (uint8_t& b : file.bytes) b = static_cast<uint8_t>(random());
      std::ofstream(root / "src" / relative, std::ios::binary)
          .write(reinterpret_cast<const char*>(file.bytes.data()),
                 static_cast<std::streamsize>(file.bytes.size()));
      total_bytes += file.bytes.size();
      files.push_back(std::move(file));
    };
    for (int d = 0; d < 4; ++d) {
      const std::string dir = "DIR" + std::to_string(d);
      directories.push_back(dir);
      fs::create_directory(root / "src" / dir);
      for (int i = 0; i < 60; ++i) add(dir + "/F" + std::to_string(i) + ".DAT");
    }
    for (int i = 0; i < 120; ++i) add("ROOT" + std::to_string(i) + ".BIN");
    std::vector<uint8_t> image;
    std::string error;
    if (!BuildFat12Image((root / "src").string(), image, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::abort();
    }
    image_path = (root / "disk.ima").string();
    std::ofstream(image_path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
  }
  ~Fixture() { fs::remove_all(root); }

  // An empty destination, outside the timed part.
  std::string FreshDestination() {
    const fs::path out = root / "out";
    fs::remove_all(out);
    fs::create_directory(out);
    return out.string() + "/";
  }

  fs::path root;
  std::string image_path;
  std::vector<std::string> directories;
  std::vector<SourceFile> files;
  size_t total_bytes = 0;
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

template <typename Copy>
void RunCopy(benchmark::State& state, Copy copy) {
  Fixture& fixture = TheFixture();
  PosixHost host;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string destination = fixture.FreshDestination();
    state.ResumeTiming();
    copy(host, fixture, destination);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fixture.total_bytes));
}

void BM_Fat12Extract_Ours(benchmark::State& state) {
  RunCopy(state, [](Host& host, Fixture& fixture, const std::string& destination) {
    DiskImage image(host, fixture.image_path);
    image.ExtractTree(destination);
  });
}

void BM_Fat12Extract_Floor(benchmark::State& state) {
  RunCopy(state, [](Host& host, Fixture& fixture, const std::string& destination) {
    const FileTime time = UnixSecondsToFileTime(1'000'000'000);
    for (const std::string& dir : fixture.directories) host.MakeDirectory(destination + dir);
    for (const SourceFile& file : fixture.files) {
      auto out = host.CreateForWrite(destination + file.relative);
      out->Write(file.bytes.data(), file.bytes.size());
      out->SetTimes(time, time, time);
    }
  });
}

// The copy as first described: one write call per 512-byte cluster.
void CopyPerCluster(Host& host, DiskImage& image, const std::string& destination) {
  for (auto* e = image.FirstFile(); e; e = image.NextFile(e)) {
    const std::string path = destination + HostEntryName(*e);
    auto out = host.CreateForWrite(path);
    if (e->size() != 0) {
      for (uint16_t c = e->first_cluster(); c >= 2 && c < 0xFF8; c = image.NextCluster(c)) {
        out->Write(image.ClusterData(c), 512);
      }
      out->Truncate(e->size());
    }
    const FileTime time = UnixSecondsToFileTime(1'000'000'000);
    out->SetTimes(time, time, time);
    out.reset();
    host.SetAttributes(path, e->attributes());
  }
  for (auto* e = image.FirstSubdirectory(); e; e = image.NextSubdirectory(e)) {
    const std::string path = destination + HostEntryName(*e);
    host.MakeDirectory(path);
    const uint16_t saved = image.CurrentDirectory;
    image.CurrentDirectory = e->first_cluster();
    CopyPerCluster(host, image, path + "/");
    image.CurrentDirectory = saved;
  }
}

void BM_Fat12Extract_PerClusterWrites(benchmark::State& state) {
  RunCopy(state, [](Host& host, Fixture& fixture, const std::string& destination) {
    DiskImage image(host, fixture.image_path);
    CopyPerCluster(host, image, destination);
  });
}

void BM_Fat12Extract_Mcopy(benchmark::State& state) {
  RunCopy(state, [](Host&, Fixture& fixture, const std::string& destination) {
    const std::string command = "MTOOLS_SKIP_CHECK=1 mcopy -s -m -n -i '" + fixture.image_path +
                                "' '::*' '" + destination + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) std::abort();
  });
}

BENCHMARK(BM_Fat12Extract_Ours)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();
BENCHMARK(BM_Fat12Extract_Floor)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();
BENCHMARK(BM_Fat12Extract_PerClusterWrites)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2)
    ->UseRealTime();
BENCHMARK(BM_Fat12Extract_Mcopy)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();

}  // namespace
}  // namespace floppyset
