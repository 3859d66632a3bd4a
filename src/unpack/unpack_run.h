// The unpack run: choose the destination (dialog 106, or a fresh temporary directory in
// autostart), test its free space, and unpack disk k into DestinationDir + "disk<k>".
#pragma once

#include <cstdint>
#include <string>

#include "app/run_state.h"
#include "host/host.h"
#include "ui/ui.h"

namespace floppyset {

// The whole run, on the worker; leaves 509 in CompletionMessage unless autostart. A failure
// whose reason was not shown yet is for the closing message.
RunOutcome UnpackRun(RunState& state, Host& host, Ui& ui);

// The OK rule of the destination dialog: true (dialog ends with 1, DestinationDir set with
// its trailing separator) for an existing directory; otherwise asks 540 and, on Yes,
// creates the path and tries again, or shows 542. False keeps the dialog open.
bool AcceptDestination(RunState& state, Host& host, Ui& ui, const std::string& typed);

// Creates `path` and every missing parent; true when it is a directory afterwards.
bool CreateDirectoryPath(Host& host, const std::string& path);

// True when the destination's volume has `required` bytes free (or cannot be asked);
// otherwise shows 544, sets UnpackFailed and returns false.
bool CheckDestinationSpace(RunState& state, Host& host, Ui& ui, uint32_t required);

// In autostart: makes a fresh "TII" directory the destination and returns true.
bool ChooseAutostartDestination(RunState& state, Host& host);

}  // namespace floppyset
