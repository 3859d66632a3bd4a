// What the fuzz targets share: a scratch tree whose input file and destination lie two levels
// below its root, so that an escape by ".." shows up beside them, and a Ui that shows nothing.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/silent_ui.h"

namespace floppyset::fuzzing {

namespace fs = std::filesystem;

class Sandbox {
 public:
  Sandbox() {  // memory-backed where the machine has it: every run writes and removes trees
    std::string pattern =
        (fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
        "floppyset-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    root_ = pattern;
    fs::create_directories(root_ / "a/b");
  }
  ~Sandbox() { fs::remove_all(root_, error_); }
  std::string input_path() const { return root_ / "a/b/input"; }
  void WriteInput(const uint8_t* data, size_t size) const {
    std::ofstream(input_path(), std::ios::binary).write(reinterpret_cast<const char*>(data), size);
  }
  // An empty destination directory (no trailing separator).
  std::string FreshDestination() {
    for (auto it = fs::recursive_directory_iterator(root_ / "a/b/out", error_);
         !error_ && it != fs::recursive_directory_iterator(); it.increment(error_)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error_);
    }
    fs::remove_all(root_ / "a/b/out", error_);
    fs::create_directory(root_ / "a/b/out");
    return root_ / "a/b/out";
  }
  // Aborts when anything but the input and the destination exists around them, or, with
  // `files_only`, when the destination holds a directory.
  void CheckNothingEscaped(bool files_only = false) const {
    bool escaped = Count(root_) != 1 || Count(root_ / "a") != 1;
    for (const auto& entry : fs::directory_iterator(root_ / "a/b")) {
      escaped |= entry.path().filename() != "input" && entry.path().filename() != "out";
    }
    for (const auto& entry : fs::directory_iterator(root_ / "a/b/out")) {
      escaped |= files_only && entry.is_directory();
    }
    if (escaped) std::fprintf(stderr, "a file was written outside its place\n"), std::abort();
  }

 private:
  static long Count(const fs::path& dir) {
    return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
  }
  fs::path root_;
  std::error_code error_;
};

using testing::SilentUi;

}  // namespace floppyset::fuzzing
