#include "platform/posix/temp_guard_host.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace floppyset {
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

std::unique_ptr<File> TempGuardHost::CreateForWrite(const std::string& path) {
  const auto lock = Gate();
  return inner_.CreateForWrite(path);
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
