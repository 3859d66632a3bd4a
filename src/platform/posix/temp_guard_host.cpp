#include "platform/posix/temp_guard_host.h"

#include <filesystem>

namespace floppyset {
namespace {

constexpr char kWorkspacePrefix[] = "TII";

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

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

}  // namespace

bool TempGuardHost::IsDirectlyInTemp(const std::string& path) {
  const std::string temp = inner_.TempDirectory();
  if (temp.empty() || !path.starts_with(temp)) return false;
  // Only the run's own directories: "TII" and a number, like the workspace itself.
  const std::string name = WithoutTrailingSlashes(path.substr(temp.size()));
  if (!name.starts_with(kWorkspacePrefix) || name.size() == sizeof kWorkspacePrefix - 1) {
    return false;
  }
  return name.find_first_not_of("0123456789", sizeof kWorkspacePrefix - 1) == std::string::npos;
}

std::unique_ptr<File> TempGuardHost::CreateForWrite(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (shut_down_) return nullptr;
  return inner_.CreateForWrite(path);
}

CreateDirectoryResult TempGuardHost::MakeDirectory(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (shut_down_) return CreateDirectoryResult::kFailed;
  const CreateDirectoryResult result = inner_.MakeDirectory(path);
  if (result == CreateDirectoryResult::kCreated && IsDirectlyInTemp(path)) {
    made_in_temp_.push_back(WithoutTrailingSlashes(path));
  }
  return result;
}

void TempGuardHost::RemoveTempDirectories() {
  std::lock_guard lock(mutex_);
  for (const std::string& directory : made_in_temp_) RemoveTree(directory);
  made_in_temp_.clear();
}

void TempGuardHost::ShutDown() {
  {
    std::lock_guard lock(mutex_);
    shut_down_ = true;
  }
  RemoveTempDirectories();
}

}  // namespace floppyset
