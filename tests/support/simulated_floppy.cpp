#include "support/simulated_floppy.h"

#include <algorithm>

namespace floppyset::testing {

namespace {

constexpr uint8_t kFormatFill = 0xF6;  // what a DOS format leaves in every sector

std::string DriveName(uint8_t drive) {
  return std::string(1, static_cast<char>('A' + drive)) + ":";
}

class SimulatedDevice : public FloppyDevice {
 public:
  SimulatedDevice(SimulatedFloppyDrives& drives, uint8_t drive) : drives_(drives), drive_(drive) {}

  std::string OpenFailureText() const override { return drives_.open_failure_text; }
  bool Open() override {
    if (drives_.open_failures != 0) {
      if (drives_.open_failures > 0) --drives_.open_failures;
      Log("open failed " + DriveName(drive_));
      return false;
    }
    open_ = true;
    Log("open " + DriveName(drive_));
    return true;
  }

  void Close() override {
    if (!open_) return;
    open_ = false;
    Log("close");
  }

  uint32_t Position() const override { return position_; }
  void SetPosition(uint32_t position) override { position_ = position; }

  bool Read(uint8_t* buffer, uint32_t count, uint32_t& done) override {
    const std::string what = Describe(count);
    if (!Usable(count)) return Fail("read failed " + what);
    const uint32_t offset = position_ * drives_.position_unit;
    std::copy_n(drives_.disk.bytes.begin() + offset, count, buffer);
    if (drives_.read_back_differences > 0 && count > 0) {
      --drives_.read_back_differences;
      buffer[count / 2] ^= 0x01;
    }
    return Advance(count, done, "read " + what);
  }

  bool Write(const uint8_t* data, uint32_t count, uint32_t& done) override {
    const std::string what = Describe(count);
    if (!Usable(count) || drives_.disk.write_protected) return Fail("write failed " + what);
    const uint32_t offset = position_ * drives_.position_unit;
    std::copy_n(data, count, drives_.disk.bytes.begin() + offset);
    return Advance(count, done, "write " + what);
  }

  bool FormatTracks(uint16_t cylinder, uint16_t head, uint16_t tracks) override {
    const std::string what =
        std::to_string(cylinder) + " " + std::to_string(head) + " " + std::to_string(tracks);
    const uint32_t first = uint32_t{cylinder} * 2 + head;
    if (!open_ || head > 1 || first + tracks > kSimulatedTracks || drives_.disk.write_protected) {
      return Fail("format failed " + what);
    }
    for (uint32_t track = first; track < first + tracks; ++track) {
      if (drives_.bad_format_cylinders.count(static_cast<uint16_t>(track / 2))) {
        return Fail("format failed " + what);
      }
    }
    for (uint32_t track = first; track < first + tracks; ++track) {
      drives_.disk.formatted_tracks[track] = true;
      std::fill_n(drives_.disk.bytes.begin() + track * kSimulatedTrackBytes, kSimulatedTrackBytes,
                  kFormatFill);
    }
    Log("format " + what);
    return true;
  }

 private:
  std::string Describe(uint32_t count) const {
    return std::to_string(position_) + " " + std::to_string(count);
  }

  // Open, inside the disk, whole units, and every track touched formatted.
  bool Usable(uint32_t count) const {
    const uint64_t offset = uint64_t{position_} * drives_.position_unit;
    if (!open_ || count % drives_.position_unit != 0 || offset + count > kSimulatedDiskBytes) {
      return false;
    }
    if (count == 0) return true;
    for (uint64_t track = offset / kSimulatedTrackBytes;
         track <= (offset + count - 1) / kSimulatedTrackBytes; ++track) {
      if (!drives_.disk.formatted_tracks[track]) return false;
    }
    return true;
  }

  bool Advance(uint32_t count, uint32_t& done, const std::string& entry) {
    position_ += count / drives_.position_unit;
    done = count;
    Log(entry);
    return true;
  }

  bool Fail(const std::string& entry) {
    Log(entry);
    return false;
  }

  void Log(const std::string& entry) { drives_.operations.push_back(entry); }

  SimulatedFloppyDrives& drives_;
  uint8_t drive_;
  bool open_ = false;
  uint32_t position_ = 0;
};

}  // namespace

SimulatedDisk SimulatedDisk::Blank() {
  SimulatedDisk disk;
  disk.formatted_tracks.assign(kSimulatedTracks, false);
  return disk;
}

SimulatedFloppyDrives::SimulatedFloppyDrives(std::set<uint8_t> floppy_drives)
    : floppy_drives_(std::move(floppy_drives)) {}

std::vector<std::string> SimulatedFloppyDrives::OperationsStartingWith(
    const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& entry : operations) {
    if (entry.rfind(prefix, 0) == 0) found.push_back(entry);
  }
  return found;
}

std::string SimulatedFloppyDrives::Label(uint8_t drive) {
  return DriveName(drive) + "\\";
}

std::unique_ptr<FloppyDevice> SimulatedFloppyDrives::MakeDevice(uint8_t drive) {
  return std::make_unique<SimulatedDevice>(*this, drive);
}

void SimulatedFloppyDrives::BeginDisk(uint32_t disk_number) {
  operations.push_back("disk " + std::to_string(disk_number));
}

}  // namespace floppyset::testing
