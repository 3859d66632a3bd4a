// Builds a flat image (file records and a closing zero record) from a directory tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace floppyset {

// One record per file below `directory` (paths with '\', times as FILETIME, attribute bits),
// then a 292-byte zero record. False with a message in `error` on a read failure or a path
// longer than 259 characters.
bool BuildFlatImage(const std::string& directory, std::vector<uint8_t>& image, std::string& error);

}  // namespace floppyset
