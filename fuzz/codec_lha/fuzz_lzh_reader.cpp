// Arbitrary bytes as an LHA archive, extracted through a host into a scratch directory.
// Nothing may appear outside the destination, and output is capped so that a header
// claiming gigabytes cannot fill the disk.
#include "codec/lzh_reader.h"
#include "fuzz_support.h"
#include "platform/posix/posix_host.h"

namespace {

class CappedFile : public floppyset::File {
 public:
  CappedFile(std::unique_ptr<floppyset::File> inner, uint64_t& budget)
      : inner_(std::move(inner)), budget_(budget) {}
  int64_t Read(void* buffer, size_t count) override { return inner_->Read(buffer, count); }
  bool Write(const void* data, size_t count) override {
    if (count > budget_) return false;
    budget_ -= count;
    return inner_->Write(data, count);
  }
  bool Seek(uint64_t offset) override { return inner_->Seek(offset); }
  uint64_t Tell() override { return inner_->Tell(); }
  std::optional<uint64_t> Size() override { return inner_->Size(); }
  bool Truncate(uint64_t size) override { return inner_->Truncate(size); }
  bool SetTimes(floppyset::FileTime c, floppyset::FileTime a, floppyset::FileTime w) override {
    return inner_->SetTimes(c, a, w);
  }

 private:
  std::unique_ptr<floppyset::File> inner_;
  uint64_t& budget_;
};

class CappedHost : public floppyset::PosixHost {
 public:
  std::unique_ptr<floppyset::File> CreateForWrite(const std::string& path) override {
    std::unique_ptr<floppyset::File> file = PosixHost::CreateForWrite(path);
    if (!file) return file;
    return std::make_unique<CappedFile>(std::move(file), budget);
  }
  uint64_t budget = 2 * 1024 * 1024;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static floppyset::fuzzing::Sandbox sandbox;
  sandbox.WriteInput(data, size);
  CappedHost host;
  floppyset::LzhReader(host, sandbox.input_path(), sandbox.FreshDestination(), nullptr, nullptr)
      .ExtractAll();
  sandbox.CheckNothingEscaped(true);
  return 0;
}
