#include "support/simulated_floppy.h"

#include <algorithm>

namespace floppyset::testing {
namespace {

class SimulatedDevice : public FloppyDevice {
 public:
  SimulatedDevice(SimulatedFloppyDrives& drives, uint8_t drive)
      : drives_(drives), name_(std::string(1, char('A' + drive)) + ":") {}

  std::string FailureText() const override { return drives_.failure_text; }
  bool Open() override {
    if (drives_.open_failures == 0) return open_ = Log("open " + name_, true);
    if (drives_.open_failures > 0) --drives_.open_failures;
    return Log("open failed " + name_, false);
  }
  void Close() override {
    if (open_) open_ = Log("close", false);
  }
  uint32_t Position() const override { return position_; }
  void SetPosition(uint32_t position) override { position_ = position; }

  bool Read(uint8_t* buffer, uint32_t count, uint32_t& done) override {
    if (!Usable(count, "read ")) return false;
    std::copy_n(drives_.disk.bytes.begin() + position_ * drives_.position_unit, count, buffer);
    if (drives_.read_back_differences > 0 && count > 0) {
      --drives_.read_back_differences;
      buffer[count / 2] ^= 0x01;
    }
    return Advance(count, done);
  }

  bool Write(const uint8_t* data, uint32_t count, uint32_t& done) override {
    if (!Usable(count, "write ")) return false;
    std::copy_n(data, count, drives_.disk.bytes.begin() + position_ * drives_.position_unit);
    return Advance(count, done);
  }

  bool FormatTracks(uint16_t cylinder, uint16_t head, uint16_t tracks) override {
    const std::string what = "format " + std::to_string(cylinder) + " " + std::to_string(head) +
                             " " + std::to_string(tracks);
    const uint32_t first = uint32_t{cylinder} * 2 + head;
    bool ok =
        open_ && head <= 1 && first + tracks <= kSimulatedTracks && !drives_.disk.write_protected;
    for (uint32_t track = first; ok && track < first + tracks; ++track) {
      ok = !drives_.bad_format_cylinders.count(static_cast<uint16_t>(track / 2));
    }
    if (!ok) return Log(what.substr(0, 7) + "failed" + what.substr(6), false);
    for (uint32_t track = first; track < first + tracks; ++track) {
      drives_.disk.formatted_tracks[track] = true;
      std::fill_n(drives_.disk.bytes.begin() + track * kSimulatedTrackBytes, kSimulatedTrackBytes,
                  0xF6);  // what a DOS format leaves in every sector
    }
    return Log(what, true);
  }

 private:
  // Open, inside the disk, whole units, every track touched formatted, and writable for a
  // write; logs "<what><position> <count>", or "<what>failed ..." when not.
  bool Usable(uint32_t count, const std::string& what) {
    const uint64_t offset = uint64_t{position_} * drives_.position_unit;
    bool ok = open_ && count % drives_.position_unit == 0 &&
              offset + count <= drives_.disk.bytes.size() &&
              (what == "read " || !drives_.disk.write_protected);
    for (uint64_t track = offset / kSimulatedTrackBytes;
         ok && count > 0 && track <= (offset + count - 1) / kSimulatedTrackBytes; ++track) {
      ok = drives_.disk.formatted_tracks[track];
    }
    return Log(
        what + (ok ? "" : "failed ") + std::to_string(position_) + " " + std::to_string(count), ok);
  }

  bool Advance(uint32_t count, uint32_t& done) {
    position_ += count / drives_.position_unit;
    done = count;
    return true;
  }

  bool Log(const std::string& entry, bool result) {
    drives_.operations.push_back(entry);
    return result;
  }

  SimulatedFloppyDrives& drives_;
  std::string name_;
  bool open_ = false;
  uint32_t position_ = 0;
};

}  // namespace

SimulatedDisk SimulatedDisk::Blank() {
  SimulatedDisk disk;
  disk.formatted_tracks.assign(kSimulatedTracks, false);
  return disk;
}

std::vector<std::string> SimulatedFloppyDrives::OperationsStartingWith(
    const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& entry : operations) {
    if (entry.rfind(prefix, 0) == 0) found.push_back(entry);
  }
  return found;
}

std::unique_ptr<FloppyDevice> SimulatedFloppyDrives::MakeDevice(uint8_t drive) {
  return std::make_unique<SimulatedDevice>(*this, drive);
}

}  // namespace floppyset::testing
