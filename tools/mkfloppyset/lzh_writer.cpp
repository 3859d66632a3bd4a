#include "mkfloppyset/lzh_writer.h"

#include <cstddef>

#include "codec/crc16.h"

namespace floppyset {
namespace {

void PutLe16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
  out[at] = static_cast<uint8_t>(value);
  out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

constexpr uint32_t kEarliestDosTime = 0x00210000;  // 1980-01-01 00:00

// Level-1 header without extended headers: size byte, checksum byte, then 25 + N bytes.
void AppendHeader(std::vector<uint8_t>& out, const LzhMember& member) {
  const size_t name_length = member.name.size();
  const size_t header_size = 25 + name_length;
  const size_t at = out.size();
  out.resize(at + 2 + header_size, 0);
  out[at] = static_cast<uint8_t>(header_size);
  const char method[] = "-lh0-";
  for (int i = 0; i < 5; ++i) out[at + 2 + i] = static_cast<uint8_t>(method[i]);
  const auto size = static_cast<uint32_t>(member.data.size());
  PutLe32(out, at + 7, size);   // compressed size
  PutLe32(out, at + 11, size);  // original size
  PutLe32(out, at + 15, member.dos_time_date != 0 ? member.dos_time_date : kEarliestDosTime);
  out[at + 19] = 0x20;  // reserved in level 1
  out[at + 20] = 1;     // header level
  out[at + 21] = static_cast<uint8_t>(name_length);
  for (size_t i = 0; i < name_length; ++i) out[at + 22 + i] = static_cast<uint8_t>(member.name[i]);
  PutLe16(out, at + 22 + name_length, Crc16Update(member.data.data(), member.data.size(), 0));
  out[at + 24 + name_length] = 'M';        // MS-DOS
  PutLe16(out, at + 25 + name_length, 0);  // no extended header
  uint8_t sum = 0;
  for (size_t i = 0; i < header_size; ++i) sum = static_cast<uint8_t>(sum + out[at + 2 + i]);
  out[at + 1] = sum;
}

}  // namespace

std::vector<uint8_t> WriteLh0Archive(const std::vector<LzhMember>& members) {
  for (const LzhMember& member : members) {
    if (member.name.empty() || member.name.size() > kMaxLzhNameLength ||
        member.data.size() > UINT32_MAX) {
      return {};
    }
  }
  std::vector<uint8_t> out;
  for (const LzhMember& member : members) {
    AppendHeader(out, member);
    out.insert(out.end(), member.data.begin(), member.data.end());
  }
  out.push_back(0);
  return out;
}

}  // namespace floppyset
