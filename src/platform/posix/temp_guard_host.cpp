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

std::unique_lock<std::mutex> TempGuardHost::Gate() {
  std::unique_lock lock(mutex_);
  if (shut_down_) {
    lock.unlock();
    WaitForTheEnd();
  }
  return lock;
}

std::unique_ptr<File> TempGuardHost::CreateForWrite(const std::string& path) {
  bool outside_temp = true;
  std::unique_ptr<File> file;
  {
    const auto lock = Gate();
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
}

void TempGuardHost::RemoveTempDirectories() {
  const auto lock = Gate();
  RemoveRemembered();
}

void TempGuardHost::ShutDown() {
  std::lock_guard lock(mutex_);
  shut_down_ = true;
  RemoveRemembered();
}

}  // namespace floppyset
