// floppyset.exe: the Win32 entry point. The core runs the whole program (RunProgram); this
// file checks the system version, names the program file and hands over the Win32 Host,
// Ui and floppy drives.
#include <windows.h>

#include "app/program.h"
#include "app/run_state.h"
#include "platform/win32/dialog_helpers.h"
#include "platform/win32/win32_floppy.h"
#include "platform/win32/win32_host.h"
#include "platform/win32/win32_ui.h"
#include "ui/messages.h"

namespace floppyset {
namespace {

constexpr int kMessageOldSystem = 538;

// Windows 95 and NT 4.0 are version 4; anything older is refused.
bool CheckOsVersion() {
  if ((GetVersion() & 0xFF) >= 4) return true;
  MessageBoxA(nullptr, LoadResourceString(kMessageOldSystem).c_str(), "Error", MB_ICONHAND);
  return false;
}

std::string ProgramFilePath() {
  char path[MAX_PATH] = "";
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return length < sizeof path ? std::string(path, length) : std::string();
}

}  // namespace
}  // namespace floppyset

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace floppyset;
  SetMessageLoader(&LoadResourceString);
  if (!CheckOsVersion()) return 0;
  RunState state;
  state.ProgramPath = ProgramFilePath();
  Win32Host host;
  Win32FloppyDrives drives;
  {
    Win32Ui ui;
    RunProgram(state, host, ui, drives, GetCommandLineA());
  }
  return 0;
}
