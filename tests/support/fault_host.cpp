#include "support/fault_host.h"

#include <algorithm>
#include <cerrno>

#include "base/path.h"

namespace floppyset::testing {
namespace {

// A file on a full disk: a write that does not fit the room left writes what fits and fails.
class FullDiskFile : public File {
 public:
  FullDiskFile(std::unique_ptr<File> file, std::shared_ptr<uint64_t> room)
      : file_(std::move(file)), room_(std::move(room)) {}
  int64_t Read(void* buffer, size_t count) override { return file_->Read(buffer, count); }
  bool Write(const void* data, size_t count) override {
    const size_t fits = static_cast<size_t>(std::min<uint64_t>(count, *room_));
    *room_ -= fits;
    if (!file_->Write(data, fits)) return false;
    if (fits < count) errno = ENOSPC;
    return fits == count;
  }
  bool Seek(uint64_t offset) override { return file_->Seek(offset); }
  uint64_t Tell() override { return file_->Tell(); }
  std::optional<uint64_t> Size() override { return file_->Size(); }
  bool Truncate(uint64_t size) override { return file_->Truncate(size); }
  bool SetTimes(FileTime created, FileTime accessed, FileTime written) override {
    return file_->SetTimes(created, accessed, written);
  }

 private:
  std::unique_ptr<File> file_;
  std::shared_ptr<uint64_t> room_;
};

}  // namespace

bool FaultHost::CreationFails(const std::string& path) const {
  const size_t cut = path.find_last_of('/');
  return failing_names_.count(cut == std::string::npos ? path : path.substr(cut + 1)) ||
         std::any_of(failing_prefixes_.begin(), failing_prefixes_.end(),
                     [&](const std::string& prefix) { return path.rfind(prefix, 0) == 0; });
}

std::unique_ptr<File> FaultHost::OpenForRead(const std::string& path) {
  if (!failing_opens_.count(path)) return PosixHost::OpenForRead(path);
  errno = EIO;
  return nullptr;
}

std::unique_ptr<File> FaultHost::CreateForWrite(const std::string& path) {
  if (CreationFails(path)) {
    errno = EACCES;
    return nullptr;
  }
  std::unique_ptr<File> file = PosixHost::CreateForWrite(path);
  if (file && room_) file = std::make_unique<FullDiskFile>(std::move(file), room_);
  return file;
}

std::unique_ptr<MappedFile> FaultHost::MapForRead(const std::string& path) {
  return failing_opens_.count(path) ? nullptr : PosixHost::MapForRead(path);
}

CreateDirectoryResult FaultHost::MakeDirectory(const std::string& path) {
  if (!CreationFails(path)) return PosixHost::MakeDirectory(path);
  errno = EACCES;
  return CreateDirectoryResult::kFailed;
}

std::string FaultHost::CreateTempDirectory(const std::string& prefix) {
  return CreationFails(TempDirectory() + prefix) ? "" : PosixHost::CreateTempDirectory(prefix);
}

void FaultHost::SetTempDirectory(const std::string& dir) {
  temp_directory_ = WithTrailingSeparator(dir);
}

std::string FaultHost::TempDirectory() {
  return temp_directory_ ? *temp_directory_ : PosixHost::TempDirectory();
}

std::string FaultHost::VolumeRoot(const std::string& path) {
  for (const auto& [prefix, root] : volume_roots_) {
    if (path.rfind(prefix, 0) == 0) return root;
  }
  return PosixHost::VolumeRoot(path);
}

std::optional<uint64_t> FaultHost::FreeBytes(const std::string& root) {
  if (fail_free_space_) return std::nullopt;
  for (const std::string& key : {root, std::string()}) {
    if (const auto it = free_bytes_.find(key); it != free_bytes_.end()) return it->second;
  }
  return PosixHost::FreeBytes(root);
}

std::optional<CalendarTime> FaultHost::UtcToLocal(const CalendarTime& utc) {
  return fail_utc_to_local_ ? std::nullopt : PosixHost::UtcToLocal(utc);
}

std::optional<int> FaultHost::RunProcess(const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         const std::string& working_directory) {
  process_runs_.push_back({program, arguments, working_directory});
  return process_runner_ ? process_runner_(process_runs_.back()) : 0;
}

}  // namespace floppyset::testing
