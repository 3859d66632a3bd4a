// A PosixHost with faults to inject, a scripted RunProcess and sleeps that do not wait. It
// counts the file operations of a run and the bytes written to each file, and can make the
// n-th operation fail as a full disk (ENOSPC: a write puts down half and fails) or a refusal
// (EACCES: nothing happens), so that a test can sweep n over a whole run.
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

enum class OperationFault { kNoSpace, kNoAccess };

// Shared by the host and the files it opened.
struct OperationCounts {
  uint64_t operations = 0, fail_at = 0;
  OperationFault fault = OperationFault::kNoSpace;
  std::string failed;                       // "write /path" of the failed operation
  std::vector<std::string> log;             // "write /path" of every operation
  std::map<std::string, uint64_t> written;  // path -> bytes

  // Counts an operation; true when it is the one to fail (errno is set).
  bool Count(const char* what, const std::string& path);
};

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

  // Operations that may fail, counted from 1: opening, creating and mapping files, making
  // directories (temporary ones too), reading, writing, cutting files and setting their
  // attributes and times. Removals are not among them: what cannot be removed stays, whatever
  // the program does.
  uint64_t Operations() const { return counts_->operations; }
  // Operation `n` fails (0: none); `failed_operation()` says what it was, once it came.
  void FailOperation(uint64_t n, OperationFault fault) {
    counts_->fail_at = n, counts_->fault = fault;
  }
  const std::string& failed_operation() const { return counts_->failed; }
  const std::vector<std::string>& OperationLog() const { return counts_->log; }
  // Bytes written to files at or below `prefix` ("" for all) through this host.
  uint64_t BytesWritten(const std::string& prefix = "") const;

  std::unique_ptr<File> OpenForRead(const std::string& path) override;
  std::unique_ptr<File> CreateForWrite(const std::string& path) override;
  std::unique_ptr<MappedFile> MapForRead(const std::string& path) override;
  bool SetAttributes(const std::string& path, uint32_t attributes) override;
  bool SetFileTimes(const std::string& path, FileTime created, FileTime accessed,
                    FileTime written) override;
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
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string& path);

  std::shared_ptr<OperationCounts> counts_ = std::make_shared<OperationCounts>();

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
