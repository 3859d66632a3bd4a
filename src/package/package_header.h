// The 54-byte setup package header that follows the executable image at SizeOfImage.
#pragma once

#include <array>
#include <cstdint>

#include "base/time.h"

namespace floppyset {

inline constexpr size_t kPackageHeaderSize = 54;

struct PackageHeader {
  uint16_t ArchiveKind = 0;  // 0: LHA archive; any other value: APST
  uint32_t DialogStyle = 0;  // 1: banner windows; 0: plain; other: plain main, banner extraction
  uint16_t BootDisk = 0;
  uint16_t VerifyAfterWrite = 0;
  uint16_t UnpackMode = 0;
  uint16_t AutostartMode = 0;
  uint32_t ArchiveSpace = 0;
  uint32_t UnpackedSpace = 0;
  uint16_t DiskCount = 0;
  CalendarTime CreationTime;  // UTC
  uint32_t ExpectedExeChecksum = 0;
  uint32_t ExpectedPackageChecksum = 0;
  uint16_t ProductNameLength = 0;
  uint16_t FinalMessageLength = 0;
  uint16_t InstallerNameLength = 0;
};

PackageHeader DecodePackageHeader(const uint8_t (&bytes)[kPackageHeaderSize]);
std::array<uint8_t, kPackageHeaderSize> EncodePackageHeader(const PackageHeader& header);

}  // namespace floppyset
