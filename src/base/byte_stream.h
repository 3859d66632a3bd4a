// The byte streams the decoders read from and write to. The package layer hands in the
// files of its host; the decoders themselves make no system calls.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace floppyset {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Bytes read (0 at the end), or -1 on failure.
  virtual int64_t Read(void* buffer, size_t count) = 0;
  virtual bool Seek(uint64_t offset) = 0;
  virtual std::optional<uint64_t> Size() = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // True only when every byte was written.
  virtual bool Write(const void* data, size_t count) = 0;
};

// Bytes in memory (a mapped file, a test's buffer), read as a stream.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  int64_t Read(void* buffer, size_t count) override {
    const size_t n = std::min(count, bytes_.size() - position_);
    if (n != 0) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return static_cast<int64_t>(n);
  }
  bool Seek(uint64_t offset) override {
    position_ = static_cast<size_t>(std::min<uint64_t>(offset, bytes_.size()));
    return true;
  }
  std::optional<uint64_t> Size() override { return bytes_.size(); }

 private:
  std::span<const uint8_t> bytes_;
  size_t position_ = 0;
};

}  // namespace floppyset
