#include "implode_corpus.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

extern "C" {
#include <libdynamite.h>

// Exported by libstorm but not declared in its headers; these are pklib's signatures.
unsigned int implode(unsigned int (*read_buf)(char*, unsigned int*, void*),
                     void (*write_buf)(char*, unsigned int*, void*), char* work_buf, void* param,
                     unsigned int* type, unsigned int* dsize);
unsigned int explode(unsigned int (*read_buf)(char*, unsigned int*, void*),
                     void (*write_buf)(char*, unsigned int*, void*), char* work_buf, void* param);
}

namespace floppyset::implode_testing {
namespace {

namespace fs = std::filesystem;

struct Io {
  const Bytes* in;
  size_t position = 0;
  Bytes out = {};
  std::vector<char> work = std::vector<char>(36312);  // pklib's CMP_BUFFER_SIZE
};

// Reader and writer in dynamite's form; pklib's pass the size by pointer.
size_t Read(void* buffer, size_t size, void* param) {
  auto* io = static_cast<Io*>(param);
  const size_t n = std::min(size, io->in->size() - io->position);
  if (n > 0) std::memcpy(buffer, io->in->data() + io->position, n);
  io->position += n;
  return n;
}
size_t Write(void* buffer, size_t size, void* param) {
  auto& out = static_cast<Io*>(param)->out;
  out.insert(out.end(), static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + size);
  return size;
}
unsigned int PklibRead(char* buffer, unsigned int* size, void* param) {
  return static_cast<unsigned int>(Read(buffer, *size, param));
}
void PklibWrite(char* buffer, unsigned int* size, void* param) {
  Write(buffer, *size, param);
}

}  // namespace

Bytes MakeFloppyImage(const std::string& work_dir, size_t fill_bytes) {
  const fs::path stage = fs::path(work_dir) / "floppy-files",
                 image = fs::path(work_dir) / "floppy.ima";
  fs::remove_all(stage);
  const struct {
    const char *root, *folder, *extension;
    uintmax_t lo, hi;
  } sources[] = {{"/usr/share/doc", "DOCS", ".TXT", 2000, 60000},
                 {"/usr/bin", "BIN", ".EXE", 8000, 200000}};
  std::vector<fs::path> lists[2];  // sorted, so that every run picks the same
  for (int k = 0; k < 2; ++k) {
    fs::create_directories(stage / sources[k].folder);
    std::error_code error, e;
    for (fs::recursive_directory_iterator it(sources[k].root, error), end; !error && it != end;
         it.increment(error)) {
      if (!it->is_regular_file(e) || it->is_symlink(e) || it->path().extension() == ".gz") continue;
      const uintmax_t size = it->file_size(e);
      if (!e && size >= sources[k].lo && size <= sources[k].hi) lists[k].push_back(it->path());
    }
    std::sort(lists[k].begin(), lists[k].end());
  }
  size_t total = 0;
  for (size_t i = 0; total < fill_bytes && (i < lists[0].size() || i < lists[1].size()); ++i) {
    for (int k = 0; k < 2; ++k) {
      if (i >= lists[k].size() || total + fs::file_size(lists[k][i]) > fill_bytes) continue;
      fs::copy_file(lists[k][i],
                    stage / sources[k].folder /
                        ("F" + std::to_string(10000 + i).substr(1) + sources[k].extension));
      total += (fs::file_size(lists[k][i]) + 511) / 512 * 512;  // whole clusters
    }
  }
  fs::remove(image);
  const std::string command = "mformat -C -f 1440 -v SETUP -i '" + image.string() +
                              "' :: >/dev/null 2>&1 && mcopy -s -i '" + image.string() + "' '" +
                              stage.string() + "'/* :: >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return {};
  fs::remove_all(stage);
  std::ifstream in(image, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes out(size);
  for (auto& byte : out) byte = static_cast<uint8_t>(generator());
  return out;
}

Bytes PklibImplode(const Bytes& data, unsigned dictionary_bits) {
  Io io{&data};
  unsigned int type = 0, dictionary_size = 64u << dictionary_bits;  // CMP_BINARY
  implode(PklibRead, PklibWrite, io.work.data(), &io, &type, &dictionary_size);
  return io.out;
}

Decoded PklibExplode(const Bytes& stream) {
  Io io{&stream};
  const unsigned int result = explode(PklibRead, PklibWrite, io.work.data(), &io);
  return {result, std::move(io.out)};
}

Decoded DynamiteExplode(const Bytes& stream) {
  Io io{&stream};
  const DynamiteResult result = dynamite_explode(Read, Write, &io);
  return {static_cast<uint32_t>(result), std::move(io.out)};
}

}  // namespace floppyset::implode_testing
