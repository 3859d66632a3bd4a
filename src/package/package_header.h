// The 54-byte setup package header that follows the executable image at SizeOfImage.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "base/time.h"

namespace floppyset {

inline constexpr size_t kPackageHeaderSize = 54;
// FinalMessage lives in a 10000-byte buffer, its NUL included.
inline constexpr uint16_t kFinalMessageLimit = 10000;
// The archive bytes that show its kind: an LHA member header keeps its level in its 21st.
inline constexpr size_t kArchiveSignatureSize = 21;

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

// What lies at SizeOfImage, judged without reading the archive: a package, or why not. The
// flags, DialogStyle and DiskCount are not judged: other builders set them as they please,
// and a DiskCount of 0 is a damaged set, not another program's bytes.
enum class PackageVerdict {
  kPlausible,
  kOutsideFile,          // the header or its strings run past the end of the file
  kFinalMessageTooLong,  // longer than its buffer
  kEmptyArchive,         // nothing behind the strings
  kNoArchiveSignature,   // no "APST" (ArchiveKind != 0), no LHA member header (ArchiveKind 0)
};

// `header` as read at `package_offset` of a file of `file_size` bytes; `archive_head` holds
// the archive's first bytes, kArchiveSignatureSize of them or as many as the file has.
PackageVerdict JudgePackage(const PackageHeader& header, uint64_t package_offset,
                            uint64_t file_size, std::span<const uint8_t> archive_head);

PackageHeader DecodePackageHeader(const uint8_t (&bytes)[kPackageHeaderSize]);
std::array<uint8_t, kPackageHeaderSize> EncodePackageHeader(const PackageHeader& header);

}  // namespace floppyset
