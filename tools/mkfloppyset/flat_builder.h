// Builds a flat image (file records and a closing zero record) from a directory tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/codepage.h"

namespace floppyset {

// One record per file below `directory` (paths with '\' in `ansi_code_page`, times as
// FILETIME, attribute bits), then a 292-byte zero record. False with a message in `error` on a
// read failure, a character the code page lacks or a path longer than 259 characters.
bool BuildFlatImage(const std::string& directory, std::vector<uint8_t>& image, std::string& error,
                    int ansi_code_page = kAnsiCodePage);

}  // namespace floppyset
