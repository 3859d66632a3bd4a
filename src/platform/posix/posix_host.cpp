#include "platform/posix/posix_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

#include "base/path.h"

namespace floppyset {
namespace {

class PosixFile : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }

  int64_t Read(void* buffer, size_t count) override {
    size_t total = 0;
    while (total < count) {
      const ssize_t n = ::read(fd_, static_cast<char*>(buffer) + total, count - total);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return total ? static_cast<int64_t>(total) : -1;
      if (n == 0) break;
      total += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(total);
  }
  bool Write(const void* data, size_t count) override {
    size_t total = 0;
    while (total < count) {
      const ssize_t n = ::write(fd_, static_cast<const char*>(data) + total, count - total);
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) errno = ENOSPC;  // nothing taken, and no reason given
      if (n <= 0) return false;
      total += static_cast<size_t>(n);
    }
    return true;
  }
  bool Seek(uint64_t offset) override {
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
  }
  uint64_t Tell() override {
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    return at < 0 ? 0 : static_cast<uint64_t>(at);
  }
  std::optional<uint64_t> Size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
  }
  bool Truncate(uint64_t size) override { return ::ftruncate(fd_, static_cast<off_t>(size)) == 0; }
  bool SetTimes(FileTime, FileTime accessed, FileTime written) override {
    const timespec times[2] = {ToTimespec(accessed), ToTimespec(written)};
    return ::futimens(fd_, times) == 0;
  }

  static timespec ToTimespec(FileTime t) {
    timespec ts;
    ts.tv_sec = static_cast<time_t>(FileTimeToUnixSeconds(t));
    ts.tv_nsec = static_cast<long>(t.value % 10'000'000 * 100);
    return ts;
  }

 private:
  int fd_;
};

class PosixMapping : public MappedFile {
 public:
  PosixMapping(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  ~PosixMapping() override { ::munmap(const_cast<uint8_t*>(data_), size_); }
  const uint8_t* data() const override { return data_; }
  size_t size() const override { return size_; }

 private:
  const uint8_t* data_;
  size_t size_;
};

// Held while the socket is bound; the kernel frees the name when the process ends, so
// nothing is left behind in any directory.
class SocketLock : public InstanceLock {
 public:
  explicit SocketLock(int fd) : fd_(fd) {}
  ~SocketLock() override { ::close(fd_); }

 private:
  int fd_;
};

class PosixSemaphore : public NamedSemaphore {
 public:
  PosixSemaphore(sem_t* sem, std::string name, bool owner)
      : sem_(sem), name_(std::move(name)), owner_(owner) {}
  ~PosixSemaphore() override {
    ::sem_close(sem_);
    if (owner_) ::sem_unlink(name_.c_str());
  }
  void RemoveName() override {
    if (owner_) ::sem_unlink(name_.c_str());
    owner_ = false;
  }
  void Release() override {
    int value = 0;
    if (::sem_getvalue(sem_, &value) == 0 && value >= 1) return;  // maximum count 1
    ::sem_post(sem_);
  }
  bool Wait() override {
    while (::sem_wait(sem_) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

 private:
  sem_t* sem_;
  std::string name_;
  bool owner_;
};

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Owns a descriptor for the length of one operation.
struct Descriptor {
  explicit Descriptor(int value) : fd(value) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd;
};

// An entry below a directory descriptor, opened without following a link, for changing its
// mode or times: a directory, or a file that has no other name (a hard link would carry the
// change to a file elsewhere).
int OpenOwnEntry(int dir, const std::string& leaf) {
  const int fd = ::openat(dir, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) == 0 && (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink == 1))) {
    return fd;
  }
  ::close(fd);
  return -1;
}

// A runner named without a directory, from the absolute directories of PATH only: a relative
// entry would find a file of the unpacked set.
std::string FindOnPath(const std::string& name) {
  const char* env = std::getenv("PATH");
  std::istringstream entries(env && *env ? env : "/usr/local/bin:/usr/bin:/bin");
  for (std::string entry; std::getline(entries, entry, ':');) {
    if (entry.empty() || entry[0] != '/') continue;
    const std::string candidate = WithTrailingSeparator(entry) + name;
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return "";
}

}  // namespace

std::unique_ptr<File> PosixHost::OpenForRead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixFile>(fd);
}

