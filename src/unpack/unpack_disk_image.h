// Unpacks one disk image of the workspace into its disk directory below DestinationDir.
#pragma once

#include <cstdint>
#include <string>

#include "app/run_state.h"
#include "host/host.h"
#include "image/unpack_report.h"

namespace floppyset {

// DestinationDir + "disk<n>" + separator for the image of that 0-based index (disk n = index + 1).
std::string DiskDirectory(const RunState& state, uint32_t image_index);

// Unpacks image `image_index` (FAT12, or flat when PackageUnpackMode is non-zero) into its disk
// directory, which the caller has created. True when the image could be opened and unpacked
// in full; what was skipped or cut goes to `report`, and its `damage` says why an image that
// could be opened was not unpacked whole (no FAT12 layout, a flat list cut short).
bool UnpackDiskImage(const RunState& state, Host& host, uint32_t image_index,
                     UnpackReport* report = nullptr);

}  // namespace floppyset
