// A simulated floppy drive: a 1.44 MB disk in memory with faults to script and a record of
// every operation that reached the drive.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "floppy/floppy_device.h"

namespace floppyset::testing {

inline constexpr uint32_t kSimulatedTrackBytes = 18 * 512;
inline constexpr uint32_t kSimulatedTracks = 80 * 2;

struct SimulatedDisk {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kSimulatedTracks * kSimulatedTrackBytes);
  std::vector<bool> formatted_tracks = std::vector<bool>(kSimulatedTracks, true);
  bool write_protected = false;

  static SimulatedDisk Blank();  // straight from the box: no track is formatted
};

class SimulatedFloppyDrives : public FloppyDrives {
 public:
  // `floppy_drives`: the drive indexes that are floppy drives (0 = A:).
  explicit SimulatedFloppyDrives(std::set<uint8_t> floppy_drives = {0})
      : floppy_drives_(std::move(floppy_drives)) {}

  // The one disk all drives share, and the faults: unformatted tracks refuse reads and writes.
  SimulatedDisk disk;
  int open_failures = 0;                    // the next n opens fail; negative: every open
  std::string failure_text;                 // why a failed open or write failed
  std::set<uint16_t> bad_format_cylinders;  // formats touching these cylinders fail
  int read_back_differences = 0;            // the next n reads return one byte changed
  uint32_t position_unit = 1;               // 512: positions are sector numbers (Windows 9x)

  // "disk 1", "open A:", "open failed A:", "write 0 18432", "write failed 0 18432",
  // "format 5 0 2", "format failed 5 0 2", "read 0 18432", "close" (positions in units).
  std::vector<std::string> operations;
  std::vector<std::string> OperationsStartingWith(const std::string& prefix) const;

  bool IsFloppyDrive(uint8_t drive) override { return floppy_drives_.count(drive) != 0; }
  std::string Label(uint8_t drive) override { return std::string(1, char('A' + drive)) + ":\\"; }
  std::unique_ptr<FloppyDevice> MakeDevice(uint8_t drive) override;
  void BeginDisk(uint32_t disk) override { operations.push_back("disk " + std::to_string(disk)); }

 private:
  std::set<uint8_t> floppy_drives_;
};

}  // namespace floppyset::testing
