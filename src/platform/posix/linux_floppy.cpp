#include "platform/posix/linux_floppy.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fd.h>
#include <linux/major.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "floppy/image_file_drive.h"

namespace floppyset {

namespace {

constexpr uint32_t kUsbFloppySectors = 2880;  // 1.44 MB in 512-byte sectors

// A drive opened for raw sector access. Positions are byte offsets. Data moves with
// O_DIRECT, past the page cache, so that a refused write is seen at once and a read-back
// reads the drive (the page cache would also turn a write of a cylinder that does not fill
// whole pages into a read of the next, possibly unformatted, cylinder). A floppy controller
// drive also keeps the last track it read in its own buffer; a read-back flushes that first.
class LinuxFloppyDevice : public FloppyDevice {
 public:
  LinuxFloppyDevice(std::string path, bool can_format)
      : path_(std::move(path)), can_format_(can_format) {}
  ~LinuxFloppyDevice() override {
    Close();
    std::free(bounce_);
  }
  LinuxFloppyDevice(const LinuxFloppyDevice&) = delete;
  LinuxFloppyDevice& operator=(const LinuxFloppyDevice&) = delete;

  bool Open() override {
    Close();
    // The floppy driver reads a disk inside open() unless told not to wait for it, and
    // refuses a blank one; a blank disk must open so that it can be formatted.
    const int flags = O_RDWR | O_EXCL | O_SYNC | O_CLOEXEC | (can_format_ ? O_NONBLOCK : 0);
    fd_ = ::open(path_.c_str(), flags | O_DIRECT);
    if (fd_ < 0 && errno == EINVAL) fd_ = ::open(path_.c_str(), flags);  // a file on tmpfs
    if (fd_ < 0) return Failed("cannot open ");
    if (can_format_) {
      // Takes notice of a disk change (the driver fails transfers after one until the drive
      // is revalidated) and sets the 1.44 MB layout, which a blank disk cannot tell it.
      ::ioctl(fd_, FDFLUSH, 0);
      if (!EnsureGeometry()) {
        Failed("cannot set the 1.44 MB layout of ");
        Close();
        return false;
      }
    }
    return true;
  }

  std::string FailureText() const override { return failure_; }

  void Close() override {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
  }

  uint32_t Position() const override { return position_; }
  void SetPosition(uint32_t position) override { position_ = position; }

  bool Read(uint8_t* buffer, uint32_t count, uint32_t& done) override {
    if (fd_ < 0 || !Reserve(count)) return false;
    if (can_format_ && ::ioctl(fd_, FDFLUSH, 0) != 0) return false;
    if (!Transfer(count, [&](uint32_t at, uint32_t left) {
          return ::pread(fd_, bounce_ + at, left, off_t{position_} + at);
        })) {
      return false;
    }
    std::memcpy(buffer, bounce_, count);
    return Advance(count, done);
  }

  bool Write(const uint8_t* data, uint32_t count, uint32_t& done) override {
    // Nothing is written past a 1.44 MB floppy.
    if (uint64_t{position_} + count > kFloppyDiskBytes) {
      errno = ENOSPC;
      return Failed("cannot write ");
    }
    if (fd_ < 0 || !Reserve(count)) return Failed("cannot write ");
    std::memcpy(bounce_, data, count);
    if (!Transfer(count, [&](uint32_t at, uint32_t left) {
          return ::pwrite(fd_, bounce_ + at, left, off_t{position_} + at);
        })) {
      return Failed("cannot write ");
    }
    return Advance(count, done);
  }

  // Only the floppy controller formats; other drives refuse, so a write that fails on them
  // goes to the retry prompt.
  bool FormatTracks(uint16_t cylinder, uint16_t head, uint16_t tracks) override {
    if (fd_ < 0 || !can_format_) return false;
    if (::ioctl(fd_, FDFMTBEG, 0) != 0) return Failed("cannot format ");
    bool formatted = true;
    for (uint16_t n = 0; n < tracks && formatted; ++n) {
      format_descr track{0, head, cylinder};
      formatted = ::ioctl(fd_, FDFMTTRK, &track) == 0;
      if (head != 0) {
        head = 0;
        ++cylinder;
      } else {
        head = 1;
      }
    }
    if (!formatted) Failed("cannot format ");
    return ::ioctl(fd_, FDFMTEND, 0) == 0 && formatted;
  }

