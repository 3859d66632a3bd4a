// Raw floppy access on both Windows families, chosen by GetVersion at every branch:
// Windows NT opens the volume "\\.\A:", locks and dismounts it, and uses ReadFile/WriteFile
// at byte positions and IOCTL_DISK_FORMAT_TRACKS; Windows 9x goes through the VWIN32 device (MS-DOS
// IOCTLs for lock, unlock, format and the drive test; int 25h/26h for sectors).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "floppy/floppy_device.h"

namespace floppyset {

// True on Windows 9x/ME (GetVersion has its top bit set).
bool IsWindows9x();

// The cylinders and heads that IOCTL_DISK_FORMAT_TRACKS is given for `tracks` tracks from
// (cylinder, head): the disk has two heads and a run starts at head 0.
struct NtFormatRange {
  uint32_t start_cylinder, end_cylinder, start_head, end_head;
};
NtFormatRange FormatRangeNt(uint16_t cylinder, uint16_t head, uint16_t tracks);
// The track after (cylinder, head) in the order 9x formats them, one call per track.
void NextTrack9x(uint16_t& cylinder, uint16_t& head);

// The drive tests, for a letter 'A' to 'Z'.
bool IsFloppyDriveNt(char letter);
bool IsFloppyDrive9x(char letter);

// One floppy drive. The position is a byte offset on NT and a logical sector number on 9x.
class Win32FloppyDevice : public FloppyDevice {
 public:
  explicit Win32FloppyDevice(uint8_t drive) : drive_(drive) {}
  ~Win32FloppyDevice() override { Close(); }

  bool Open() override;
  void Close() override;
  uint32_t Position() const override { return position_; }
  void SetPosition(uint32_t position) override { position_ = position; }
  bool Read(uint8_t* buffer, uint32_t count, uint32_t& done) override;
  bool Write(const uint8_t* data, uint32_t count, uint32_t& done) override;
  bool FormatTracks(uint16_t cylinder, uint16_t head, uint16_t tracks) override;
  std::string FailureText() const override { return open_failure_; }

 private:
  bool OpenVolumeNt();
  bool OpenVolume9x();
  bool ReadAtPosition(uint8_t* buffer, uint32_t count, uint32_t& done);
  bool WriteAtPosition(const uint8_t* data, uint32_t count, uint32_t& done);
  bool TransferSectors9x(DWORD service, const uint8_t* buffer, uint32_t count, uint32_t& done);
  bool FormatTracksNt(uint16_t cylinder, uint16_t head, uint16_t tracks);
  bool FormatTracks9x(uint16_t cylinder, uint16_t head, uint16_t tracks);

  uint8_t drive_;  // 0 = A:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  uint32_t position_ = 0;
  bool locked_ = false;       // NT: FSCTL_LOCK_VOLUME succeeded, unlocked before closing
  std::string open_failure_;  // NT: the volume could not be locked
};

class Win32FloppyDrives : public FloppyDrives {
 public:
  bool IsFloppyDrive(uint8_t drive) override;
  std::string Label(uint8_t drive) override;
  std::unique_ptr<FloppyDevice> MakeDevice(uint8_t drive) override;
};

}  // namespace floppyset
