// rand_s, for workspace names nobody can foresee.
#define _CRT_RAND_S
#include "platform/win32/win32_host.h"

#include <stdlib.h>
#include <windows.h>

#include <algorithm>
#include <vector>

#include "base/path.h"

namespace floppyset {
namespace {

// Attribute bits that may be set on a file or directory; device and other bits that an
// image might carry are never passed on.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                                      FILE_ATTRIBUTE_ARCHIVE;

FILETIME ToFiletime(FileTime time) {
  FILETIME out;
  out.dwLowDateTime = static_cast<DWORD>(time.value);
  out.dwHighDateTime = static_cast<DWORD>(time.value >> 32);
  return out;
}

// A zero time means "none": SetFileTime then leaves that time as the system sets it.
const FILETIME* TimeOrNull(const FILETIME& time) {
  return time.dwLowDateTime == 0 && time.dwHighDateTime == 0 ? nullptr : &time;
}

FileTime FromFiletime(const FILETIME& time) {
  return FileTime{(static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime};
}

SYSTEMTIME ToSystemtime(const CalendarTime& t) {
  SYSTEMTIME out;
  out.wYear = t.year;
  out.wMonth = t.month;
  out.wDayOfWeek = t.day_of_week;
  out.wDay = t.day;
  out.wHour = t.hour;
  out.wMinute = t.minute;
  out.wSecond = t.second;
  out.wMilliseconds = t.milliseconds;
  return out;
}

CalendarTime FromSystemtime(const SYSTEMTIME& t) {
  CalendarTime out;
  out.year = t.wYear;
  out.month = t.wMonth;
  out.day_of_week = t.wDayOfWeek;
  out.day = t.wDay;
  out.hour = t.wHour;
  out.minute = t.wMinute;
  out.second = t.wSecond;
  out.milliseconds = t.wMilliseconds;
  return out;
}

// The file size and pointer calls of Windows 95 and NT 4.0 (their ...Ex forms came later).
std::optional<uint64_t> FileSize(HANDLE file) {
  DWORD high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return std::nullopt;
  return (static_cast<uint64_t>(high) << 32) | low;
}

std::optional<uint64_t> MoveFilePointer(HANDLE file, int64_t distance, DWORD method) {
  LONG high = static_cast<LONG>(distance >> 32);
  SetLastError(NO_ERROR);
  const DWORD low = SetFilePointer(file, static_cast<LONG>(distance), &high, method);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return std::nullopt;
  return (static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low;
}

class Win32File : public File {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override { CloseHandle(handle_); }

  int64_t Read(void* buffer, size_t count) override {
    size_t total = 0;
    while (total < count) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - total, 1u << 30));
      DWORD done = 0;
      if (!ReadFile(handle_, static_cast<char*>(buffer) + total, chunk, &done, nullptr)) {
        return total ? static_cast<int64_t>(total) : -1;
      }
      if (done == 0) break;
      total += done;
    }
    return static_cast<int64_t>(total);
  }
  bool Write(const void* data, size_t count) override {
    size_t total = 0;
    while (total < count) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - total, 1u << 30));
      DWORD done = 0;
      if (!WriteFile(handle_, static_cast<const char*>(data) + total, chunk, &done, nullptr) ||
          done == 0) {
        return false;
      }
      total += done;
    }
    return true;
  }
  bool Seek(uint64_t offset) override { return MoveTo(offset); }
  uint64_t Tell() override { return MoveFilePointer(handle_, 0, FILE_CURRENT).value_or(0); }
  std::optional<uint64_t> Size() override { return FileSize(handle_); }
  bool Truncate(uint64_t size) override {
    const uint64_t position = Tell();
    const bool done = MoveTo(size) && SetEndOfFile(handle_);
    MoveTo(position);
    return done;
  }
  bool SetTimes(FileTime created, FileTime accessed, FileTime written) override {
    const FILETIME c = ToFiletime(created), a = ToFiletime(accessed), w = ToFiletime(written);
    return SetFileTime(handle_, TimeOrNull(c), TimeOrNull(a), TimeOrNull(w));
  }

 private:
  bool MoveTo(uint64_t offset) {
    return MoveFilePointer(handle_, static_cast<int64_t>(offset), FILE_BEGIN).has_value();
  }

  HANDLE handle_;
};

