#include "base/path.h"

namespace floppyset {

bool EndsWithSeparator(std::string_view path) {
  return !path.empty() && IsPathSeparator(path.back());
}

std::string WithTrailingSeparator(std::string path) {
  if (!path.empty() && !EndsWithSeparator(path)) path += kPathSeparator;
  return path;
}

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string out(directory);
  if (!out.empty() && !EndsWithSeparator(out)) out += kPathSeparator;
  out += name;
  return out;
}

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\' || c == '/' || c == ':' || u < 0x20) return false;
  }
  return true;
}

bool IsSafeRelativePath(std::string_view path) {
  if (path.empty()) return false;
  size_t start = 0;
  while (true) {
    const size_t end = path.find('\\', start);
    if (!IsPlainFileName(path.substr(start, end - start))) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

std::string ToHostSeparators(std::string_view stored) {
  std::string out(stored);
  for (char& c : out) {
    if (c == '\\') c = kPathSeparator;
  }
  return out;
}

}  // namespace floppyset
