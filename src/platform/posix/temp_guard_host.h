// A Host that remembers the directories a run makes for itself in the temporary directory
// (the workspace and the autostart set) and the named semaphores it opens, so that the tool
// can remove them whatever happens: after the run as a safety net, or from the signal thread
// on Ctrl-C and SIGTERM. Nothing else is ever removed, whatever its name. A report run may
// keep the files of those directories in memory instead: it then needs no space in TMPDIR
// for the archive and images.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/host.h"

namespace floppyset {

class MemoryBytes;  // the contents of a file kept in memory

class TempGuardHost : public Host {
 public:
  explicit TempGuardHost(Host& inner) : inner_(inner) {}

  // Removes every remembered directory with everything in it.
  void RemoveTempDirectories();
  // The same, for the signal thread: the process is about to end. From now on every other
  // thread that reaches the host waits there for that end, so that no failure caused by the
  // removal is reported and nothing but the signal path ends the process.
  void ShutDown();
  // Pauses for which `skip` returns true are not taken (the terminal has no dialog to show
  // during them).
  void SetSleepFilter(std::function<bool()> skip) { skip_sleep_ = std::move(skip); }
  // From now on files in the directories made in the temporary directory are kept in memory
  // (the directories themselves are still made, empty); the temporary volume's free space
  // does not count then.
  void KeepTempFilesInMemory(bool keep) { in_memory_ = keep; }
  // Told of every file created outside the run's own temporary directories (what a run
  // writes for the user: unpacked files, images).
  void SetWriteWatch(std::function<void(const std::string& path)> watch) {
    write_watch_ = std::move(watch);
  }

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
  void AddWriteRoot(const std::string& root) override { inner_.AddWriteRoot(root); }
  bool RemoveEmptyDirectory(const std::string& path) override {
    Gate();
    return inner_.RemoveEmptyDirectory(path);
  }
  std::vector<std::string> ListDirectory(const std::string& path) override;
  std::string TempDirectory() override { return inner_.TempDirectory(); }
  std::string VolumeRoot(const std::string& path) override { return inner_.VolumeRoot(path); }
  std::optional<uint64_t> FreeBytes(const std::string& root) override;
  std::string ShortPathName(const std::string& path) override { return inner_.ShortPathName(path); }

  FileTime Now() override { return inner_.Now(); }
  std::optional<FileTime> LocalToFileTime(const CalendarTime& local) override {
    return inner_.LocalToFileTime(local);
  }
  std::optional<CalendarTime> UtcToLocal(const CalendarTime& utc) override {
    return inner_.UtcToLocal(utc);
  }

  std::unique_ptr<InstanceLock> AcquireInstanceLock(const std::string& program_path) override {
    return inner_.AcquireInstanceLock(program_path);
  }
  // Remembered while open, so that ShutDown removes the names this process made.
  std::unique_ptr<NamedSemaphore> OpenNamedSemaphore(const std::string& name) override;
  std::optional<int> RunProcess(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const std::string& working_directory) override {
    Gate();
    return inner_.RunProcess(program, arguments, working_directory);
  }
  void Sleep(unsigned milliseconds) override {
    if (!skip_sleep_ || !skip_sleep_()) inner_.Sleep(milliseconds);
  }
  std::string ErrorText() override { return inner_.ErrorText(); }

 private:
  // Never returns after ShutDown. Otherwise returns the lock held: a caller that creates keeps
  // it for the creation, so that ShutDown cannot remove a tree while something is made in it.
  std::unique_lock<std::mutex> Gate();
  // With the lock held.
  void RemoveRemembered();
  // With the lock held: the bytes of a file kept in memory, or null for any other path.
  using Bytes = std::shared_ptr<MemoryBytes>;
  bool InMemory(const std::string& path) const;
  Bytes Stored(const std::string& path) const;

  Host& inner_;
  std::function<bool()> skip_sleep_;
  std::function<void(const std::string&)> write_watch_;
  std::mutex mutex_;  // held while creating, so that ShutDown sees every creation
  bool shut_down_ = false;
  std::vector<std::string> made_in_temp_;
  std::vector<NamedSemaphore*> semaphores_;  // open ones; each removes itself when closed

  friend class GuardedSemaphore;
  bool in_memory_ = false;
  std::map<std::string, Bytes> stored_;  // path -> contents, the files kept in memory
};

}  // namespace floppyset
