// The seam between the core and the operating system: files, mappings, directories,
// time zones, named objects and processes. One implementation per platform
// (platform/posix, platform/win32) and test doubles under tests/support.
// Method names stay clear of the Win32 API macros (DeleteFile, CreateDirectory...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/byte_stream.h"
#include "base/time.h"

namespace floppyset {

// DOS / Win32 attribute bits, shared by FAT12 entries, flat-image records and hosts.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrVolume = 0x08;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;

// An open file. Reads and writes move the position; nothing is buffered.
class File : public ByteSource, public ByteSink {
 public:
  // Bytes read (0 at the end of the file), or -1 on failure.
  int64_t Read(void* buffer, size_t count) override = 0;
  // True only when every byte was written.
  bool Write(const void* data, size_t count) override = 0;
  bool Seek(uint64_t offset) override = 0;
  virtual uint64_t Tell() = 0;
  std::optional<uint64_t> Size() override = 0;
  // Cuts or extends the file to `size` bytes (SetFilePointer + SetEndOfFile).
  virtual bool Truncate(uint64_t size) = 0;
  virtual bool SetTimes(FileTime created, FileTime accessed, FileTime written) = 0;
};

// A read-only view of a whole file; valid while the object lives.
class MappedFile {
 public:
  virtual ~MappedFile() = default;
  virtual const uint8_t* data() const = 0;
  virtual size_t size() const = 0;
};

// The single-instance lock; released when destroyed.
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
};

// A named counting semaphore (initial count 0, maximum 1) shared between processes.
class NamedSemaphore {
 public:
  virtual ~NamedSemaphore() = default;
  virtual void Release() = 0;
  // Waits until released; false when the wait failed.
  virtual bool Wait() = 0;
  // Removes the name at once when this process made it (a run that ends by a signal leaves
  // no name behind); the object stays usable.
  virtual void RemoveName() {}
};

enum class CreateDirectoryResult { kCreated, kAlreadyExists, kFailed };

class Host {
 public:
  virtual ~Host() = default;

  // --- files ---
  // Opens an existing file for reading, shared with other readers.
  virtual std::unique_ptr<File> OpenForRead(const std::string& path) = 0;
  // Creates or truncates a file for writing (and reading), not shared.
  virtual std::unique_ptr<File> CreateForWrite(const std::string& path) = 0;
  // Maps a whole file read-only; null when it is missing, empty or cannot be mapped.
  virtual std::unique_ptr<MappedFile> MapForRead(const std::string& path) = 0;
  // Removes a file, never a directory; below a write root never a link either.
  virtual bool RemoveFile(const std::string& path) = 0;
  // Attribute bits of a path (kAttrDirectory for directories); nullopt when it does not exist.
  virtual std::optional<uint32_t> Attributes(const std::string& path) = 0;
  // Applies DOS attribute bits; on POSIX read-only clears the write bits.
  virtual bool SetAttributes(const std::string& path, uint32_t attributes) = 0;
  virtual bool SetFileTimes(const std::string& path, FileTime created, FileTime accessed,
                            FileTime written) = 0;

  // --- directories ---
  virtual CreateDirectoryResult MakeDirectory(const std::string& path) = 0;
  // Makes a new private directory, `prefix` and an unpredictable number, in the temporary
  // directory; it is a write root (see AddWriteRoot). Its path with a trailing separator, or
  // "" when none could be made. Never an existing one.
  virtual std::string CreateTempDirectory(const std::string& prefix) = 0;
  // Below `root` (a directory the user or the run chose), files and directories are made,
  // and modes and times set, without passing through a link (on Win32 a reparse point):
  // a package cannot redirect a write outside through a link planted there.
  virtual void AddWriteRoot(const std::string& root) = 0;
  virtual bool RemoveEmptyDirectory(const std::string& path) = 0;
  // Names of the entries directly inside a directory, without "." and "..".
  virtual std::vector<std::string> ListDirectory(const std::string& path) = 0;
  // The temporary directory ending in a separator (TMP on Win32, TMPDIR on POSIX); "" on failure.
  virtual std::string TempDirectory() = 0;
  // The root of the volume that holds `path`: "C:\" on Win32 (or "" without a drive letter),
  // the mount point on POSIX.
  virtual std::string VolumeRoot(const std::string& path) = 0;
  // Free bytes of the volume with that root; nullopt when it cannot be asked.
  virtual std::optional<uint64_t> FreeBytes(const std::string& root) = 0;
  // The short (8.3) form of an existing host path; the path itself where there is none.
  virtual std::string ShortPathName(const std::string& path) = 0;

  // --- time ---
  virtual FileTime Now() = 0;
  // A local calendar time of the current time zone as UTC FILETIME.
  virtual std::optional<FileTime> LocalToFileTime(const CalendarTime& local) = 0;
  // A UTC calendar time in the current time zone.
  virtual std::optional<CalendarTime> UtcToLocal(const CalendarTime& utc) = 0;

  // --- processes and named objects ---
  // Takes the single-instance lock of the program file (Win32: named after the file name;
  // POSIX: after the file's identity); null when another process holds it or it fails.
  virtual std::unique_ptr<InstanceLock> AcquireInstanceLock(const std::string& program_path) = 0;
  // Creates or opens a named semaphore (count 0, maximum 1); null on failure.
  virtual std::unique_ptr<NamedSemaphore> OpenNamedSemaphore(const std::string& name) = 0;
  // Starts `program` (a full path; on POSIX a bare name is looked for on PATH, never in a
  // relative directory) with `arguments`, `working_directory` as its current directory, and
  // waits for its end; its exit status, or nullopt when it could not be started.
  virtual std::optional<int> RunProcess(const std::string& program,
                                        const std::vector<std::string>& arguments,
                                        const std::string& working_directory) = 0;
  virtual void Sleep(unsigned milliseconds) = 0;

  // Why the last call of this thread that failed did fail, in words ("No space left on
  // device"); empty when the host cannot tell.
  virtual std::string ErrorText() { return {}; }
};

}  // namespace floppyset