 private:
  // Moves `count` bytes with as many calls as the system needs; all or nothing.
  template <typename Call>
  static bool Transfer(uint32_t count, Call call) {
    uint32_t moved = 0;
    while (moved < count) {
      ssize_t n = call(moved, count - moved);
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) errno = ENOSPC;  // the device took nothing
      if (n <= 0) return false;
      moved += static_cast<uint32_t>(n);
    }
    return true;
  }

  bool Advance(uint32_t count, uint32_t& done) {
    position_ += count;
    done = count;
    return true;
  }

  // Keeps "<what><device>: <errno's words>" for FailureText.
  bool Failed(const char* what) {
    failure_ = what + path_ + ": " + std::strerror(errno);
    return false;
  }

  // O_DIRECT wants a buffer aligned to the logical block; a page covers every drive.
  bool Reserve(uint32_t count) {
    constexpr size_t kAlignment = 4096;
    if (count <= bounce_size_) return true;
    std::free(bounce_);
    bounce_size_ = (count + kAlignment - 1) / kAlignment * kAlignment;
    bounce_ = static_cast<uint8_t*>(std::aligned_alloc(kAlignment, bounce_size_));
    if (!bounce_) bounce_size_ = 0;
    return bounce_ != nullptr;
  }

  // The run writes the 1.44 MB layout only, and a blank disk cannot tell the driver any;
  // set the driver's own table entry for it unless the drive already has it.
  bool EnsureGeometry() {
    floppy_struct geometry{};
    if (::ioctl(fd_, FDGETPRM, &geometry) == 0 && geometry.sect == 18 && geometry.head == 2 &&
        geometry.track == 80) {
      return true;
    }
    floppy_struct standard{2880, 18, 2, 80, 0, 0x1B, 0x00, 0xCF, 0x6C, nullptr};
    return ::ioctl(fd_, FDSETPRM, &standard) == 0;
  }