int PosixHost::OpenParent(const std::string& path, std::string& leaf) {
  const std::string target = WithoutTrailingSeparators(path);
  std::string root;
  {
    std::lock_guard lock(roots_mutex_);
    for (const std::string& candidate : write_roots_) {
      if (target.size() > candidate.size() && target.starts_with(candidate) &&
          candidate.size() > root.size()) {
        root = candidate;
      }
    }
  }
  const size_t slash = target.find_last_of('/');
  leaf = slash == std::string::npos ? target : target.substr(slash + 1);
  if (leaf.empty() || leaf == "." || leaf == "..") {
    errno = EINVAL;
    return -1;
  }
  if (root.empty()) return ::open(ParentOf(target).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);

  // The root itself may be reached through links (it is the user's choice); nothing below it.
  int fd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (size_t start = root.size(); fd >= 0 && start <= slash;) {
    const size_t end = target.find('/', start);
    const std::string part = target.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    const int next =
        part == ".." ? -1
                     : ::openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int error = part == ".." ? EINVAL : errno;
    ::close(fd);
    fd = next;
    errno = error;
  }
  return fd;
}

std::unique_ptr<File> PosixHost::CreateForWrite(const std::string& path) {
  std::string leaf;
  const Descriptor dir(OpenParent(path, leaf));
  if (dir.fd < 0) return nullptr;
  constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::openat(dir.fd, leaf.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
  if (fd < 0 && errno == EEXIST) {
    fd = ::openat(dir.fd, leaf.c_str(), kFlags);
    struct stat st;
    // Only a plain file of its own is replaced: not a pipe or device, not a second name of a
    // file elsewhere. A read-only file cannot be replaced on Windows; keep that rule even
    // for root.
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
                    (st.st_mode & 0222) == 0 || ::ftruncate(fd, 0) != 0)) {
      // The reason in the words the system has for it.
      const int error = S_ISDIR(st.st_mode)        ? EISDIR
                        : !S_ISREG(st.st_mode)     ? EEXIST
                        : st.st_nlink != 1         ? EMLINK
                        : (st.st_mode & 0222) == 0 ? EACCES
                                                   : errno;
      ::close(fd);
      fd = -1;
      errno = error;
    }
  }
  if (fd < 0) return nullptr;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return std::make_unique<PosixFile>(fd);
}

std::unique_ptr<MappedFile> PosixHost::MapForRead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
    ::close(fd);
    return nullptr;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (view == MAP_FAILED) return nullptr;
  return std::make_unique<PosixMapping>(static_cast<const uint8_t*>(view), size);
}

