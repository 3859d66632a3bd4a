// The workspace: a private directory of the run in the temporary directory that holds the
// copy of the package's archive and the disk images extracted from it, and its clean-up.
#pragma once

#include <cstdint>
#include <string>

#include "app/run_state.h"
#include "host/host.h"

namespace floppyset {

// The workspace copy of the archive.
inline constexpr char kArchiveFileName[] = "image.tii";
// The prefix of workspace directory names.
inline constexpr char kWorkspacePrefix[] = "TII";

// Copies every byte from the program file's position to its end into
// WorkspaceDir + "image.tii"; false when the copy could not be made in full.
bool CopyArchiveToWorkspace(const RunState& state, Host& host, File& program);

// Makes a new private directory `prefix` + an unpredictable decimal number in the temporary
// directory (Host::CreateTempDirectory); `out` holds it with a trailing separator. False,
// with `out` empty, when it could not be made.
bool CreateWorkspace(Host& host, const std::string& prefix, std::string& out);

// "image%02u.tii": the file name of disk image `index` (disk index + 1).
std::string DiskImageName(uint32_t index);
// WorkspaceDir + DiskImageName(index).
std::string DiskImagePath(const RunState& state, uint32_t index);
// WorkspaceDir + "image.tii".
std::string ArchivePath(const RunState& state);

// Deletes every file of the workspace (the images, "image.tii" and any other member of the
// archive); failures are ignored.
void DeleteWorkspaceFiles(const RunState& state, Host& host);

}  // namespace floppyset
