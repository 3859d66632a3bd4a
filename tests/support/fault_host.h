// A PosixHost with faults to inject, a scripted RunProcess and sleeps that do not wait.
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
  // Free bytes of every root without its own value, or of `root`.
  void SetFreeBytes(uint64_t bytes) { free_bytes_[""] = bytes; }
  void SetFreeBytes(const std::string& root, uint64_t bytes) { free_bytes_[root] = bytes; }
  void FailFreeSpaceQueries(bool fail = true) { fail_free_space_ = fail; }
  // VolumeRoot of paths at or below `prefix` ("" for all) is `root`; the first match counts.
  void SetVolumeRootFor(const std::string& prefix, std::string root) {
    volume_roots_.emplace_back(prefix, std::move(root));
  }
  // Creating anything at or below `directory`, or whose last component is `name`, fails
  // (EACCES); a failing open gives EIO, a full disk ENOSPC.
  void FailCreateUnder(const std::string& directory) { failing_prefixes_.push_back(directory); }
  void FailCreateNamed(const std::string& name) { failing_names_.insert(name); }
  void FailOpen(const std::string& path) { failing_opens_.insert(path); }
  // Files created from now on share `bytes` of room; writes past it fail (a full disk).
  void SetDiskRoom(uint64_t bytes) { room_ = std::make_shared<uint64_t>(bytes); }
  // TempDirectory answers `dir` with a trailing separator ("" makes it fail).
  void SetTempDirectory(const std::string& dir);
  void FailUtcToLocal(bool fail = true) { fail_utc_to_local_ = fail; }
  // Every RunProcess is recorded; `runner` (if any) gives its result, else it "ran" with 0.
  void ScriptProcess(std::function<std::optional<int>(const ProcessRun&)> runner) {
    process_runner_ = std::move(runner);
  }
  const std::vector<ProcessRun>& ProcessRuns() const { return process_runs_; }

  std::unique_ptr<File> OpenForRead(const std::string& path) override;
  std::unique_ptr<File> CreateForWrite(const std::string& path) override;
  std::unique_ptr<MappedFile> MapForRead(const std::string& path) override;
  CreateDirectoryResult MakeDirectory(const std::string& path) override;
  std::string CreateTempDirectory(const std::string& prefix) override;
  std::string TempDirectory() override;
  std::string VolumeRoot(const std::string& path) override;
  std::optional<uint64_t> FreeBytes(const std::string& root) override;
  std::optional<CalendarTime> UtcToLocal(const CalendarTime& utc) override;
  std::optional<int> RunProcess(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const std::string& working_directory) override;
  void Sleep(unsigned) override {}

 private:
  bool CreationFails(const std::string& path) const;

  std::map<std::string, uint64_t> free_bytes_;
  bool fail_free_space_ = false;
  std::vector<std::pair<std::string, std::string>> volume_roots_;
  std::set<std::string> failing_names_, failing_opens_;
  std::vector<std::string> failing_prefixes_;
  std::shared_ptr<uint64_t> room_;
  std::optional<std::string> temp_directory_;
  bool fail_utc_to_local_ = false;
  std::function<std::optional<int>(const ProcessRun&)> process_runner_;
  std::vector<ProcessRun> process_runs_;
};

}  // namespace floppyset::testing