bool PosixHost::RemoveFile(const std::string& path) {
  std::string leaf;
  const Descriptor dir(OpenParent(path, leaf));
  struct stat st;
  // A plain file only: a link found in the set's place (to a read-only file, which a re-unpack
  // removes to replace it) is not ours to remove.
  if (dir.fd < 0 || ::fstatat(dir.fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(st.st_mode)) {
    return false;
  }
  return ::unlinkat(dir.fd, leaf.c_str(), 0) == 0;
}

std::optional<uint32_t> PosixHost::Attributes(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  uint32_t attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
  if ((st.st_mode & 0222) == 0) attributes |= kAttrReadOnly;
  return attributes;
}

bool PosixHost::SetAttributes(const std::string& path, uint32_t attributes) {
  std::string leaf;
  const Descriptor dir(OpenParent(path, leaf));
  const Descriptor entry(dir.fd < 0 ? -1 : OpenOwnEntry(dir.fd, leaf));
  struct stat st;
  if (entry.fd < 0 || ::fstat(entry.fd, &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly) {
    mode &= ~mode_t{0222};
  } else if ((mode & 0222) == 0) {
    mode |= (S_ISDIR(st.st_mode) ? 0777 : 0666) & 0222 & ~CurrentUmask();
  }
  // Hidden, system and archive have no POSIX counterpart and are not kept.
  return ::fchmod(entry.fd, mode) == 0;
}

bool PosixHost::SetFileTimes(const std::string& path, FileTime, FileTime accessed,
                             FileTime written) {
  std::string leaf;
  const Descriptor dir(OpenParent(path, leaf));
  const Descriptor entry(dir.fd < 0 ? -1 : OpenOwnEntry(dir.fd, leaf));
  const timespec times[2] = {PosixFile::ToTimespec(accessed), PosixFile::ToTimespec(written)};
  return entry.fd >= 0 && ::futimens(entry.fd, times) == 0;
}

CreateDirectoryResult PosixHost::MakeDirectory(const std::string& path) {
  std::string leaf;
  const Descriptor dir(OpenParent(path, leaf));
  if (dir.fd < 0) return CreateDirectoryResult::kFailed;
  if (::mkdirat(dir.fd, leaf.c_str(), 0777) == 0) return CreateDirectoryResult::kCreated;
  struct stat st;
  // A link of that name is not a directory to enter.
  if (errno == EEXIST && ::fstatat(dir.fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      !S_ISLNK(st.st_mode)) {
    return CreateDirectoryResult::kAlreadyExists;
  }
  return CreateDirectoryResult::kFailed;
}

std::string PosixHost::CreateTempDirectory(const std::string& prefix) {
  const std::string temp = TempDirectory();
  if (temp.empty()) return "";
  // mkdir never follows a link and fails on any existing name: the directory is ours alone.
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint32_t number = 0;
    if (::getrandom(&number, sizeof number, 0) != sizeof number) return "";
    const std::string path = temp + prefix + std::to_string(number % 1'000'000'000);
    if (::mkdir(path.c_str(), 0700) == 0) {
      AddWriteRoot(path);
      return path + '/';
    }
    if (errno != EEXIST) return "";
  }
  return "";
}

void PosixHost::AddWriteRoot(const std::string& root) {
  if (root.empty()) return;
  std::lock_guard lock(roots_mutex_);
  write_roots_.push_back(WithTrailingSeparator(root));
}

bool PosixHost::RemoveEmptyDirectory(const std::string& path) {
  std::string leaf;
  const Descriptor dir(OpenParent(path, leaf));
  return dir.fd >= 0 && ::unlinkat(dir.fd, leaf.c_str(), AT_REMOVEDIR) == 0;
}

std::vector<std::string> PosixHost::ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

std::string PosixHost::TempDirectory() {
  const char* tmpdir = std::getenv("TMPDIR");
  return WithTrailingSeparator(tmpdir && *tmpdir ? tmpdir : "/tmp");
}

std::string PosixHost::VolumeRoot(const std::string& path) {
  std::string existing = WithoutTrailingSeparators(path.empty() ? "." : path);
  struct stat st;
  while (::stat(existing.c_str(), &st) != 0) {
    const std::string parent = ParentOf(existing);
    if (parent == existing) return "/";
    existing = parent;
  }
  char resolved[PATH_MAX];
  if (!::realpath(existing.c_str(), resolved)) return "/";
  std::string current = resolved;
  while (current != "/") {
    const std::string parent = ParentOf(current);
    struct stat parent_st;
    if (::stat(parent.c_str(), &parent_st) != 0 || parent_st.st_dev != st.st_dev) break;
    current = parent;
  }
  return current;
}

std::optional<uint64_t> PosixHost::FreeBytes(const std::string& root) {
  struct statvfs vfs;
  if (root.empty() || ::statvfs(root.c_str(), &vfs) != 0) return std::nullopt;
  return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

std::string PosixHost::ShortPathName(const std::string& path) {
  return path;
}

FileTime PosixHost::Now() {
  timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  FileTime t = UnixSecondsToFileTime(ts.tv_sec);
  t.value += static_cast<uint64_t>(ts.tv_nsec) / 100;
  return t;
}

std::optional<FileTime> PosixHost::LocalToFileTime(const CalendarTime& local) {
  std::tm tm{};
  tm.tm_year = local.year - 1900;
  tm.tm_mon = local.month - 1;
  tm.tm_mday = local.day;
  tm.tm_hour = local.hour;
  tm.tm_min = local.minute;
  tm.tm_sec = local.second;
  tm.tm_isdst = -1;
  const time_t seconds = ::mktime(&tm);
  if (seconds == static_cast<time_t>(-1) && !(tm.tm_year == 69 && tm.tm_mday == 31)) {
    return std::nullopt;
  }
  FileTime t = UnixSecondsToFileTime(seconds);
  t.value += local.milliseconds * 10'000ull;
  return t;
}

std::optional<CalendarTime> PosixHost::UtcToLocal(const CalendarTime& utc) {
  const auto file_time = CalendarToFileTime(utc);
  if (!file_time) return std::nullopt;
  const time_t seconds = static_cast<time_t>(FileTimeToUnixSeconds(*file_time));
  std::tm tm{};
  if (!::localtime_r(&seconds, &tm)) return std::nullopt;
  CalendarTime out;
  out.year = static_cast<uint16_t>(tm.tm_year + 1900);
  out.month = static_cast<uint16_t>(tm.tm_mon + 1);
  out.day = static_cast<uint16_t>(tm.tm_mday);
  out.day_of_week = static_cast<uint16_t>(tm.tm_wday);
  out.hour = static_cast<uint16_t>(tm.tm_hour);
  out.minute = static_cast<uint16_t>(tm.tm_min);
  out.second = static_cast<uint16_t>(tm.tm_sec);
  out.milliseconds = utc.milliseconds;
  return out;
}

std::unique_ptr<InstanceLock> PosixHost::AcquireInstanceLock(const std::string& program_path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // Abstract namespace: a leading NUL, then the identity of the program file, per user. Two
  // files of the same name are two programs; two names of one file are one.
  struct stat st;
  if (::stat(program_path.c_str(), &st) != 0) {
    ::close(fd);
    return nullptr;
  }
  const std::string key = "floppyset:" + std::to_string(::getuid()) + ":" +
                          std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  const size_t length = std::min(key.size(), sizeof address.sun_path - 2);
  std::memcpy(address.sun_path + 1, key.data(), length);
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<SocketLock>(fd);
}

std::unique_ptr<NamedSemaphore> PosixHost::OpenNamedSemaphore(const std::string& name) {
  const std::string posix_name = "/" + name;
  bool owner = true;
  sem_t* sem = ::sem_open(posix_name.c_str(), O_CREAT | O_EXCL, 0600, 0);
  if (sem == SEM_FAILED && errno == EEXIST) {
    owner = false;
    sem = ::sem_open(posix_name.c_str(), 0);
  }
  if (sem == SEM_FAILED) return nullptr;
  return std::make_unique<PosixSemaphore>(sem, posix_name, owner);
}

std::optional<int> PosixHost::RunProcess(const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         const std::string& working_directory) {
  if (program.empty()) return std::nullopt;
  // Resolved before the change of directory, so that no file there can stand in for it.
  std::string executable = program;
  if (program.find('/') == std::string::npos) {
    executable = FindOnPath(program);
    if (executable.empty()) return std::nullopt;
  } else if (program[0] != '/') {
    char current[PATH_MAX];
    if (!::getcwd(current, sizeof current)) return std::nullopt;
    executable = WithTrailingSeparator(current) + program;
  }
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());

  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return std::nullopt;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(ready[0]);
    ::close(ready[1]);
    return std::nullopt;
  }
  if (pid == 0) {
    // The installer starts with the default signal handling, whatever this process blocks
    // or ignores (the terminal tool blocks Ctrl-C for its own clean-up thread).
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    if (::chdir(working_directory.c_str()) == 0) ::execv(executable.c_str(), argv.data());
    const char failed = 1;
    [[maybe_unused]] const ssize_t n = ::write(ready[1], &failed, 1);
    ::_exit(127);
  }
  ::close(ready[1]);
  char failed = 0;
  const bool exec_failed = ::read(ready[0], &failed, 1) == 1;
  ::close(ready[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (exec_failed) return std::nullopt;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string PosixHost::ErrorText() {
  return errno == 0 ? std::string() : std::strerror(errno);
}

void PosixHost::Sleep(unsigned milliseconds) {
  timespec ts{static_cast<time_t>(milliseconds / 1000),
              static_cast<long>(milliseconds % 1000) * 1'000'000};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace floppyset
