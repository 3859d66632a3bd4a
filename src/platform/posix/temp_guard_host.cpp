#include "platform/posix/temp_guard_host.h"

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

namespace floppyset {

// An anonymous mapping that grows in place (mremap): a growing file is neither copied nor
// zeroed, and a page costs memory only once written. Bytes past the size are always zero.
class MemoryBytes {
 public:
  MemoryBytes() = default;
  MemoryBytes(const MemoryBytes&) = delete;
  MemoryBytes& operator=(const MemoryBytes&) = delete;
  ~MemoryBytes() {
    if (data_) ::munmap(data_, reserved_);
  }
  uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }
  bool Resize(uint64_t size) {
    if (size > reserved_) {
      constexpr uint64_t kFirstReservation = uint64_t{64} << 20;
      const uint64_t want = std::max({size, reserved_ * 2, kFirstReservation});
      void* moved = data_ ? ::mremap(data_, reserved_, want, MREMAP_MAYMOVE)
                          : ::mmap(nullptr, want, PROT_READ | PROT_WRITE,
                                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
      if (moved == MAP_FAILED) return false;
      data_ = static_cast<uint8_t*>(moved);
      reserved_ = want;
    }
    if (size < size_) std::memset(data_ + size, 0, size_ - size);
    size_ = size;
    return true;
  }

 private:
  uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  uint64_t reserved_ = 0;
};

namespace {

// Removes a tree that may hold read-only directories (from the images' attributes).
void RemoveTree(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
  for (auto it = fs::recursive_directory_iterator(path, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code ignored;
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(path, error);
}

// A file kept in memory: reads and writes on shared bytes, which a mapping may view.
class MemoryFile : public File {
 public:
  explicit MemoryFile(std::shared_ptr<MemoryBytes> bytes) : bytes_(std::move(bytes)) {}
  int64_t Read(void* buffer, size_t count) override {
    if (position_ >= bytes_->size()) return 0;
    const size_t got = std::min<uint64_t>(count, bytes_->size() - position_);
    std::memcpy(buffer, bytes_->data() + position_, got);
    position_ += got;
    return static_cast<int64_t>(got);
  }
  bool Write(const void* data, size_t count) override {
    if (!bytes_->Resize(std::max<uint64_t>(bytes_->size(), position_ + count))) return false;
    std::memcpy(bytes_->data() + position_, data, count);
    position_ += count;
    return true;
  }
  bool Seek(uint64_t offset) override {
    position_ = offset;
    return true;
  }
  uint64_t Tell() override { return position_; }
  std::optional<uint64_t> Size() override { return bytes_->size(); }
  bool Truncate(uint64_t size) override { return bytes_->Resize(size); }
  bool SetTimes(FileTime, FileTime, FileTime) override { return true; }

 private:
  std::shared_ptr<MemoryBytes> bytes_;
  uint64_t position_ = 0;
};

class MemoryMapping : public MappedFile {
 public:
  explicit MemoryMapping(std::shared_ptr<MemoryBytes> bytes) : bytes_(std::move(bytes)) {}
  const uint8_t* data() const override { return bytes_->data(); }
  size_t size() const override { return bytes_->size(); }

 private:
  std::shared_ptr<MemoryBytes> bytes_;
};

[[noreturn]] void WaitForTheEnd() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

// Known to the host while open, so that the signal thread can remove its name.
class GuardedSemaphore : public NamedSemaphore {
 public:
  GuardedSemaphore(TempGuardHost& host, std::unique_ptr<NamedSemaphore> inner)
      : host_(host), inner_(std::move(inner)) {
    std::lock_guard lock(host_.mutex_);
    host_.semaphores_.push_back(this);
  }
  ~GuardedSemaphore() override {
    std::lock_guard lock(host_.mutex_);
    std::erase(host_.semaphores_, this);
  }
  void Release() override { inner_->Release(); }
  bool Wait() override { return inner_->Wait(); }
  void RemoveName() override { inner_->RemoveName(); }

 private:
  TempGuardHost& host_;
  std::unique_ptr<NamedSemaphore> inner_;
};

std::unique_ptr<NamedSemaphore> TempGuardHost::OpenNamedSemaphore(const std::string& name) {
  std::unique_ptr<NamedSemaphore> semaphore;
  {
    const auto lock = Gate();
    semaphore = inner_.OpenNamedSemaphore(name);
  }
  if (!semaphore) return nullptr;
  return std::make_unique<GuardedSemaphore>(*this, std::move(semaphore));
}

std::unique_lock<std::mutex> TempGuardHost::Gate() {
  std::unique_lock lock(mutex_);
  if (shut_down_) {
    lock.unlock();
    WaitForTheEnd();
  }
  return lock;
}

bool TempGuardHost::InMemory(const std::string& path) const {
  if (!in_memory_) return false;
  for (const std::string& directory : made_in_temp_) {
    if (path.starts_with(directory + "/")) return true;
  }
  return false;
}

TempGuardHost::Bytes TempGuardHost::Stored(const std::string& path) const {
  const auto it = stored_.find(path);
  return it == stored_.end() ? nullptr : it->second;
}

std::unique_ptr<File> TempGuardHost::OpenForRead(const std::string& path) {
  const auto lock = Gate();
  if (!InMemory(path)) return inner_.OpenForRead(path);
  const Bytes bytes = Stored(path);
  return bytes ? std::make_unique<MemoryFile>(bytes) : nullptr;
}

std::unique_ptr<MappedFile> TempGuardHost::MapForRead(const std::string& path) {
  const auto lock = Gate();
  if (!InMemory(path)) return inner_.MapForRead(path);
  const Bytes bytes = Stored(path);
  return bytes && bytes->size() != 0 ? std::make_unique<MemoryMapping>(bytes) : nullptr;
}

bool TempGuardHost::RemoveFile(const std::string& path) {
  const auto lock = Gate();
  if (!InMemory(path)) return inner_.RemoveFile(path);
  return stored_.erase(path) != 0;
}

std::optional<uint32_t> TempGuardHost::Attributes(const std::string& path) {
  const auto lock = Gate();
  if (!InMemory(path)) return inner_.Attributes(path);
  return Stored(path) ? std::optional<uint32_t>(kAttrArchive) : std::nullopt;
}

bool TempGuardHost::SetAttributes(const std::string& path, uint32_t attributes) {
  const auto lock = Gate();
  if (!InMemory(path)) return inner_.SetAttributes(path, attributes);
  return Stored(path) != nullptr;
}

bool TempGuardHost::SetFileTimes(const std::string& path, FileTime created, FileTime accessed,
                                 FileTime written) {
  const auto lock = Gate();
  if (!InMemory(path)) return inner_.SetFileTimes(path, created, accessed, written);
  return Stored(path) != nullptr;
}

std::vector<std::string> TempGuardHost::ListDirectory(const std::string& path) {
  const auto lock = Gate();
  std::vector<std::string> names = inner_.ListDirectory(path);
  const std::string prefix = path.ends_with("/") ? path : path + "/";
  for (const auto& [stored, bytes] : stored_) {
    if (stored.starts_with(prefix) && stored.find('/', prefix.size()) == std::string::npos) {
      names.push_back(stored.substr(prefix.size()));
    }
  }
  return names;
}

std::optional<uint64_t> TempGuardHost::FreeBytes(const std::string& root) {
  // Files kept in memory take nothing of the temporary volume.
  if (in_memory_ && root == inner_.VolumeRoot(inner_.TempDirectory())) return UINT64_MAX / 2;
  return inner_.FreeBytes(root);
}

std::unique_ptr<File> TempGuardHost::CreateForWrite(const std::string& path) {
  bool outside_temp = true;
  std::unique_ptr<File> file;
  {
    const auto lock = Gate();
    if (InMemory(path)) {
      auto bytes = std::make_shared<MemoryBytes>();
      stored_[path] = bytes;
      return std::make_unique<MemoryFile>(bytes);
    }
    file = inner_.CreateForWrite(path);
    for (const std::string& directory : made_in_temp_) {
      if (path.starts_with(directory + "/")) outside_temp = false;
    }
  }
  // Outside the lock: the watch prints, and the terminal has its own lock.
  if (file && outside_temp && write_watch_) write_watch_(path);
  return file;
}

CreateDirectoryResult TempGuardHost::MakeDirectory(const std::string& path) {
  const auto lock = Gate();
  return inner_.MakeDirectory(path);
}

std::string TempGuardHost::CreateTempDirectory(const std::string& prefix) {
  // Made and remembered under the lock: a signal in between cannot leave it behind.
  const auto lock = Gate();
  std::string made = inner_.CreateTempDirectory(prefix);
  if (!made.empty()) made_in_temp_.push_back(made.substr(0, made.size() - 1));
  return made;
}

void TempGuardHost::RemoveRemembered() {
  for (const std::string& directory : made_in_temp_) RemoveTree(directory);
  made_in_temp_.clear();
  stored_.clear();
}

void TempGuardHost::ShutDown() {
  std::lock_guard lock(mutex_);
  shut_down_ = true;
  RemoveRemembered();
  for (NamedSemaphore* semaphore : semaphores_) semaphore->RemoveName();
}

void TempGuardHost::RemoveTempDirectories() {
  const auto lock = Gate();
  RemoveRemembered();
}

}  // namespace floppyset
