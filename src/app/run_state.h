// The one record of a run: filled at start-up on the user-interface thread, read by the
// worker. While the worker runs only the worker writes CompletionMessage, DestinationDir,
// UnpackFailed and SelectedFloppyDrive; the UI thread reads them after waiting for it.
#pragma once

#include <cstdint>
#include <string>

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
  // Set by a run that failed, to say what failed; shown at the end in place of
  // FinalMessage and CompletionMessage.
  std::string FailureMessage;

  uint16_t ReportFlags = 0;
  uint16_t SilentMode = 0;
  uint16_t WaitDialog = 0;
  uint16_t SingleDiskNumber = 0;
  uint16_t UnpackFailed = 0;
  uint32_t PackageChecksum = 0;
  uint8_t SelectedFloppyDrive = 0;  // 0 = A:

  // How the run ended, for the Linux tool's exit status (the Win32 program always exits 0).
  // Set by the run that saw it: a question or dialog the user cancelled, a disk image that
  // could not be extracted, unpacked or written.
  bool RunCancelled = false;
  bool RunFailed = false;

  // The POSIX front end starts the installer only through a runner of the user's choice
  // (for example "wine"), which gets the installer's full path; without one nothing is
  // started (InstallerNeedsRunner). Both unset on Win32, which starts the installer itself.
  std::string InstallerRunner;
  bool InstallerNeedsRunner = false;
  bool FloppyRunFailed = false;   // the floppy run refused the set (flat images, bad geometry)
  bool ExtractionFailed = false;  // the images from the failed member on are unusable
  // The member at which extraction stopped (its stored name: show it, never open it) and why
  // (an ExtractionResult code); 0 while nothing failed.
  std::string ExtractionFailedMember;
  int ExtractionFailureCode = 0;
  // A front end whose output is UTF-8 names the code pages of the package's texts here, and
  // the reports convert them (0: the bytes as stored, as the Win32 program shows them).
  int TextAnsiCodePage = 0;  // header texts and flat-image paths
  int TextOemCodePage = 0;   // names on FAT12 disks

  // Report mode: any flag but /C:n.
  bool IsReportMode() const { return ReportFlags >= 2; }
  // Autostart: unpack, autostart and an installer name, after the switches.
  bool IsAutostart() const {
    return Header.UnpackMode != 0 && Header.AutostartMode != 0 && Header.InstallerNameLength != 0;
  }
};

}  // namespace floppyset
