#include "fuzz_sandbox.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace floppyset::fuzzing {

namespace fs = std::filesystem;

Sandbox::Sandbox() {
  // Memory-backed when the machine has it: every run writes and removes whole trees.
  std::error_code error;
  const fs::path base =
      fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / "floppyset-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  root_ = pattern;
  inner_ = root_ + "/a/b";
  fs::create_directories(inner_);
  image_path_ = inner_ + "/image.bin";
  destination_ = inner_ + "/out";
}

Sandbox::~Sandbox() {
  FreshDestination();
  std::error_code error;
  fs::remove_all(root_, error);
}

const std::string& Sandbox::FreshDestination() {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(destination_, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::remove_all(destination_, error);
  fs::create_directory(destination_);
  return destination_;
}

void Sandbox::WriteImage(const uint8_t* data, size_t size) {
  std::ofstream out(image_path_, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void Sandbox::CheckNothingEscaped() const {
  auto count = [](const std::string& dir) {
    return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
  };
  if (count(root_) != 1 || count(root_ + "/a") != 1 || count(inner_) != 2) {
    std::fprintf(stderr, "a file was written outside the destination\n");
    std::abort();
  }
}

}  // namespace floppyset::fuzzing
