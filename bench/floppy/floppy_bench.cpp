// Writing a whole disk to the image-file drive against the file I/O it cannot avoid: the
// same 1,474,560 bytes written to a new file with one write call.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "floppy/floppy_run.h"
#include "floppy/image_file_drive.h"
#include "platform/posix/posix_host.h"
#include "support/silent_ui.h"
#include "workspace/workspace.h"

namespace floppyset {
namespace {

// A scratch directory for one benchmark, removed afterwards.
struct Scratch {
  Scratch() {
    path = std::filesystem::temp_directory_path() /
           ("floppy_bench_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(path);
  }
  ~Scratch() { std::filesystem::remove_all(path); }
  std::filesystem::path path;
  static inline int counter = 0;
};

void BM_FloppyRun_SingleWrite(benchmark::State& state) {
  Scratch scratch;
  PosixHost host;
  const std::vector<uint8_t> disk(kFloppyDiskBytes, 0x5A);
  const std::string path = scratch.path / "disk1.img";
  for (auto _ : state) {
    std::unique_ptr<File> file = host.CreateForWrite(path);
    if (!file || !file->Write(disk.data(), disk.size())) state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kFloppyDiskBytes);
}
BENCHMARK(BM_FloppyRun_SingleWrite)->UseRealTime();

// The same bytes in the run's cylinder chunks, without reading an image: the share of the
// drive itself.
void BM_FloppyRun_CylinderWrites(benchmark::State& state) {
  Scratch scratch;
  PosixHost host;
  const std::vector<uint8_t> disk(kFloppyDiskBytes, 0x5A);
  const std::string path = scratch.path / "disk1.img";
  for (auto _ : state) {
    std::unique_ptr<File> file = host.CreateForWrite(path);
    for (uint32_t at = 0; file && at < kFloppyDiskBytes; at += kCylinderBufferSize) {
      if (!file->Write(disk.data() + at, kCylinderBufferSize)) state.SkipWithError("write failed");
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kFloppyDiskBytes);
}
BENCHMARK(BM_FloppyRun_CylinderWrites)->UseRealTime();

void BM_FloppyRun_ImageDrive(benchmark::State& state) {
  Scratch scratch;
  PosixHost host;
  testing::SilentUi ui;
  RunState run;
  run.WorkspaceDir = scratch.path.string() + "/";
  run.ProductName = "Bench";
  run.Header.DiskCount = 1;
  // Only an empty file: the whole disk, 80 cylinders, is written.
  const std::string image = DiskImagePath(run.WorkspaceDir, 0);
  const std::string make = "MTOOLS_SKIP_CHECK=1 mformat -C -f 1440 -i '" + image + "' :: && : > '" +
                           run.WorkspaceDir + "EMPTY' && " + "MTOOLS_SKIP_CHECK=1 mcopy -i '" +
                           image + "' '" + run.WorkspaceDir + "EMPTY' ::EMPTY";
  if (std::system(make.c_str()) != 0) {
    state.SkipWithError("mtools failed");
    return;
  }
  std::filesystem::create_directories(scratch.path / "out");
  ImageFileDrives drives(host, (scratch.path / "out").string());
  for (auto _ : state) {
    std::string refusal;
    if (CreateOneFloppy(run, host, ui, drives, 0, 0, refusal) != DiskWrite::kWritten) {
      state.SkipWithError("run failed");
    }
  }
  if (std::filesystem::file_size(drives.DiskPath(1)) != kFloppyDiskBytes) {
    state.SkipWithError("wrong disk size");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kFloppyDiskBytes);
}
BENCHMARK(BM_FloppyRun_ImageDrive)->UseRealTime();

}  // namespace
}  // namespace floppyset
