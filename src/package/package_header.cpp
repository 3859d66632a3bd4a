#include "package/package_header.h"

#include <cstring>

#include "base/bytes.h"

namespace floppyset {
namespace {

// "APST" at the start of an APST archive; an LHA archive starts with a member header of
// level 0, 1 or 2, all of which keep the method id ("-lh5-", "-lh0-", "-lzs-" ...) at offset 2
// and the level at offset 20.
bool HasArchiveSignature(uint16_t archive_kind, std::span<const uint8_t> head) {
  if (archive_kind != 0) return head.size() >= 4 && std::memcmp(head.data(), "APST", 4) == 0;
  return head.size() >= kArchiveSignatureSize && head[2] == '-' && head[3] == 'l' &&
         head[6] == '-' && head[20] <= 2;
}

}  // namespace

PackageVerdict JudgePackage(const PackageHeader& header, uint64_t package_offset,
                            uint64_t file_size, std::span<const uint8_t> archive_head) {
  const uint64_t archive_offset = package_offset + kPackageHeaderSize + header.ProductNameLength +
                                  header.FinalMessageLength + header.InstallerNameLength;
  if (archive_offset > file_size) return PackageVerdict::kOutsideFile;
  if (header.FinalMessageLength > kFinalMessageLimit) return PackageVerdict::kFinalMessageTooLong;
  if (archive_offset == file_size) return PackageVerdict::kEmptyArchive;
  if (!HasArchiveSignature(header.ArchiveKind, archive_head)) {
    return PackageVerdict::kNoArchiveSignature;
  }
  return PackageVerdict::kPlausible;
}

PackageHeader DecodePackageHeader(const uint8_t (&b)[kPackageHeaderSize]) {
  PackageHeader h;
  h.ArchiveKind = LoadLe16(b + 0);
  h.DialogStyle = LoadLe32(b + 2);
  h.BootDisk = LoadLe16(b + 6);
  h.VerifyAfterWrite = LoadLe16(b + 8);
  h.UnpackMode = LoadLe16(b + 10);
  h.AutostartMode = LoadLe16(b + 12);
  h.ArchiveSpace = LoadLe32(b + 14);
  h.UnpackedSpace = LoadLe32(b + 18);
  h.DiskCount = LoadLe16(b + 22);
  CalendarTime& t = h.CreationTime;
  uint16_t* const fields[] = {&t.year, &t.month,  &t.day_of_week, &t.day,
                              &t.hour, &t.minute, &t.second,      &t.milliseconds};
  for (int i = 0; i < 8; ++i) *fields[i] = LoadLe16(b + 24 + 2 * i);
  h.ExpectedExeChecksum = LoadLe32(b + 40);
  h.ExpectedPackageChecksum = LoadLe32(b + 44);
  h.ProductNameLength = LoadLe16(b + 48);
  h.FinalMessageLength = LoadLe16(b + 50);
  h.InstallerNameLength = LoadLe16(b + 52);
  return h;
}

std::array<uint8_t, kPackageHeaderSize> EncodePackageHeader(const PackageHeader& h) {
  std::array<uint8_t, kPackageHeaderSize> out{};
  uint8_t* b = out.data();
  StoreLe16(b + 0, h.ArchiveKind);
  StoreLe32(b + 2, h.DialogStyle);
  StoreLe16(b + 6, h.BootDisk);
  StoreLe16(b + 8, h.VerifyAfterWrite);
  StoreLe16(b + 10, h.UnpackMode);
  StoreLe16(b + 12, h.AutostartMode);
  StoreLe32(b + 14, h.ArchiveSpace);
  StoreLe32(b + 18, h.UnpackedSpace);
  StoreLe16(b + 22, h.DiskCount);
  const CalendarTime& t = h.CreationTime;
  const uint16_t fields[] = {t.year, t.month,  t.day_of_week, t.day,
                             t.hour, t.minute, t.second,      t.milliseconds};
  for (int i = 0; i < 8; ++i) StoreLe16(b + 24 + 2 * i, fields[i]);
  StoreLe32(b + 40, h.ExpectedExeChecksum);
  StoreLe32(b + 44, h.ExpectedPackageChecksum);
  StoreLe16(b + 48, h.ProductNameLength);
  StoreLe16(b + 50, h.FinalMessageLength);
  StoreLe16(b + 52, h.InstallerNameLength);
  return out;
}

}  // namespace floppyset
