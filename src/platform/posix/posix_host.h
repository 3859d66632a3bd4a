// The Host of the Linux program: POSIX files, mmap, statvfs, time zones from TZ, an
// abstract-socket instance lock and POSIX named semaphores. Writes below a write root walk
// the path component by component from the root's descriptor and never follow a link.
#pragma once

#include <mutex>

#include "host/host.h"

namespace floppyset {

class PosixHost : public Host {
 public:
  std::unique_ptr<File> OpenForRead(const std::string& path) override;
  std::unique_ptr<File> CreateForWrite(const std::string& path) override;
  std::unique_ptr<MappedFile> MapForRead(const std::string& path) override;
  bool RemoveFile(const std::string& path) override;
  std::optional<uint32_t> Attributes(const std::string& path) override;
  bool SetAttributes(const std::string& path, uint32_t attributes) override;
  bool SetFileTimes(const std::string& path, FileTime created, FileTime accessed,
                    FileTime written) override;

  CreateDirectoryResult MakeDirectory(const std::string& path) override;
  std::string CreateTempDirectory(const std::string& prefix) override;
  void AddWriteRoot(const std::string& root) override;
  bool RemoveEmptyDirectory(const std::string& path) override;
  std::vector<std::string> ListDirectory(const std::string& path) override;
  std::string TempDirectory() override;
  std::string VolumeRoot(const std::string& path) override;
  std::optional<uint64_t> FreeBytes(const std::string& root) override;
  std::string ShortPathName(const std::string& path) override;

  FileTime Now() override;
  std::optional<FileTime> LocalToFileTime(const CalendarTime& local) override;
  std::optional<CalendarTime> UtcToLocal(const CalendarTime& utc) override;

  std::unique_ptr<InstanceLock> AcquireInstanceLock(const std::string& program_path) override;
  std::unique_ptr<NamedSemaphore> OpenNamedSemaphore(const std::string& name) override;
  std::optional<int> RunProcess(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const std::string& working_directory) override;
  void Sleep(unsigned milliseconds) override;
  // strerror of errno: every failing call leaves its reason there.
  std::string ErrorText() override;

 private:
  // A descriptor of the directory that holds the last component of `path` (put in `leaf`),
  // reached from the longest write root above it without following a link; -1 on failure.
  int OpenParent(const std::string& path, std::string& leaf);

  std::mutex roots_mutex_;
  std::vector<std::string> write_roots_;  // each ending in '/'
};

}  // namespace floppyset
