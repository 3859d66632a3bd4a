// The one record of a run: filled at start-up on the user-interface thread, read by the
// worker. While the worker runs only the worker writes CompletionMessage, DestinationDir,
// UnpackFailed and SelectedFloppyDrive; the UI thread reads them after waiting for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/outcome.h"
#include "package/package_header.h"

namespace floppyset {

// ReportFlags bits.
inline constexpr uint16_t kFlagSingleDisk = 1;  // /C:n
inline constexpr uint16_t kFlagList = 2;        // /L
inline constexpr uint16_t kFlagProduct = 4;     // /P
inline constexpr uint16_t kFlagAuth = 8;        // /A

struct RunState {
  std::string ProgramPath;     // the setup program file
  std::string WorkspaceDir;    // ends in a separator once made
  std::string DestinationDir;  // ends in a separator once chosen

  PackageHeader Header;            // UnpackMode and AutostartMode as changed by the switches
  uint16_t PackageUnpackMode = 0;  // UnpackMode as stored: non-zero means flat images
  uint32_t PeCheckSum = 0;         // CheckSum of the program file's PE optional header
  bool PackageFound = false;       // the header and strings were read from the program file
  bool PackagePlausible = false;   // ... and what they lie in looks like a package (JudgePackage)
  // Set by a front end that is given other programs' files (the Linux tool): a file without a
  // plausible package is then refused as not a setup program, before any check. The Win32
  // program carries its own package and blames a missing one on the file (536).
  bool RequirePlausiblePackage = false;

  std::string ProductName;
  std::string InstallerName;
  std::string FinalMessage;
  std::string CompletionMessage;
  uint16_t ReportFlags = 0;
  uint16_t SilentMode = 0;
  uint16_t WaitDialog = 0;
  uint16_t SingleDiskNumber = 0;
  uint16_t UnpackFailed = 0;
  uint32_t PackageChecksum = 0;
  uint8_t SelectedFloppyDrive = 0;  // 0 = A:

  // The POSIX front end starts the installer only through a runner of the user's choice
  // (for example "wine"), which gets the installer's full path; without one nothing is
  // started (InstallerNeedsRunner). Both unset on Win32, which starts the installer itself.
  std::string InstallerRunner;
  bool InstallerNeedsRunner = false;
  bool FloppySwitch = false;  // /F chose the floppy run, not the header
  // The single-instance lock guards only runs that write or unpack: a report only reads,
  // in a private workspace (the Linux tool; Win32 locks every run, as the program does).
  bool LockWritingRunsOnly = false;
  // Extraction goes on past a damaged member to the members behind it (Linux --salvage).
  bool SalvageMembers = false;
  // The disk images after extraction, one per disk; empty before it. Members stepped over
  // are listed with their reasons in SkippedMembers.
  SetAccount Images;
  std::vector<std::string> SkippedMembers;
  // A front end whose output is UTF-8 names the code pages of the package's texts here, and
  // the reports and the names of unpacked files convert them (0: the bytes as stored, as the
  // Win32 program shows and writes them).
  int TextAnsiCodePage = 0;  // header texts and flat-image paths
  int TextOemCodePage = 0;   // names on FAT12 disks

  // Whether disk image `index` came out whole (every image does before extraction has run).
  bool ImageIntact(uint32_t index) const {
    return Images.empty() ||
           (index < Images.size() && Images[index].condition == ImageCondition::kIntact);
  }
  bool SetWhole() const { return IsWhole(Images); }
  bool SetSound() const { return IsSound(Images); }

  // Report mode: any flag but /C:n.
  bool IsReportMode() const { return ReportFlags >= 2; }
  // Autostart: unpack, autostart and an installer name, after the switches.
  bool IsAutostart() const {
    return Header.UnpackMode != 0 && Header.AutostartMode != 0 && Header.InstallerNameLength != 0;
  }
};

}  // namespace floppyset
