// The Host of the Win32 program: ANSI file and directory calls, file mappings, the
// temporary directory (TMP, else GetTempPathA), free space in 64 bits, the named
// single-instance mutex, named semaphores and CreateProcessA. Writes and removals below a
// write root refuse to pass a reparse point (junction or symbolic link) found there.
#pragma once

#include <vector>

#include "host/host.h"

namespace floppyset {

class Win32Host : public Host {
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
  std::string ErrorText() override;

 private:
  // True when a component of `path` below its write root is a reparse point.
  bool ThroughReparsePoint(const std::string& path) const;

  // Added by the UI thread before the worker starts and by the worker while the UI thread
  // only pumps messages: never two threads at once.
  std::vector<std::string> write_roots_;
};

}  // namespace floppyset