class Win32Mapping : public MappedFile {
 public:
  Win32Mapping(HANDLE file, HANDLE mapping, const uint8_t* view, size_t size)
      : file_(file), mapping_(mapping), view_(view), size_(size) {}
  ~Win32Mapping() override {
    UnmapViewOfFile(view_);
    CloseHandle(mapping_);
    CloseHandle(file_);
  }
  const uint8_t* data() const override { return view_; }
  size_t size() const override { return size_; }

 private:
  HANDLE file_;
  HANDLE mapping_;
  const uint8_t* view_;
  size_t size_;
};

class MutexLock : public InstanceLock {
 public:
  explicit MutexLock(HANDLE mutex) : mutex_(mutex) {}
  ~MutexLock() override { CloseHandle(mutex_); }

 private:
  HANDLE mutex_;
};

class Win32Semaphore : public NamedSemaphore {
 public:
  explicit Win32Semaphore(HANDLE semaphore) : semaphore_(semaphore) {}
  ~Win32Semaphore() override { CloseHandle(semaphore_); }
  void Release() override { ReleaseSemaphore(semaphore_, 1, nullptr); }
  bool Wait() override { return WaitForSingleObject(semaphore_, INFINITE) == WAIT_OBJECT_0; }

 private:
  HANDLE semaphore_;
};

std::string CurrentDirectory() {
  char buffer[MAX_PATH] = "";
  const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

}  // namespace

std::unique_ptr<File> Win32Host::OpenForRead(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32File>(handle);
}

bool Win32Host::ThroughReparsePoint(const std::string& path) const {
  size_t root = 0;
  for (const std::string& candidate : write_roots_) {
    if (path.size() > candidate.size() && path.starts_with(candidate)) {
      root = std::max(root, candidate.size());
    }
  }
  if (root == 0) return false;
  for (size_t end = root; end <= path.size(); ++end) {
    if (end < path.size() && !IsPathSeparator(path[end])) continue;
    const DWORD attributes = GetFileAttributesA(path.substr(0, end).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return true;
    }
  }
  return false;
}

std::unique_ptr<File> Win32Host::CreateForWrite(const std::string& path) {
  if (ThroughReparsePoint(path)) return nullptr;
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32File>(handle);
}

std::unique_ptr<MappedFile> Win32Host::MapForRead(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  const std::optional<uint64_t> size = FileSize(file);
  if (!size || *size == 0 || *size > SIZE_MAX) {
    CloseHandle(file);
    return nullptr;
  }
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
  if (!view) {
    if (mapping) CloseHandle(mapping);
    CloseHandle(file);
    return nullptr;
  }
  return std::make_unique<Win32Mapping>(file, mapping, static_cast<const uint8_t*>(view),
                                        static_cast<size_t>(*size));
}

bool Win32Host::RemoveFile(const std::string& path) {
  // As for writes: a junction below the root would carry the deletion elsewhere.
  if (ThroughReparsePoint(path)) return false;
  return DeleteFileA(path.c_str());
}

std::optional<uint32_t> Win32Host::Attributes(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return attributes & 0xFF;
}

bool Win32Host::SetAttributes(const std::string& path, uint32_t attributes) {
  if (ThroughReparsePoint(path)) return false;
  return SetFileAttributesA(path.c_str(), attributes & kSettableAttributes);
}

bool Win32Host::SetFileTimes(const std::string& path, FileTime created, FileTime accessed,
                             FileTime written) {
  if (ThroughReparsePoint(path)) return false;
  HANDLE handle =
      CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const FILETIME c = ToFiletime(created), a = ToFiletime(accessed), w = ToFiletime(written);
  const bool done = SetFileTime(handle, TimeOrNull(c), TimeOrNull(a), TimeOrNull(w));
  CloseHandle(handle);
  return done;
}

CreateDirectoryResult Win32Host::MakeDirectory(const std::string& path) {
  if (ThroughReparsePoint(path)) return CreateDirectoryResult::kFailed;
  if (CreateDirectoryA(path.c_str(), nullptr)) return CreateDirectoryResult::kCreated;
  return GetLastError() == ERROR_ALREADY_EXISTS ? CreateDirectoryResult::kAlreadyExists
                                                : CreateDirectoryResult::kFailed;
}

