// Writes LHA archives of stored (-lh0-) members with level-1 headers and no extended headers,
// the form that LzhReader extracts and common LHA tools list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace floppyset {

struct LzhMember {
  std::string name;
  std::vector<uint8_t> data;
  // MS-DOS time in the low 16 bits, date in the high 16 bits; 0 is written as 1980-01-01
  // 00:00, because a zero date is no valid date and some LHA tools refuse it.
  uint32_t dos_time_date = 0;
};

// The longest name that fits a header whose size is one byte.
inline constexpr size_t kMaxLzhNameLength = 255 - 25;

// The whole archive: one header (25 + name length bytes after the first two) and the stored
// data per member, then a single 0 byte. Empty when a name is empty or longer than
// kMaxLzhNameLength, or a member holds 4 GiB or more.
std::vector<uint8_t> WriteLh0Archive(const std::vector<LzhMember>& members);

}  // namespace floppyset
