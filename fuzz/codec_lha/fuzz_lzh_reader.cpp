// Arbitrary bytes as an LHA archive, read from memory into sinks that only count. Every
// member's file must have a plain name, and a small member limit keeps headers that claim
// gigabytes from writing them.
#include <cstdlib>
#include <memory>

#include "base/path.h"
#include "codec/lzh_reader.h"

namespace {

constexpr uint64_t kMemberLimit = 64 * 1024;

class CountingSink : public floppyset::ByteSink {
 public:
  explicit CountingSink(uint64_t& total) : total_(total) {}
  bool Write(const void*, size_t count) override {
    total_ += count;
    return true;
  }

 private:
  uint64_t& total_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace floppyset;
  MemorySource archive({data, size});
  uint64_t members = 0, written = 0;
  MemberHooks hooks;
  hooks.create = [&](const std::string& file) -> std::unique_ptr<ByteSink> {
    if (!IsPlainFileName(file)) std::abort();
    ++members;
    return std::make_unique<CountingSink>(written);
  };
  LzhReader(&archive, hooks, nullptr, nullptr, kMemberLimit).ExtractAll(size > 0 && data[0] & 1);
  if (written > members * kMemberLimit) std::abort();
  return 0;
}
