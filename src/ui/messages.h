// The string table: every user-visible text, loaded by id and formatted printf-style into
// the program's 10000-byte limits; sizes as "B", "KB", "MB" and "GB".
#pragma once

#include <cstdint>
#include <string>

#include "host/host.h"
#include "ui/ui.h"

namespace floppyset {

enum MessageId : int {
#define FLOPPYSET_MESSAGE(id, symbol, text) symbol = id,
#include "messages.def"
#undef FLOPPYSET_MESSAGE
};

// Every text buffer of the program holds 10000 bytes, its NUL included.
inline constexpr size_t kTextLimit = 10000;

// The text of a string id; a missing id gives an empty text.
std::string LoadMessage(int id);

// Where LoadMessage finds its texts. The Win32 program sets LoadStringA on its own string
// table, so that an edited or translated table in the .exe is what the user reads; it has
// no compiled-in copy. Elsewhere the copy compiled from messages.def serves by default.
using MessageLoader = std::string (*)(int id);
void SetMessageLoader(MessageLoader loader);

// printf-style formatting, cut to kTextLimit - 1 characters like the program's buffers.
std::string FormatText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Loads message `id` and formats it with the arguments (the formats are the table's own).
std::string FormatMessageId(int id, ...);

// A stop box of the program's own (a text outside the string table): caption "SETUP", OK, owned
// by no window. For refusals and failures the table has no message for.
void ShowStop(Ui& ui, std::string text);

// Byte counts in units of 1024: "0 B", "1023 B", "1 KB", "1.50 KB", "6.88 MB", "1 GB".
std::string FormatSize(int64_t count);

// True when the volume with that root has at least `required` bytes free or cannot be
// asked; otherwise false with the free bytes in `free_bytes`.
bool CheckFreeSpace(Host& host, const std::string& root, uint64_t required, uint64_t& free_bytes);

// True when `path` exists and, if `must_be_directory`, is a directory.
bool PathExists(Host& host, const std::string& path, bool must_be_directory);

}  // namespace floppyset
