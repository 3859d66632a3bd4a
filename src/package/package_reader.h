// Reading the setup package behind the program's executable image: the PE fields that
// locate it, the 54-byte header and its three strings, the free-space test of the temporary
// drive; the archive is then copied into the workspace.
#pragma once

#include <cstdint>
#include <string>

#include "app/run_state.h"
#include "host/host.h"
#include "ui/ui.h"
#include "workspace/workspace.h"

namespace floppyset {

// Offsets of the PE headers as read from the program file.
inline constexpr size_t kDosHeaderSize = 64;
inline constexpr size_t kPeHeaderOffsetField = 60;  // e_lfanew
inline constexpr size_t kPeHeadersSize = 4 + 20 + 224;
inline constexpr size_t kOptionalHeaderOffset = 4 + 20;
inline constexpr size_t kSizeOfImageField = 56;  // within the optional header
inline constexpr size_t kCheckSumField = 64;     // within the optional header

// The two fields of the PE optional header that the program reads.
struct PeFields {
  uint32_t SizeOfImage = 0;
  uint32_t CheckSum = 0;
};

// Reads SizeOfImage and CheckSum of a program file (no signature test); false when the
// headers cannot be read in full.
bool ReadPeFields(File& program, PeFields& fields);

// Reads the package header and strings from RunState::ProgramPath, sets PackageFound when
// they were read (and PackagePlausible when they look like a package), and copies the archive
// into the workspace. With RequirePlausiblePackage an implausible package counts as none.
// False when the temporary drive lacks space (message 543 has been shown) or the copy failed
// (said so): start-up must stop.
bool ReadPackageHeader(RunState& state, Host& host, Ui& ui);

// Whether the file holds a plausible package, for a front end that never got to read it.
bool HoldsPlausiblePackage(Host& host, const std::string& program_path);

// True when the volume of the temporary directory has `required` bytes free or cannot be
// asked; otherwise shows message 543 and returns false.
bool CheckTempSpace(Host& host, Ui& ui, uint64_t required);

}  // namespace floppyset
