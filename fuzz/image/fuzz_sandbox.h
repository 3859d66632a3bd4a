// A scratch directory for the image fuzzers: the image file and the destination live two
// levels below its root, so that an escape by ".." components would show up next to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace floppyset::fuzzing {

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  const std::string& image_path() const { return image_path_; }
  // An empty destination directory (no trailing separator).
  const std::string& FreshDestination();
  void WriteImage(const uint8_t* data, size_t size);
  // Aborts when anything but the image and the destination exists around them.
  void CheckNothingEscaped() const;

 private:
  std::string root_, inner_, image_path_, destination_;
};

}  // namespace floppyset::fuzzing
