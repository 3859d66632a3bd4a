// Building a setup program file: stub, 54-byte package header, the three strings and the
// archive of disk images (APST with imploded "$PKF" members, or LHA with -lh0- members).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/package_header.h"

namespace floppyset {

enum class ArchiveFormat { kApst, kLha };

// Everything a package says. The header's computed fields (ArchiveKind, spaces, DiskCount,
// checksums, string lengths, CreationTime) are filled by BuildSetupProgram.
struct PackageRecipe {
  PackageHeader header = DefaultPackageHeader();
  std::string product_name;
  std::string final_message;                 // empty: none (FinalMessageLength 0)
  std::string installer_name = "SETUP.EXE";  // empty: no installer (InstallerNameLength 0)
  ArchiveFormat archive = ArchiveFormat::kApst;
  unsigned dictionary_bits = 6;  // 4, 5, 6: 1024, 2048, 4096 bytes
  int64_t created = 0;           // seconds since 1970-01-01 UTC

  // The fields a header has unless told otherwise: a floppy set, verified after writing,
  // with autostart when unpacked.
  static PackageHeader DefaultPackageHeader();
};

// The name of disk image `index` inside the archive: "image00.tii", "image01.tii"...
std::string ArchiveMemberName(size_t index);

// An APST archive holding one imploded member per image, named by ArchiveMemberName, with
// attributes 0x20 and `modified_time` (seconds since 1970).
std::vector<uint8_t> WriteApstArchive(const std::vector<std::vector<uint8_t>>& images,
                                      unsigned dictionary_bits, uint32_t modified_time);

// The CRC-32 of a whole buffer (initial value 0xFFFFFFFF, final complement).
uint32_t Crc32Of(const std::vector<uint8_t>& data);

// Appends the package to `stub` (padded to its SizeOfImage and given its PE checksum).
// False with a reason when the stub or the recipe cannot make a valid package.
bool BuildSetupProgram(std::vector<uint8_t> stub, const PackageRecipe& recipe,
                       const std::vector<std::vector<uint8_t>>& images,
                       std::vector<uint8_t>& program, std::string& error);

}  // namespace floppyset
