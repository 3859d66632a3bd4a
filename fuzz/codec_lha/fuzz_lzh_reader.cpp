// Arbitrary bytes as an LHA archive, extracted through a host into a scratch directory.
// Nothing may appear outside the destination directory, and output is capped so that a
// header claiming gigabytes cannot fill the disk.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "codec/lzh_reader.h"
#include "platform/posix/posix_host.h"

namespace {

constexpr uint64_t kOutputBudget = 2 * 1024 * 1024;

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
  uint64_t budget = kOutputBudget;
};

void RemoveScratch();

const std::filesystem::path& Scratch() {
  static const std::filesystem::path* dir = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "floppyset-fuzz-lzh-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    std::atexit(RemoveScratch);
    return new std::filesystem::path(pattern);
  }();
  return *dir;
}

void RemoveScratch() {
  std::error_code error;
  std::filesystem::remove_all(Scratch(), error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path archive = Scratch() / "image.tii";
  const std::filesystem::path out = Scratch() / "out";
  if (FILE* f = std::fopen(archive.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  std::filesystem::create_directory(out);
  {
    CappedHost host;
    floppyset::LzhReader reader(host, archive.string(), out.string(), nullptr, nullptr);
    reader.ExtractAll();
  }
  for (const auto& entry : std::filesystem::directory_iterator(Scratch())) {
    const std::string name = entry.path().filename().string();
    if (name != "image.tii" && name != "out") std::abort();  // written outside the destination
  }
  std::filesystem::remove_all(out);
  return 0;
}
