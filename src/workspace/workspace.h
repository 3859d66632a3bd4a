// The workspace: a private directory of the run in the temporary directory that holds the
// copy of the package's archive and the disk images extracted from it, and its clean-up.
#pragma once

#include <cstdint>
#include <string>

#include "base/outcome.h"
#include "host/host.h"

namespace floppyset {

// The workspace copy of the archive.
inline constexpr char kArchiveFileName[] = "image.tii";
// The prefix of workspace directory names.
inline constexpr char kWorkspacePrefix[] = "TII";

// Copies every byte from the program file's position to its end into
// workspace + "image.tii"; false when the copy could not be made in full.
bool CopyArchiveToWorkspace(const std::string& workspace, Host& host, File& program);

// Makes a new private directory `prefix` + an unpredictable decimal number in the temporary
// directory (Host::CreateTempDirectory); `out` holds it with a trailing separator. False,
// with `out` empty, when it could not be made.
bool CreateWorkspace(Host& host, const std::string& prefix, std::string& out);

// "image%02u.tii": the file name of disk image `index` (disk index + 1).
std::string DiskImageName(uint32_t index);
// The workspace (ending in a separator) + DiskImageName(index).
std::string DiskImagePath(const std::string& workspace, uint32_t index);
// The workspace + "image.tii".
std::string ArchivePath(const std::string& workspace);

// One line per disk image that is not intact, naming the disk, its file and the reason:
// "Disk image 2 (image01.tii) is missing: not in the archive." Empty for a whole set.
std::string DescribeLostImages(const SetAccount& images);
// DescribeLostImages, then a line for each fault found in an intact image.
std::string DescribeSetDamage(const SetAccount& images);
// The line of one disk image (index from 0) that is not intact.
std::string DescribeLostImage(uint32_t index, const ImageAccount& image);

// Deletes every file of the workspace (the images, "image.tii" and any other member of the
// archive); failures are ignored.
void DeleteWorkspaceFiles(const std::string& workspace, Host& host);

}  // namespace floppyset
