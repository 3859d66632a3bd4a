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

constexpr size_t kPklibWorkSize = 36312;  // CMP_BUFFER_SIZE, larger than the decoder's

Bytes ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Regular files under `root` (sorted, so every run picks the same ones) sized in [lo, hi].
std::vector<fs::path> ListFiles(const fs::path& root, uintmax_t lo, uintmax_t hi, bool recursive) {
  std::vector<fs::path> files;
  std::error_code error;
  auto consider = [&](const fs::directory_entry& entry) {
    std::error_code e;
    if (!entry.is_regular_file(e) || entry.is_symlink(e)) return;
    const uintmax_t size = entry.file_size(e);
    if (!e && size >= lo && size <= hi) files.push_back(entry.path());
  };
  if (recursive) {
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
      consider(*it);
    }
  } else {
    for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
      consider(*it);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<fs::path> TextFiles() {
  std::vector<fs::path> files;
  for (const auto& path : ListFiles("/usr/share/doc", 2000, 60000, true)) {
    if (path.extension() != ".gz") files.push_back(path);
  }
  return files;
}

std::vector<fs::path> BinaryFiles() {
  return ListFiles("/usr/bin", 8000, 200000, false);
}

Bytes Concatenate(const std::vector<fs::path>& files, size_t size) {
  Bytes out;
  for (const auto& path : files) {
    if (out.size() >= size) break;
    const Bytes data = ReadWholeFile(path);
    out.insert(out.end(), data.begin(), data.end());
  }
  out.resize(std::min(out.size(), size));
  return out;
}

struct Source {
  const Bytes* data;
  size_t position = 0;
};

unsigned int ReadSource(char* buffer, unsigned int* size, void* param) {
  auto* source = static_cast<Source*>(param);
  const size_t n = std::min<size_t>(*size, source->data->size() - source->position);
  if (n > 0) std::memcpy(buffer, source->data->data() + source->position, n);
  source->position += n;
  return static_cast<unsigned int>(n);
}

void WriteSink(char* buffer, unsigned int* size, void* param) {
  auto* sink = static_cast<Bytes*>(param);
  sink->insert(sink->end(), buffer, buffer + *size);
}

struct PklibContext {
  Source source;
  Bytes output;
};

unsigned int PklibRead(char* buffer, unsigned int* size, void* param) {
  return ReadSource(buffer, size, &static_cast<PklibContext*>(param)->source);
}

void PklibWrite(char* buffer, unsigned int* size, void* param) {
  WriteSink(buffer, size, &static_cast<PklibContext*>(param)->output);
}

size_t DynamiteRead(void* buffer, size_t size, void* cookie) {
  auto* context = static_cast<PklibContext*>(cookie);
  unsigned int n = static_cast<unsigned int>(size);
  return ReadSource(static_cast<char*>(buffer), &n, &context->source);
}

size_t DynamiteWrite(void* buffer, size_t size, void* cookie) {
  auto* bytes = static_cast<const uint8_t*>(buffer);
  auto& output = static_cast<PklibContext*>(cookie)->output;
  output.insert(output.end(), bytes, bytes + size);
  return size;
}

}  // namespace

Bytes MakeFloppyImage(const std::string& work_dir, size_t fill_bytes) {
  const fs::path stage = fs::path(work_dir) / "floppy-files";
  const fs::path image = fs::path(work_dir) / "floppy.ima";
  fs::remove_all(stage);
  fs::create_directories(stage / "DOCS");
  fs::create_directories(stage / "BIN");
  const auto texts = TextFiles();
  const auto binaries = BinaryFiles();
  size_t total = 0;
  for (size_t i = 0; total < fill_bytes && (i < texts.size() || i < binaries.size()); ++i) {
    // Alternate documents and programs, each rounded up to whole 512-byte clusters.
    for (const auto* list : {&texts, &binaries}) {
      if (i >= list->size() || total >= fill_bytes) continue;
      const uintmax_t size = fs::file_size((*list)[i]);
      if (total + size > fill_bytes) continue;
      const std::string name =
          "F" + std::to_string(10000 + i).substr(1) + (list == &texts ? ".TXT" : ".EXE");
      fs::copy_file((*list)[i], stage / (list == &texts ? "DOCS" : "BIN") / name);
      total += (size + 511) / 512 * 512;
    }
  }
  fs::remove(image);
  const std::string command = "mformat -C -f 1440 -v SETUP -i '" + image.string() +
                              "' :: >/dev/null 2>&1 && mcopy -s -i '" + image.string() + "' '" +
                              stage.string() + "'/* :: >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return {};
  fs::remove_all(stage);
  return ReadWholeFile(image);
}

Bytes TextSample(size_t size) {
  return Concatenate(TextFiles(), size);
}

Bytes BinarySample(size_t size) {
  return Concatenate(BinaryFiles(), size);
}

Bytes RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes out(size);
  for (auto& byte : out) byte = static_cast<uint8_t>(generator());
  return out;
}

Bytes PklibImplode(const Bytes& data, unsigned dictionary_bits) {
  PklibContext context{{&data}, {}};
  std::vector<char> work(kPklibWorkSize);
  unsigned int type = 0;  // CMP_BINARY
  unsigned int dictionary_size = 64u << dictionary_bits;
  implode(PklibRead, PklibWrite, work.data(), &context, &type, &dictionary_size);
  return context.output;
}

Decoded PklibExplode(const Bytes& stream) {
  PklibContext context{{&stream}, {}};
  std::vector<char> work(kPklibWorkSize);
  const unsigned int result = explode(PklibRead, PklibWrite, work.data(), &context);
  return {result, std::move(context.output)};
}

Decoded DynamiteExplode(const Bytes& stream) {
  PklibContext context{{&stream}, {}};
  const DynamiteResult result = dynamite_explode(DynamiteRead, DynamiteWrite, &context);
  return {static_cast<uint32_t>(result), std::move(context.output)};
}

}  // namespace floppyset::implode_testing
