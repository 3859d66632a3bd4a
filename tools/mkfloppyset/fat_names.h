// Names on FAT disks: the 8.3 form in the OEM code page that DOS and the reader see, and the
// VFAT long name beside it that later systems show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace floppyset {

inline constexpr size_t kSlotSize = 32;

struct FatName {
  std::string short_name;    // 11 bytes, blank-padded, as stored
  std::u16string long_name;  // empty when the short name says it all
  // Directory slots the name takes: its long-name slots and the entry itself.
  uint32_t SlotCount() const { return 1 + static_cast<uint32_t>((long_name.size() + 12) / 13); }
};

// The names of the entries of one directory (UTF-8, in this order) on a FAT disk whose short
// names are in `oem_code_page`: a name that fits 8.3 keeps it, upper-cased; any other gets
// the short form Windows gives (LONGFI~1.TXT), unique in the directory. False with a reason
// naming the entry (its name after `where`) when a name cannot be stored.
bool MakeFatNames(const std::vector<std::string>& names, const std::string& where,
                  int oem_code_page, std::vector<FatName>& out, std::string& error);

// The short name as the reader shows it ("LONGFI~1.TXT"), still in the code page.
std::string ShortNameText(const std::string& short_name);

// Writes the long-name slots of `name` (SlotCount() - 1 of them) from `slots` onward.
void WriteLongNameSlots(uint8_t* slots, const FatName& name);

}  // namespace floppyset
