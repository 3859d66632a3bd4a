// The notice shown while an autostarted installer starts (dialog 108, switch /W). The
// installer closes it by releasing the named semaphore "TavelotSetupSemaphore" once.
#pragma once

namespace floppyset {

// Shows dialog 108 on a thread of its own and returns once the watcher of the installer
// semaphore runs (or the notice could not be shown at all).
void ShowStartDelayDialog();

}  // namespace floppyset
