// Conversion of the 8-bit texts of a setup package (Windows ANSI and DOS OEM code pages) to
// UTF-8, for JSON and for terminals that speak UTF-8, and back for the builder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace floppyset {

inline constexpr int kAnsiCodePage = 1252;  // texts of the package header
inline constexpr int kOemCodePage = 437;    // names on the FAT12 disks

// True for the pages CodePageToUtf8 knows: 437, 850, 852, 866, 1250, 1251, 1252.
bool IsKnownCodePage(int code_page);

// `text` read in `code_page` as UTF-8. ASCII stays as it is; a byte the page leaves
// undefined, or any byte above 0x7F of an unknown page, becomes U+FFFD.
std::string CodePageToUtf8(std::string_view text, int code_page);

// For texts that mix package bytes with UTF-8 host paths (a message naming the destination):
// well-formed UTF-8 sequences are kept, every other byte is read in `code_page`.
std::string MixedToUtf8(std::string_view text, int code_page);

// The characters of UTF-8 `text`; nullopt when it is not well-formed UTF-8.
std::optional<std::u32string> DecodeUtf8(std::string_view text);

// One character as UTF-8.
std::string EncodeUtf8(char32_t code);

// UTF-16 `units` as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);

// The byte of `code_page` that stands for `code`; nullopt when the page has none.
std::optional<unsigned char> CodePageByte(char32_t code, int code_page);

// UTF-8 `text` in `code_page`. Nullopt when it is not UTF-8 (then `*missing` is U+FFFD) or a
// character has no byte in the page (then `*missing` is that character).
std::optional<std::string> Utf8ToCodePage(std::string_view text, int code_page,
                                          char32_t* missing = nullptr);

}  // namespace floppyset
