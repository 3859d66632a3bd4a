// A simulated floppy drive for tests: a 1.44 MB disk in memory with faults that a test can
// script (unformatted tracks that refuse writes until formatted, write protection, format
// failures, read-back differences, a drive that will not open) and a record of every
// operation, so that a test can assert what reached the drive.
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
inline constexpr uint32_t kSimulatedDiskBytes = kSimulatedTracks * kSimulatedTrackBytes;

// The disk in the drive.
struct SimulatedDisk {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kSimulatedDiskBytes);
  std::vector<bool> formatted_tracks = std::vector<bool>(kSimulatedTracks, true);
  bool write_protected = false;

  // A disk straight from the box: no track is formatted.
  static SimulatedDisk Blank();
};

class SimulatedFloppyDrives : public FloppyDrives {
 public:
  // `floppy_drives`: the drive indexes that are floppy drives (0 = A:).
  explicit SimulatedFloppyDrives(std::set<uint8_t> floppy_drives = {0});

  // --- the medium and the faults (all drives share the one disk) ---
  SimulatedDisk disk;
  int open_failures = 0;                    // the next n opens fail; negative: every open
  std::string open_failure_text;            // why they fail (a volume lock refused)
  std::set<uint16_t> bad_format_cylinders;  // formats touching these cylinders fail
  int read_back_differences = 0;            // the next n reads return one byte changed
  uint32_t position_unit = 1;               // 512: positions are sector numbers (Windows 9x)

  // --- the record: "disk 1", "open A:", "write 0 18432", "write failed 0 18432",
  // "format 5 0 2", "format failed 5 0 2", "read 0 18432", "close" (positions in units) ---
  std::vector<std::string> operations;
  // Operations that start with `prefix`.
  std::vector<std::string> OperationsStartingWith(const std::string& prefix) const;

  // --- FloppyDrives ---
  bool IsFloppyDrive(uint8_t drive) override { return floppy_drives_.count(drive) != 0; }
  std::string Label(uint8_t drive) override;
  std::unique_ptr<FloppyDevice> MakeDevice(uint8_t drive) override;
  void BeginDisk(uint32_t disk_number) override;

 private:
  std::set<uint8_t> floppy_drives_;
};

}  // namespace floppyset::testing
