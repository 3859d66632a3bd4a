#include "mkfloppyset/fat_names.h"

#include <cstdio>
#include <set>
#include <string_view>

#include "base/bytes.h"
#include "base/codepage.h"

namespace floppyset {
namespace {

constexpr size_t kMaxLongName = 255;  // UTF-16 units

// Upper case of the letters the DOS and Windows code pages hold; anything else as it is.
char32_t ToUpper(char32_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c == 0x131) return 'I';
  if (c == 0x17F) return 'S';
  const bool odd = c & 1;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return odd ? c - 1 : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return odd ? c : c - 1;
  if (c == 0x3C2) return 0x3A3;
  if ((c >= 0x3B1 && c <= 0x3C9) || (c >= 0x430 && c <= 0x44F)) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if (c == 0x491) return 0x490;
  return c;
}

std::u32string Upper(std::u32string text) {
  for (char32_t& c : text) c = ToUpper(c);
  return text;
}

std::string CharacterName(char32_t c) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  return (c < 0x20 ? std::string() : "'" + EncodeUtf8(c) + "' ") + "(" + code + ")";
}

std::u16string ToUtf16(const std::u32string& codes) {
  std::u16string out;
  for (const char32_t c : codes) {
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

// The 8.3 parts a long name suggests, upper-cased in the code page; `lossy` when anything
// had to be dropped or replaced, so that only a numbered tail can make the name.
struct Basis {
  std::string base, extension;
  bool lossy = false;
};

Basis BasisOf(const std::u32string& codes, int code_page) {
  Basis basis;
  size_t first = 0;
  while (first < codes.size() && codes[first] == '.') ++first;
  basis.lossy = first != 0;
  const size_t last_dot = codes.rfind(U'.');
  const size_t base_end =
      last_dot == std::u32string::npos || last_dot < first ? codes.size() : last_dot;
  for (size_t i = first; i < codes.size(); ++i) {
    if (i == base_end) continue;
    const char32_t c = codes[i];
    if (c == ' ' || c == '.') {
      basis.lossy = true;
      continue;
    }
    const std::optional<unsigned char> upper = CodePageByte(ToUpper(c), code_page);
    auto byte = static_cast<char>(upper ? *upper : *CodePageByte(c, code_page));
    if (std::u32string_view(U"+,;=[]").find(c) != std::u32string_view::npos) {
      byte = '_';
      basis.lossy = true;
    }
    (i < base_end ? basis.base : basis.extension) += byte;
  }
  if (basis.base.size() > 8 || basis.extension.size() > 3 || basis.base.empty()) {
    basis.lossy = true;
  }
  if (basis.extension.size() > 3) basis.extension.resize(3);
  return basis;
}

std::string Pack(const std::string& base, const std::string& extension) {
  std::string packed = base.substr(0, 8);
  packed.resize(8, ' ');
  packed += extension;
  packed.resize(11, ' ');
  if (static_cast<unsigned char>(packed[0]) == 0xE5) packed[0] = 0x05;  // E5 marks a free slot
  return packed;
}

// CON, NUL, COM1 ... with any extension: DOS and Windows take them for the device.
bool IsDosDeviceName(const std::u32string& name) {
  std::string stem;
  for (const char32_t c : name.substr(0, name.find(U'.'))) {
    if (c >= 0x80) return false;
    stem += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const std::set<std::string> kDevices = {"CON",  "PRN",  "AUX",  "NUL",  "CLOCK$", "COM1",
                                                 "COM2", "COM3", "COM4", "COM5", "COM6",   "COM7",
                                                 "COM8", "COM9", "LPT1", "LPT2", "LPT3",   "LPT4",
                                                 "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  return kDevices.count(stem) != 0;
}

}  // namespace

std::string ShortNameText(const std::string& short_name) {
  std::string base = short_name.substr(0, 8), extension = short_name.substr(8, 3);
  if (!base.empty() && base[0] == 0x05) base[0] = static_cast<char>(0xE5);
  while (!base.empty() && base.back() == ' ') base.pop_back();
  while (!extension.empty() && extension.back() == ' ') extension.pop_back();
  return extension.empty() ? base : base + "." + extension;
}

bool MakeFatNames(const std::vector<std::string>& names, const std::string& where,
                  int oem_code_page, std::vector<FatName>& out, std::string& error) {
  out.assign(names.size(), FatName{});
  std::vector<Basis> bases(names.size());
  std::set<std::u32string> upper_names;
  for (size_t n = 0; n < names.size(); ++n) {
    const std::string quoted = "\"" + where + names[n] + "\"";
    const std::optional<std::u32string> codes = DecodeUtf8(names[n]);
    if (!codes || codes->empty()) {
      error = quoted + " is not a UTF-8 name";
      return false;
    }
    for (const char32_t c : *codes) {
      if (c < 0x20 || std::u32string_view(U"\"*/:<>?\\|").find(c) != std::u32string_view::npos) {
        error = quoted + ": the character " + CharacterName(c) + " is not allowed in FAT names";
        return false;
      }
      if (!CodePageByte(c, oem_code_page)) {
        error = quoted + ": the character " + CharacterName(c) +
                " has no equivalent in code page " + std::to_string(oem_code_page);
        return false;
      }
    }
    if (IsDosDeviceName(*codes)) {
      error = quoted + " is the name of a DOS device, which DOS opens instead of the file";
      return false;
    }
    if (codes->back() == '.' || codes->back() == ' ') {
      error = quoted + " ends with a dot or a blank, which FAT names cannot";
      return false;
    }
    const std::u16string utf16 = ToUtf16(*codes);
    if (utf16.size() > kMaxLongName) {
      error = quoted + " is longer than the 255 characters of a FAT name";
      return false;
    }
    if (!upper_names.insert(Upper(*codes)).second) {
      error = quoted + " differs from another name of its folder only in case, which FAT " +
              "names cannot tell apart";
      return false;
    }
    bases[n] = BasisOf(*codes, oem_code_page);
    // Names that are not plain ASCII keep a long name too, so that a reader in another code
    // page still shows them right.
    bool ascii = true;
    for (const char32_t c : *codes) ascii = ascii && c < 0x80;
    const std::string shown =
        bases[n].base + (bases[n].extension.empty() ? "" : ".") + bases[n].extension;
    if (bases[n].lossy || !ascii || shown != names[n]) out[n].long_name = utf16;
  }
  // Names that fit 8.3 first, so that a numbered name never takes the place of one.
  std::set<std::string> taken;
  for (size_t n = 0; n < names.size(); ++n) {
    if (bases[n].lossy) continue;
    const std::string packed = Pack(bases[n].base, bases[n].extension);
    if (taken.insert(packed).second) {
      out[n].short_name = packed;
    } else {
      bases[n].lossy = true;
      out[n].long_name = ToUtf16(*DecodeUtf8(names[n]));
    }
  }
  for (size_t n = 0; n < names.size(); ++n) {
    if (!bases[n].lossy) continue;
    for (unsigned number = 1; out[n].short_name.empty(); ++number) {
      const std::string tail = "~" + std::to_string(number);
      const std::string packed =
          Pack(bases[n].base.substr(0, 8 - tail.size()) + tail, bases[n].extension);
      if (taken.insert(packed).second) out[n].short_name = packed;
    }
  }
  return true;
}

void WriteLongNameSlots(uint8_t* slots, const FatName& name) {
  uint8_t checksum = 0;
  for (const char c : name.short_name) {
    checksum =
        static_cast<uint8_t>(((checksum & 1) << 7) + (checksum >> 1) + static_cast<uint8_t>(c));
  }
  static constexpr size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  const uint32_t count = name.SlotCount() - 1;
  for (uint32_t piece = 0; piece < count; ++piece) {
    // The last piece comes first on the disk, marked 0x40.
    uint8_t* slot = slots + (count - 1 - piece) * kSlotSize;
    slot[0] = static_cast<uint8_t>((piece + 1) | (piece + 1 == count ? 0x40 : 0));
    slot[11] = 0x0F;
    slot[12] = 0;
    slot[13] = checksum;
    StoreLe16(slot + 26, 0);
    for (size_t i = 0; i < 13; ++i) {
      const size_t at = piece * 13 + i;
      // The name ends with a 0 when it leaves room; the rest is filled with 0xFFFF.
      const uint16_t unit = at < name.long_name.size()    ? name.long_name[at]
                            : at == name.long_name.size() ? 0
                                                          : 0xFFFF;
      StoreLe16(slot + kOffsets[i], unit);
    }
  }
}

}  // namespace floppyset
