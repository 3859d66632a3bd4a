// Host path conventions. The core builds paths as the Win32 program does ("dir\" + name);
// on POSIX the separator is '/'. Names that come from packages and images are checked here
// before they ever reach the file system.
#pragma once

#include <string>
#include <string_view>

namespace floppyset {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The Win32 path limit (MAX_PATH): a path of at most 259 characters and its NUL.
inline constexpr size_t kMaxPath = 260;

inline bool IsPathSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

// True when `path` ends in a separator.
bool EndsWithSeparator(std::string_view path);
// Appends the host separator unless `path` is empty or already ends in one.
std::string WithTrailingSeparator(std::string path);
// `path` without its trailing separators, but never emptied: a lone "/" stays.
std::string WithoutTrailingSeparators(std::string path);
// `directory` + separator (when missing) + `name`.
std::string JoinPath(std::string_view directory, std::string_view name);

// ASCII letters compared without regard to case, as FAT names are; other bytes as they are.
bool EqualNoCase(std::string_view a, std::string_view b);

// A plain file name from an archive or image: not empty, no separator of either kind, no
// drive colon, not "." or "..", no control characters, not a Win32 device name (CON,
// NUL.TXT, com1 ...). Such a name stays inside the directory it is created in.
bool IsPlainFileName(std::string_view name);
// A relative path with '\' between components (flat-image records): every component a
// plain file name, no leading separator, no drive.
bool IsSafeRelativePath(std::string_view path);
// Converts the '\' separators of a stored relative path to the host's.
std::string ToHostSeparators(std::string_view stored);

}  // namespace floppyset
