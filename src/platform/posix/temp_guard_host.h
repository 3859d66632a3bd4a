// A Host that remembers the directories a run makes directly in the temporary directory
// (the workspace and the autostart set, "TII" and a number) so that the tool can remove them
// whatever happens: after the run as a safety net, or from the signal thread on Ctrl-C and SIGTERM.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host.h"

namespace floppyset {

class TempGuardHost : public Host {
 public:
  explicit TempGuardHost(Host& inner) : inner_(inner) {}

  // Removes every remembered directory with everything in it.
  void RemoveTempDirectories();
  // The same, after which no file or directory can be created any more: the process is
  // about to end on a signal while the run may still be working.
  void ShutDown();
  // Pauses for which `skip` returns true are not taken (the terminal has no dialog to show
  // during them).
  void SetSleepFilter(std::function<bool()> skip) { skip_sleep_ = std::move(skip); }

  std::unique_ptr<File> OpenForRead(const std::string& path) override {
    return inner_.OpenForRead(path);
  }
  std::unique_ptr<File> CreateForWrite(const std::string& path) override;
  std::unique_ptr<MappedFile> MapForRead(const std::string& path) override {
    return inner_.MapForRead(path);
  }
  bool RemoveFile(const std::string& path) override { return inner_.RemoveFile(path); }
  std::optional<uint32_t> Attributes(const std::string& path) override {
    return inner_.Attributes(path);
  }
  bool SetAttributes(const std::string& path, uint32_t attributes) override {
    return inner_.SetAttributes(path, attributes);
  }
  bool SetFileTimes(const std::string& path, FileTime created, FileTime accessed,
                    FileTime written) override {
    return inner_.SetFileTimes(path, created, accessed, written);
  }

  CreateDirectoryResult MakeDirectory(const std::string& path) override;
  bool RemoveEmptyDirectory(const std::string& path) override {
    return inner_.RemoveEmptyDirectory(path);
  }
  std::vector<std::string> ListDirectory(const std::string& path) override {
    return inner_.ListDirectory(path);
  }
  std::string TempDirectory() override { return inner_.TempDirectory(); }
  std::string VolumeRoot(const std::string& path) override { return inner_.VolumeRoot(path); }
  std::optional<uint64_t> FreeBytes(const std::string& root) override {
    return inner_.FreeBytes(root);
  }
  std::string ShortPathName(const std::string& path) override { return inner_.ShortPathName(path); }

  FileTime Now() override { return inner_.Now(); }
  std::optional<FileTime> LocalToFileTime(const CalendarTime& local) override {
    return inner_.LocalToFileTime(local);
  }
  std::optional<CalendarTime> UtcToLocal(const CalendarTime& utc) override {
    return inner_.UtcToLocal(utc);
  }

  std::unique_ptr<InstanceLock> AcquireInstanceLock(const std::string& name) override {
    return inner_.AcquireInstanceLock(name);
  }
  std::unique_ptr<NamedSemaphore> OpenNamedSemaphore(const std::string& name) override {
    return inner_.OpenNamedSemaphore(name);
  }
  std::optional<int> RunProcess(const std::string& command_line,
                                const std::string& working_directory) override {
    return inner_.RunProcess(command_line, working_directory);
  }
  void Sleep(unsigned milliseconds) override {
    if (!skip_sleep_ || !skip_sleep_()) inner_.Sleep(milliseconds);
  }

 private:
  bool IsDirectlyInTemp(const std::string& path);

  Host& inner_;
  std::function<bool()> skip_sleep_;
  std::mutex mutex_;  // held while creating, so that ShutDown sees every creation
  bool shut_down_ = false;
  std::vector<std::string> made_in_temp_;
};

}  // namespace floppyset
