#include "base/path.h"

#include <algorithm>

namespace floppyset {

bool EndsWithSeparator(std::string_view path) {
  return !path.empty() && IsPathSeparator(path.back());
}

std::string WithTrailingSeparator(std::string path) {
  if (!path.empty() && !EndsWithSeparator(path)) path += kPathSeparator;
  return path;
}

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && IsPathSeparator(path.back())) path.pop_back();
  return path;
}

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string out(directory);
  if (!out.empty() && !EndsWithSeparator(out)) out += kPathSeparator;
  out += name;
  return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  const auto upper = [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  };
  return std::ranges::equal(a, b, {}, upper, upper);
}

namespace {

// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, in any case, alone or before a '.' (or blanks,
// which Win32 drops): Win32 opens the device instead of a file of that name.
bool IsDeviceName(std::string_view name) {
  size_t stem = name.find('.');
  if (stem == std::string_view::npos) stem = name.size();
  while (stem > 0 && name[stem - 1] == ' ') --stem;
  name = name.substr(0, stem);
  for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
    if (EqualNoCase(name, device)) return true;
  }
  return name.size() == 4 &&
         (EqualNoCase(name.substr(0, 3), "COM") || EqualNoCase(name.substr(0, 3), "LPT")) &&
         name[3] >= '1' && name[3] <= '9';
}

}  // namespace

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || IsDeviceName(name)) return false;
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