  std::string path_;
  bool can_format_;
  std::string failure_;
  int fd_ = -1;
  uint32_t position_ = 0;
  uint8_t* bounce_ = nullptr;
  size_t bounce_size_ = 0;
};

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string DeviceNumber(dev_t device) {
  return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// A field of /proc/mounts, its blanks and backslashes written as octal escapes.
std::string Unescaped(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    const auto digit = [&](size_t at) {
      return at < field.size() && field[at] >= '0' && field[at] <= '7';
    };
    if (field[i] == '\\' && digit(i + 1) && digit(i + 2) && digit(i + 3)) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

// Where a block device or one of its partitions is mounted; empty when nowhere. `numbers`
// are "major:minor" of the device and its partitions.
std::string MountPointOf(const std::vector<std::string>& numbers, const std::string& root) {
  std::ifstream mounts(root + "/proc/self/mounts");
  if (!mounts) mounts.open(root + "/proc/mounts");
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::string source, target;
    if (!(fields >> source >> target) || source.empty() || source[0] != '/') continue;
    struct stat info {};
    if (::stat(Unescaped(source).c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) continue;
    if (std::find(numbers.begin(), numbers.end(), DeviceNumber(info.st_rdev)) != numbers.end()) {
      return Unescaped(target);
    }
  }
  return "";
}

}  // namespace

std::string FloppyDeviceRefusal(const std::string& path, const std::string& system_root,
                                bool& can_format) {
  can_format = false;
  constexpr char kUseDrive[] = ": image files are written with --drive=DIR";
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return path + ": " + std::strerror(errno);
  if (S_ISREG(info.st_mode)) return path + " is a file, not a floppy drive" + kUseDrive;
  if (S_ISDIR(info.st_mode)) return path + " is a directory, not a floppy drive" + kUseDrive;
  if (!S_ISBLK(info.st_mode)) return path + " is not a floppy drive (not a block device)";

  const std::string number = DeviceNumber(info.st_rdev);
  const std::string sys = system_root + "/sys/dev/block/" + number;
  std::vector<std::string> numbers{number};
  if (major(info.st_rdev) == FLOPPY_MAJOR || IsFloppyControllerDrive(path)) {
    can_format = true;
  } else {
    const std::string removable = ReadFirstLine(sys + "/removable");
    const std::string sectors = ReadFirstLine(sys + "/size");
    const std::string block = ReadFirstLine(sys + "/queue/logical_block_size");
    if (!ReadFirstLine(sys + "/partition").empty()) {
      return path + " is a partition, not a floppy drive";
    }
    if (removable.empty() || sectors.empty()) {
      return path + " is not a floppy drive (the system does not describe it as a disk: no " + sys +
             ")";
    }
    if (removable != "1") return path + " is not a removable drive: a fixed disk is never written";
    if (sectors != std::to_string(kUsbFloppySectors) || (!block.empty() && block != "512")) {
      return path + " is not a 1.44 MB floppy drive: it holds " + sectors + " sectors" +
             (block.empty() || block == "512" ? "" : " of " + block + " bytes") +
             ", not 2,880 of 512 bytes";
    }
    // Its partitions, should the disk in it have any.
    if (DIR* dir = ::opendir(sys.c_str())) {
      while (dirent* entry = ::readdir(dir)) {
        const std::string sub = sys + "/" + entry->d_name;
        if (entry->d_name[0] != '.' && !ReadFirstLine(sub + "/partition").empty()) {
          numbers.push_back(ReadFirstLine(sub + "/dev"));
        }
      }
      ::closedir(dir);
    }
  }
  if (const std::string where = MountPointOf(numbers, system_root); !where.empty()) {
    return path + " is mounted on " + where + ": unmount it first";
  }
  if (::access(path.c_str(), R_OK | W_OK) != 0) {
    return path + ": " + std::strerror(errno) +
           " (writing to a drive needs write access to it: group floppy or disk)";
  }
  return "";
}

bool IsFloppyControllerDrive(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return false;
  if (major(info.st_rdev) == FLOPPY_MAJOR) return true;
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  char type[16] = {};
  bool answered = ::ioctl(fd, FDGETDRVTYP, type) == 0;
  ::close(fd);
  return answered;
}

std::vector<std::string> FindUsbFloppyDrives(const std::string& sys_block) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(sys_block.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name.rfind("sd", 0) == 0) names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());

  std::vector<std::string> drives;
  for (const std::string& name : names) {
    const std::string base = sys_block + "/" + name;
    if (ReadFirstLine(base + "/removable") == "1" &&
        ReadFirstLine(base + "/size") == std::to_string(kUsbFloppySectors)) {
      drives.push_back("/dev/" + name);
    }
  }
  return drives;
}

LinuxFloppyDrives::LinuxFloppyDrives(const std::string& device_override, std::string system_root)
    : device_override_(device_override), system_root_(std::move(system_root)) {
  if (!device_override.empty()) {
    drives_.push_back({device_override, IsFloppyControllerDrive(device_override)});
    return;
  }
  for (const char* path : {"/dev/fd0", "/dev/fd1"}) {
    if (IsFloppyControllerDrive(path)) drives_.push_back({path, true});
  }
  for (const std::string& path : FindUsbFloppyDrives(system_root_ + "/sys/block")) {
    drives_.push_back({path, false});
  }
}

std::string LinuxFloppyDrives::Refusal() {
  if (device_override_.empty()) return "";
  bool can_format = false;
  std::string refusal = FloppyDeviceRefusal(device_override_, system_root_, can_format);
  if (refusal.empty()) {
    drives_[0].can_format = can_format;
    return "";
  }
  return refusal + ".\n\nNo floppy disk was written.";
}

std::string LinuxFloppyDrives::Label(uint8_t drive) {
  return drive < drives_.size() ? drives_[drive].path : std::string();
}

std::unique_ptr<FloppyDevice> LinuxFloppyDrives::MakeDevice(uint8_t drive) {
  if (drive >= drives_.size()) return nullptr;
  return std::make_unique<LinuxFloppyDevice>(drives_[drive].path, drives_[drive].can_format);
}

}  // namespace floppyset
