// A PosixHost with faults to inject: free space per volume root (or failing queries),
// paths whose creation fails, a temporary directory of the test's choosing, a scripted
// RunProcess, an instance lock already held, sleeps that do not wait, and named locks and
// semaphores kept inside the test process (so parallel tests never meet).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/posix_host.h"

namespace floppyset::testing {

struct ProcessRun {
  std::string program;
  std::vector<std::string> arguments;
  std::string working_directory;
};

class FaultHost : public PosixHost {
 public:
  // --- free space ---
  // Free bytes of every root without its own value.
  void SetFreeBytes(uint64_t bytes) { free_bytes_all_ = bytes; }
  void SetFreeBytes(const std::string& root, uint64_t bytes) { free_bytes_[root] = bytes; }
  // FreeBytes answers nullopt (the query failed) for every root.
  void FailFreeSpaceQueries(bool fail = true) { fail_free_space_ = fail; }
  // Every VolumeRoot answers `root` (e.g. "C:\\"-like test roots); empty = the real one.
  void SetVolumeRoot(std::string root) { volume_root_ = std::move(root); }
  // Paths at or below `prefix` lie on a volume with that root (checked before SetVolumeRoot).
  void SetVolumeRootFor(const std::string& prefix, std::string root) {
    volume_roots_.emplace_back(prefix, std::move(root));
  }
  const std::vector<std::string>& FreeSpaceQueries() const { return free_space_queries_; }

  // --- creation faults (CreateForWrite, MakeDirectory and CreateTempDirectory) ---
  // Creating exactly `path` fails.
  void FailCreate(const std::string& path) { failing_paths_.insert(path); }
  // Creating anything at or below `directory` fails.
  void FailCreateUnder(const std::string& directory) { failing_prefixes_.push_back(directory); }
  // Creating any file or directory whose last component is `name` fails.
  void FailCreateNamed(const std::string& name) { failing_names_.insert(name); }
  // Opening or mapping exactly `path` for reading fails.
  void FailOpen(const std::string& path) { failing_opens_.insert(path); }
  // Files created from now on share `bytes` of room; writes past it fail (a full disk).
  void SetDiskRoom(uint64_t bytes) { room_ = std::make_shared<uint64_t>(bytes); }
  const std::vector<std::string>& MadeDirectories() const { return made_directories_; }
  const std::vector<std::string>& RemovedDirectories() const { return removed_directories_; }

  // --- temporary directory ---
  // TempDirectory answers `dir` with a trailing separator ("" makes it fail).
  void SetTempDirectory(const std::string& dir);

  // --- time ---
  // UtcToLocal fails.
  void FailUtcToLocal(bool fail = true) { fail_utc_to_local_ = fail; }

  // --- processes ---
  // Every RunProcess is recorded; `runner` (if any) gives its result, else it "ran" with 0.
  void ScriptProcess(std::function<std::optional<int>(const ProcessRun&)> runner) {
    process_runner_ = std::move(runner);
  }
  // Use the real PosixHost::RunProcess after recording.
  void RunRealProcesses(bool real = true) { real_processes_ = real; }
  const std::vector<ProcessRun>& ProcessRuns() const { return process_runs_; }

  // --- named objects ---
  // AcquireInstanceLock refuses, as if another copy held it.
  void SetInstanceLockHeld(bool held = true) { lock_held_ = held; }
  const std::vector<std::string>& InstanceLockNames() const { return lock_names_; }
  const std::vector<std::string>& SemaphoreNames() const { return semaphore_names_; }

  // --- sleeping ---
  // Sleep only records (the default) or really waits.
  void SleepForReal(bool real = true) { real_sleep_ = real; }
  const std::vector<unsigned>& Sleeps() const { return sleeps_; }

  // --- Host ---
  std::unique_ptr<File> OpenForRead(const std::string& path) override;
  std::unique_ptr<File> CreateForWrite(const std::string& path) override;
  std::unique_ptr<MappedFile> MapForRead(const std::string& path) override;
  CreateDirectoryResult MakeDirectory(const std::string& path) override;
  std::string CreateTempDirectory(const std::string& prefix) override;
  bool RemoveEmptyDirectory(const std::string& path) override;
  std::string TempDirectory() override;
  std::string VolumeRoot(const std::string& path) override;
  std::optional<uint64_t> FreeBytes(const std::string& root) override;
  std::optional<CalendarTime> UtcToLocal(const CalendarTime& utc) override;
  std::unique_ptr<InstanceLock> AcquireInstanceLock(const std::string& program_path) override;
  std::unique_ptr<NamedSemaphore> OpenNamedSemaphore(const std::string& name) override;
  std::optional<int> RunProcess(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const std::string& working_directory) override;
  void Sleep(unsigned milliseconds) override;

 private:
  bool CreationFails(const std::string& path) const;

  std::optional<uint64_t> free_bytes_all_;
  std::map<std::string, uint64_t> free_bytes_;
  bool fail_free_space_ = false;
  std::string volume_root_;
  std::vector<std::pair<std::string, std::string>> volume_roots_;
  std::vector<std::string> free_space_queries_;
  std::set<std::string> failing_paths_;
  std::vector<std::string> failing_prefixes_;
  std::set<std::string> failing_names_;
  std::set<std::string> failing_opens_;
  std::shared_ptr<uint64_t> room_;
  std::vector<std::string> made_directories_;
  std::vector<std::string> removed_directories_;
  std::optional<std::string> temp_directory_;
  bool fail_utc_to_local_ = false;
  std::function<std::optional<int>(const ProcessRun&)> process_runner_;
  bool real_processes_ = false;
  std::vector<ProcessRun> process_runs_;
  bool lock_held_ = false;
  std::vector<std::string> lock_names_;
  std::vector<std::string> semaphore_names_;
  bool real_sleep_ = false;
  std::vector<unsigned> sleeps_;
};

}  // namespace floppyset::testing
