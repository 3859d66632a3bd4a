// The two integrity ("authenticity") checks of a package: the PE CheckSum against the
// header's ExpectedExeChecksum, and the sum * 3 + byte checksum of the workspace archive
// against ExpectedPackageChecksum.
#pragma once

#include <cstddef>
#include <cstdint>

#include <string>

#include "host/host.h"

namespace floppyset {

// Folds `size` bytes into `sum` by s = s * 3 + b (mod 2^32), each byte taken unsigned.
uint32_t PackageSum(const uint8_t* data, size_t size, uint32_t sum = 0);

// The sum of the workspace's "image.tii" (0 when it is absent or empty or cannot be mapped).
uint32_t ArchiveChecksum(const std::string& workspace, Host& host);

}  // namespace floppyset
