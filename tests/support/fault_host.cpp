#include "support/fault_host.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "base/path.h"

namespace floppyset::testing {
namespace {

// Named objects live in this process only, so that tests running side by side never
// share a lock or a semaphore.
std::mutex registry_mutex;
std::set<std::string>& HeldLocks() {
  static std::set<std::string> held;
  return held;
}

class InProcessLock : public InstanceLock {
 public:
  explicit InProcessLock(std::string name) : name_(std::move(name)) {}
  ~InProcessLock() override {
    std::lock_guard<std::mutex> guard(registry_mutex);
    HeldLocks().erase(name_);
  }

 private:
  std::string name_;
};

struct SemaphoreState {
  std::mutex mutex;
  std::condition_variable released;
  int count = 0;
};

std::map<std::string, std::shared_ptr<SemaphoreState>>& Semaphores() {
  static std::map<std::string, std::shared_ptr<SemaphoreState>> semaphores;
  return semaphores;
}

class InProcessSemaphore : public NamedSemaphore {
 public:
  explicit InProcessSemaphore(std::shared_ptr<SemaphoreState> state) : state_(std::move(state)) {}
  void Release() override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    if (state_->count < 1) ++state_->count;  // maximum count 1
    state_->released.notify_one();
  }
  bool Wait() override {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->released.wait(lock, [this] { return state_->count > 0; });
    --state_->count;
    return true;
  }

 private:
  std::shared_ptr<SemaphoreState> state_;
};

// A file on a volume that holds only so many more bytes: a write that does not fit writes what
// fits and fails, as on a full disk.
class FullDiskFile : public File {
 public:
  FullDiskFile(std::unique_ptr<File> file, std::shared_ptr<uint64_t> room)
      : file_(std::move(file)), room_(std::move(room)) {}
  int64_t Read(void* buffer, size_t count) override { return file_->Read(buffer, count); }
  bool Write(const void* data, size_t count) override {
    const size_t fits = static_cast<size_t>(std::min<uint64_t>(count, *room_));
    *room_ -= fits;
    return file_->Write(data, fits) && fits == count;
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

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool FaultHost::CreationFails(const std::string& path) const {
  if (failing_paths_.count(path)) return true;
  const size_t cut = path.find_last_of('/');
  if (failing_names_.count(cut == std::string::npos ? path : path.substr(cut + 1))) return true;
  for (const std::string& prefix : failing_prefixes_) {
    if (StartsWith(path, prefix)) return true;
  }
  return false;
}

std::unique_ptr<File> FaultHost::OpenForRead(const std::string& path) {
  if (failing_opens_.count(path)) return nullptr;
  return PosixHost::OpenForRead(path);
}

std::unique_ptr<File> FaultHost::CreateForWrite(const std::string& path) {
  if (CreationFails(path)) return nullptr;
  std::unique_ptr<File> file = PosixHost::CreateForWrite(path);
  if (file && room_) return std::make_unique<FullDiskFile>(std::move(file), room_);
  return file;
}

std::unique_ptr<MappedFile> FaultHost::MapForRead(const std::string& path) {
  if (failing_opens_.count(path)) return nullptr;
  return PosixHost::MapForRead(path);
}

CreateDirectoryResult FaultHost::MakeDirectory(const std::string& path) {
  if (CreationFails(path)) return CreateDirectoryResult::kFailed;
  const CreateDirectoryResult result = PosixHost::MakeDirectory(path);
  if (result == CreateDirectoryResult::kCreated) made_directories_.push_back(path);
  return result;
}

std::string FaultHost::CreateTempDirectory(const std::string& prefix) {
  if (CreationFails(TempDirectory() + prefix)) return "";
  std::string made = PosixHost::CreateTempDirectory(prefix);
  if (!made.empty()) made_directories_.push_back(made.substr(0, made.size() - 1));
  return made;
}

bool FaultHost::RemoveEmptyDirectory(const std::string& path) {
  const bool removed = PosixHost::RemoveEmptyDirectory(path);
  if (removed) removed_directories_.push_back(path);
  return removed;
}

void FaultHost::SetTempDirectory(const std::string& dir) {
  temp_directory_ = WithTrailingSeparator(dir);
}

std::string FaultHost::TempDirectory() {
  if (temp_directory_) return *temp_directory_;
  return PosixHost::TempDirectory();
}

std::string FaultHost::VolumeRoot(const std::string& path) {
  for (const auto& [prefix, root] : volume_roots_) {
    if (StartsWith(path, prefix)) return root;
  }
  if (!volume_root_.empty()) return volume_root_;
  return PosixHost::VolumeRoot(path);
}

std::optional<uint64_t> FaultHost::FreeBytes(const std::string& root) {
  free_space_queries_.push_back(root);
  if (fail_free_space_) return std::nullopt;
  if (const auto it = free_bytes_.find(root); it != free_bytes_.end()) return it->second;
  if (free_bytes_all_) return free_bytes_all_;
  return PosixHost::FreeBytes(root);
}

std::optional<CalendarTime> FaultHost::UtcToLocal(const CalendarTime& utc) {
  if (fail_utc_to_local_) return std::nullopt;
  return PosixHost::UtcToLocal(utc);
}

std::unique_ptr<InstanceLock> FaultHost::AcquireInstanceLock(const std::string& name) {
  lock_names_.push_back(name);
  if (lock_held_) return nullptr;
  std::lock_guard<std::mutex> guard(registry_mutex);
  if (!HeldLocks().insert(name).second) return nullptr;
  return std::make_unique<InProcessLock>(name);
}

std::unique_ptr<NamedSemaphore> FaultHost::OpenNamedSemaphore(const std::string& name) {
  semaphore_names_.push_back(name);
  std::lock_guard<std::mutex> guard(registry_mutex);
  std::shared_ptr<SemaphoreState>& state = Semaphores()[name];
  if (!state) state = std::make_shared<SemaphoreState>();
  return std::make_unique<InProcessSemaphore>(state);
}

std::optional<int> FaultHost::RunProcess(const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         const std::string& working_directory) {
  process_runs_.push_back({program, arguments, working_directory});
  if (process_runner_) return process_runner_(process_runs_.back());
  if (real_processes_) return PosixHost::RunProcess(program, arguments, working_directory);
  return 0;
}

void FaultHost::Sleep(unsigned milliseconds) {
  sleeps_.push_back(milliseconds);
  if (real_sleep_) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace floppyset::testing
