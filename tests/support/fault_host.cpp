#include "support/fault_host.h"

#include <errno.h>

#include <algorithm>
#include <cerrno>

#include "base/path.h"

namespace floppyset::testing {
namespace {

// A file of the fault host: every call is counted and may be the one to fail, and on a full
// disk (SetDiskRoom) a write that does not fit writes what fits and fails.
class FaultyFile : public File {
 public:
  FaultyFile(std::unique_ptr<File> file, std::string path, std::shared_ptr<OperationCounts> counts,
             std::shared_ptr<uint64_t> room)
      : file_(std::move(file)),
        path_(std::move(path)),
        counts_(std::move(counts)),
        room_(std::move(room)) {}
  int64_t Read(void* buffer, size_t count) override {
    return counts_->Count("read", path_) ? -1 : file_->Read(buffer, count);
  }
  bool Write(const void* data, size_t count) override {
    size_t fits = room_ ? static_cast<size_t>(std::min<uint64_t>(count, *room_)) : count;
    const bool fails = counts_->Count("write", path_);
    if (fails) fits = counts_->fault == OperationFault::kNoSpace ? std::min(fits, count / 2) : 0;
    if (room_) *room_ -= fits;
    counts_->written[path_] += fits;
    const bool whole = file_->Write(data, fits) && fits == count && !fails;
    if (!whole) errno = fails && counts_->fault != OperationFault::kNoSpace ? EACCES : ENOSPC;
    return whole;
  }
  bool Seek(uint64_t offset) override { return file_->Seek(offset); }
  uint64_t Tell() override { return file_->Tell(); }
  std::optional<uint64_t> Size() override { return file_->Size(); }
  bool Truncate(uint64_t size) override {
    return !counts_->Count("truncate", path_) && file_->Truncate(size);
  }
  bool SetTimes(FileTime created, FileTime accessed, FileTime written) override {
    return !counts_->Count("set times", path_) && file_->SetTimes(created, accessed, written);
  }

 private:
  std::unique_ptr<File> file_;
  std::string path_;
  std::shared_ptr<OperationCounts> counts_;
  std::shared_ptr<uint64_t> room_;
};

}  // namespace

bool OperationCounts::Count(const char* what, const std::string& path) {
  log.push_back(std::string(what) + " " + path);
  if (++operations != fail_at) return false;
  failed = log.back();
  errno = fault == OperationFault::kNoSpace ? ENOSPC : EACCES;
  return true;
}

uint64_t FaultHost::BytesWritten(const std::string& prefix) const {
  uint64_t total = 0;
  for (const auto& [path, bytes] : counts_->written) {
    if (path.rfind(prefix, 0) == 0) total += bytes;
  }
  return total;
}

std::unique_ptr<File> FaultHost::Wrap(std::unique_ptr<File> file, const std::string& path) {
  if (!file) return nullptr;
  return std::make_unique<FaultyFile>(std::move(file), path, counts_, room_);
}

bool FaultHost::CreationFails(const std::string& path) const {
  const size_t cut = path.find_last_of('/');
  return failing_names_.count(cut == std::string::npos ? path : path.substr(cut + 1)) ||
         std::any_of(failing_prefixes_.begin(), failing_prefixes_.end(),
                     [&](const std::string& prefix) { return path.rfind(prefix, 0) == 0; });
}

std::unique_ptr<File> FaultHost::OpenForRead(const std::string& path) {
  if (failing_opens_.count(path) || counts_->Count("open", path)) {
    errno = EIO;
    return nullptr;
  }
  return Wrap(PosixHost::OpenForRead(path), path);
}

std::unique_ptr<File> FaultHost::CreateForWrite(const std::string& path) {
  if (CreationFails(path)) {
    errno = EACCES;
    return nullptr;
  }
  if (counts_->Count("create", path)) {
    errno = counts_->fault == OperationFault::kNoSpace ? ENOSPC : EACCES;
    return nullptr;
  }
  return Wrap(PosixHost::CreateForWrite(path), path);
}

std::unique_ptr<MappedFile> FaultHost::MapForRead(const std::string& path) {
  if (failing_opens_.count(path) || counts_->Count("map", path)) return nullptr;
  return PosixHost::MapForRead(path);
}

bool FaultHost::SetAttributes(const std::string& path, uint32_t attributes) {
  return !counts_->Count("set attributes", path) && PosixHost::SetAttributes(path, attributes);
}

bool FaultHost::SetFileTimes(const std::string& path, FileTime created, FileTime accessed,
                             FileTime written) {
  return !counts_->Count("set times", path) &&
         PosixHost::SetFileTimes(path, created, accessed, written);
}

CreateDirectoryResult FaultHost::MakeDirectory(const std::string& path) {
  if (CreationFails(path)) {
    errno = EACCES;
    return CreateDirectoryResult::kFailed;
  }
  if (counts_->Count("make directory", path)) {
    errno = counts_->fault == OperationFault::kNoSpace ? ENOSPC : EACCES;
    return CreateDirectoryResult::kFailed;
  }
  return PosixHost::MakeDirectory(path);
}

std::string FaultHost::CreateTempDirectory(const std::string& prefix) {
  if (CreationFails(TempDirectory() + prefix) ||
      counts_->Count("make temporary directory", TempDirectory() + prefix)) {
    return "";
  }
  return PosixHost::CreateTempDirectory(prefix);
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
