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
  Bytes out;
  std::vector<char> work = std::vector<char>(36312);  // pklib's CMP_BUFFER_SIZE
};

unsigned int Read(char* buffer, unsigned int* size, void* param) {
  auto* io = static_cast<Io*>(param);
  const size_t n = std::min<size_t>(*size, io->in->size() - io->position);
  if (n > 0) std::memcpy(buffer, io->in->data() + io->position, n);
  io->position += n;
  return static_cast<unsigned int>(n);
}
void Write(char* buffer, unsigned int* size, void* param) {
  static_cast<Io*>(param)->out.insert(static_cast<Io*>(param)->out.end(), buffer, buffer + *size);
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
  Io io{&data, 0, {}};
  unsigned int type = 0, dictionary_size = 64u << dictionary_bits;  // CMP_BINARY
  implode(Read, Write, io.work.data(), &io, &type, &dictionary_size);
  return io.out;
}

Decoded PklibExplode(const Bytes& stream) {
  Io io{&stream, 0, {}};
  const unsigned int result = explode(Read, Write, io.work.data(), &io);
  return {result, std::move(io.out)};
}

Decoded DynamiteExplode(const Bytes& stream) {
  Io io{&stream, 0, {}};
  const DynamiteResult result = dynamite_explode(
      [](void* buffer, size_t size, void* param) -> size_t {
        unsigned int n = static_cast<unsigned int>(size);
        return Read(static_cast<char*>(buffer), &n, param);
      },
      [](void* buffer, size_t size, void* param) -> size_t {
        unsigned int n = static_cast<unsigned int>(size);
        Write(static_cast<char*>(buffer), &n, param);
        return size;
      },
      &io);
  return {static_cast<uint32_t>(result), std::move(io.out)};
}

}  // namespace floppyset::implode_testing
