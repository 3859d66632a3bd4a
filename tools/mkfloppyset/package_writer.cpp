#include "mkfloppyset/package_writer.h"

#include <optional>

#include "base/bytes.h"
#include "base/time.h"
#include "codec/crc32.h"
#include "mkfloppyset/implode.h"
#include "mkfloppyset/lzh_writer.h"
#include "mkfloppyset/pe_stub.h"
#include "package/integrity.h"
#include "package/package_reader.h"

namespace floppyset {
namespace {

constexpr uint32_t kMemberAttributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE
constexpr uint64_t kSpaceUnit = 65536;

void Append(std::vector<uint8_t>& out, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  out.insert(out.end(), bytes, bytes + size);
}

void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
  uint8_t bytes[4];
  StoreLe32(bytes, value);
  Append(out, bytes, 4);
}

void AppendLe16(std::vector<uint8_t>& out, uint16_t value) {
  uint8_t bytes[2];
  StoreLe16(bytes, value);
  Append(out, bytes, 2);
}

// A stored string: the text and its NUL, or nothing at all for an empty text.
bool StoredLength(const std::string& text, const char* what, uint16_t& length, std::string& error) {
  if (text.find('\0') != std::string::npos || text.size() + 1 > 0xFFFF) {
    error = std::string(what) + " is too long or holds a NUL";
    return false;
  }
  length = text.empty() ? 0 : static_cast<uint16_t>(text.size() + 1);
  return true;
}

void AppendStored(std::vector<uint8_t>& out, const std::string& text) {
  if (!text.empty()) Append(out, text.c_str(), text.size() + 1);
}

// The DOS time (low word) and date (high word) of a UTC time, as LHA headers store them.
uint32_t DosTimeDate(const CalendarTime& t) {
  const uint32_t time = t.hour << 11 | t.minute << 5 | t.second / 2;
  const uint32_t date = (t.year - 1980) << 9 | t.month << 5 | t.day;
  return date << 16 | time;
}

std::vector<uint8_t> WriteLhaArchive(const std::vector<std::vector<uint8_t>>& images,
                                     const CalendarTime& created) {
  std::vector<LzhMember> members;
  for (size_t i = 0; i < images.size(); ++i) {
    LzhMember member;
    member.name = ArchiveMemberName(i);
    member.data = images[i];
    member.dos_time_date = DosTimeDate(created);
    members.push_back(std::move(member));
  }
  return WriteLh0Archive(members);
}

}  // namespace

PackageHeader PackageRecipe::DefaultPackageHeader() {
  PackageHeader header;
  header.ArchiveKind = 1;
  header.DialogStyle = 0;
  header.BootDisk = 0;
  header.VerifyAfterWrite = 1;
  header.UnpackMode = 0;
  header.AutostartMode = 1;
  return header;
}

std::string ArchiveMemberName(size_t index) {
  return DiskImageName(static_cast<uint32_t>(index));
}

uint32_t Crc32Of(const std::vector<uint8_t>& data) {
  return Crc32Update(data.data(), data.size(), 0xFFFFFFFF) ^ 0xFFFFFFFF;
}

std::vector<uint8_t> WriteApstArchive(const std::vector<std::vector<uint8_t>>& images,
                                      unsigned dictionary_bits, uint32_t modified_time) {
  std::vector<uint8_t> out = {'A', 'P', 'S', 'T', 0, 0, 0, 0};
  for (size_t i = 0; i < images.size(); ++i) {
    const std::string name = ArchiveMemberName(i);
    const std::vector<uint8_t> packed =
        Implode(images[i].data(), images[i].size(), dictionary_bits);
    Append(out, "$PKF", 4);
    AppendLe32(out, Crc32Of(images[i]));
    AppendLe16(out, 0);
    AppendLe16(out, static_cast<uint16_t>(name.size() + 1));
    AppendLe32(out, static_cast<uint32_t>(packed.size()));
    AppendLe32(out, kMemberAttributes);
    AppendLe32(out, modified_time);
    Append(out, name.c_str(), name.size() + 1);
    Append(out, packed.data(), packed.size());
  }
  return out;
}

bool BuildSetupProgram(std::vector<uint8_t> stub, const PackageRecipe& recipe,
                       const std::vector<std::vector<uint8_t>>& images,
                       std::vector<uint8_t>& program, std::string& error) {
  PackageHeader header = recipe.header;
  if (!StoredLength(recipe.product_name, "the product name", header.ProductNameLength, error) ||
      !StoredLength(recipe.final_message, "the final message", header.FinalMessageLength, error) ||
      !StoredLength(recipe.installer_name, "the installer name", header.InstallerNameLength,
                    error)) {
    return false;
  }
  if (header.FinalMessageLength > kFinalMessageLimit) {
    error = "the final message is longer than 9999 characters";
    return false;
  }
  if (images.size() > 0xFFFF) {
    error = "too many disk images";
    return false;
  }
  const std::optional<CalendarTime> created =
      FileTimeToCalendar(UnixSecondsToFileTime(recipe.created));
  if (!created || created->year < 1980 || created->year > 2106) {
    error = "the creation time is out of range";
    return false;
  }

  uint32_t exe_checksum = 0;
  if (!PrepareStub(stub, exe_checksum, error)) return false;

  const std::vector<uint8_t> archive =
      recipe.archive == ArchiveFormat::kApst
          ? WriteApstArchive(images, recipe.dictionary_bits, static_cast<uint32_t>(recipe.created))
          : WriteLhaArchive(images, *created);
  if (archive.empty()) {
    error = "the LHA archive cannot hold these images";
    return false;
  }
  uint64_t unpacked = 0;
  for (const auto& image : images) {
    unpacked += (image.size() + kSpaceUnit - 1) / kSpaceUnit * kSpaceUnit;
  }
  if (archive.size() + unpacked > 0xFFFFFFFFu) {
    error = "the package needs more than 4 GB of space";
    return false;
  }

  if (recipe.archive == ArchiveFormat::kLha) {
    header.ArchiveKind = 0;
  } else if (header.ArchiveKind == 0) {
    header.ArchiveKind = 1;
  }
  header.ArchiveSpace = static_cast<uint32_t>(archive.size());
  header.UnpackedSpace = static_cast<uint32_t>(unpacked);
  header.DiskCount = static_cast<uint16_t>(images.size());
  header.CreationTime = *created;
  header.ExpectedExeChecksum = exe_checksum;
  header.ExpectedPackageChecksum = PackageSum(archive.data(), archive.size());

  program = std::move(stub);
  const auto header_bytes = EncodePackageHeader(header);
  Append(program, header_bytes.data(), header_bytes.size());
  AppendStored(program, recipe.product_name);
  AppendStored(program, recipe.final_message);
  AppendStored(program, recipe.installer_name);
  Append(program, archive.data(), archive.size());
  return true;
}

}  // namespace floppyset
