// Raw access to one floppy drive, bypassing the file system, and the list of drives.
// Win32 (NT volume, 9x VWIN32), Linux (floppy controller, USB block device), the
// image-file drive and the test simulation all sit behind these two interfaces.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace floppyset {

class FloppyDevice {
 public:
  virtual ~FloppyDevice() = default;
  // Opens (and on Windows 9x locks) the drive.
  virtual bool Open() = 0;
  // Unlocks and closes; nothing when not open.
  virtual void Close() = 0;
  // Where the next read or write starts: opaque to the caller (a sector number on 9x, a byte
  // offset elsewhere); saved and restored to read back what was just written.
  virtual uint32_t Position() const = 0;
  virtual void SetPosition(uint32_t position) = 0;
  // Read or write `count` bytes at the position. On success `done` is set and the position
  // moves past the data; on failure both stay unchanged.
  virtual bool Read(uint8_t* buffer, uint32_t count, uint32_t& done) = 0;
  virtual bool Write(const uint8_t* data, uint32_t count, uint32_t& done) = 0;
  // Formats `tracks` tracks from (cylinder, head) on.
  virtual bool FormatTracks(uint16_t cylinder, uint16_t head, uint16_t tracks) = 0;
  // Closes a disk that was not written whole. A real disk stays as it is; a disk that is a
  // file is removed, so that no file under a disk's name holds part of it.
  virtual void Discard() { Close(); }
  // After a failed Open: why, when the user can do something about it (files open on the
  // volume); empty otherwise.
  virtual std::string OpenFailureText() const { return {}; }
};

class FloppyDrives {
 public:
  virtual ~FloppyDrives() = default;
  // Whether drive index 0..25 (A: .. Z:) is a floppy drive.
  virtual bool IsFloppyDrive(uint8_t drive) = 0;
  // The drive as the user knows it: "A:\" on Windows, the device path on Linux.
  virtual std::string Label(uint8_t drive) = 0;
  // A closed device for the drive.
  virtual std::unique_ptr<FloppyDevice> MakeDevice(uint8_t drive) = 0;
  // Called before the devices for disk `disk_number` (1-based) are made; drives that keep
  // one medium per disk (the image-file drive) use it.
  virtual void BeginDisk(uint32_t /*disk_number*/) {}
};

}  // namespace floppyset