std::string Win32Host::CreateTempDirectory(const std::string& prefix) {
  const std::string temp = TempDirectory();
  if (temp.empty()) return std::string();
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned int number = 0;
    if (rand_s(&number) != 0) return std::string();
    const std::string path = temp + prefix + std::to_string(number % 1000000000u);
    if (CreateDirectoryA(path.c_str(), nullptr)) {
      AddWriteRoot(path);
      return path + "\\";
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
  return std::string();
}

void Win32Host::AddWriteRoot(const std::string& root) {
  if (!root.empty()) write_roots_.push_back(WithTrailingSeparator(root));
}

bool Win32Host::RemoveEmptyDirectory(const std::string& path) {
  if (ThroughReparsePoint(path)) return false;
  return RemoveDirectoryA(path.c_str());
}

std::vector<std::string> Win32Host::ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(JoinPath(path, "*.*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

std::string Win32Host::TempDirectory() {
  char buffer[MAX_PATH] = "";
  DWORD length = GetEnvironmentVariableA("TMP", buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) length = GetTempPathA(sizeof buffer, buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return WithTrailingSeparator(std::string(buffer, length));
}

std::string Win32Host::VolumeRoot(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2) + "\\";
  return std::string();
}

std::optional<uint64_t> Win32Host::FreeBytes(const std::string& root) {
  DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, total_clusters = 0;
  if (!GetDiskFreeSpaceA(root.c_str(), &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                         &total_clusters)) {
    return std::nullopt;
  }
  return uint64_t{free_clusters} * bytes_per_sector * sectors_per_cluster;
}

std::string Win32Host::ShortPathName(const std::string& path) {
  char buffer[MAX_PATH] = "";
  const DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return path;
  return std::string(buffer, length);
}

FileTime Win32Host::Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FromFiletime(now);
}

std::optional<FileTime> Win32Host::LocalToFileTime(const CalendarTime& local) {
  const SYSTEMTIME system = ToSystemtime(local);
  FILETIME local_time, utc;
  if (!SystemTimeToFileTime(&system, &local_time)) return std::nullopt;
  if (!LocalFileTimeToFileTime(&local_time, &utc)) return std::nullopt;
  return FromFiletime(utc);
}

std::optional<CalendarTime> Win32Host::UtcToLocal(const CalendarTime& utc) {
  const SYSTEMTIME system = ToSystemtime(utc);
  SYSTEMTIME local;
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &system, &local)) return std::nullopt;
  return FromSystemtime(local);
}

std::unique_ptr<InstanceLock> Win32Host::AcquireInstanceLock(const std::string& program_path) {
  // Named after the program file's name alone, as the program always was.
  const size_t cut = program_path.find_last_of("\\/");
  const std::string name = cut == std::string::npos ? program_path : program_path.substr(cut + 1);
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
  if (!mutex) return nullptr;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return nullptr;
  }
  return std::make_unique<MutexLock>(mutex);
}

std::unique_ptr<NamedSemaphore> Win32Host::OpenNamedSemaphore(const std::string& name) {
  HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 1, name.c_str());
  if (!semaphore) return nullptr;
  return std::make_unique<Win32Semaphore>(semaphore);
}

std::optional<int> Win32Host::RunProcess(const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         const std::string& working_directory) {
  // The application name is the installer's own full path: the search for a bare name would
  // start a file of that name next to this program (often this program itself) instead.
  std::string command_line = "\"" + program + "\"";
  for (const std::string& argument : arguments) command_line += " " + argument;
  // The run directory is current here too while the installer runs, as the program always
  // did (an installer may look at its parent's directory).
  const std::string saved_directory = CurrentDirectory();
  SetCurrentDirectoryA(working_directory.c_str());
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  const bool started = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                                      nullptr, working_directory.c_str(), &startup, &process);
  std::optional<int> status;
  if (started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    status = static_cast<int>(code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  // Before anything deletes the run directory, it must no longer be in use here.
  if (!saved_directory.empty()) SetCurrentDirectoryA(saved_directory.c_str());
  return status;
}

void Win32Host::Sleep(unsigned milliseconds) {
  ::Sleep(milliseconds);
}

// The system's own words for the last error, without the closing period and line break that
// would end the sentence they are put into.
std::string Win32Host::ErrorText() {
  const DWORD code = GetLastError();
  if (code == NO_ERROR) return {};
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string words = text ? std::string(text, length) : std::string();
  LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                            words.back() == '.')) {
    words.pop_back();
  }
  return words.empty() ? "error " + std::to_string(code) : words;
}

}  // namespace floppyset
