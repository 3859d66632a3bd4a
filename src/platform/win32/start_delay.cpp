#include "platform/win32/start_delay.h"

#include <windows.h>

#include <atomic>

namespace floppyset {
namespace {

constexpr int kDialogStartDelay = 108;

// Plain shared handles: each is written by one thread before the thread that reads it is
// released (the start signal before the notice thread starts, the delay window before the
// watcher starts).
HANDLE g_start_signal = nullptr;
std::atomic<HWND> g_delay_window{nullptr};

DWORD WINAPI InstallerStartWatcher(LPVOID) {
  HANDLE installer = CreateSemaphoreA(nullptr, 0, 1, "TavelotSetupSemaphore");
  // The installer semaphore exists now, so the installer cannot release it unseen.
  if (g_start_signal) ReleaseSemaphore(g_start_signal, 1, nullptr);
  if (installer) {
    WaitForSingleObject(installer, INFINITE);
    CloseHandle(installer);
  }
  HWND window = g_delay_window.load();
  if (window && IsWindow(window)) SendMessageA(window, WM_COMMAND, IDOK, 0);
  return 0;
}

INT_PTR CALLBACK StartDelayDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    g_delay_window = dialog;
    DWORD id;  // Windows 95 refuses a null thread id
    HANDLE watcher = CreateThread(nullptr, 2048, InstallerStartWatcher, nullptr, 0, &id);
    if (watcher) {
      CloseHandle(watcher);
    } else {
      EndDialog(dialog, 1);
    }
  } else if (message == WM_COMMAND && LOWORD(wparam) == IDOK) {
    g_delay_window = nullptr;
    EndDialog(dialog, 1);
  }
  return FALSE;
}

DWORD WINAPI StartDelayThread(LPVOID) {
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kDialogStartDelay), nullptr,
                  StartDelayDialogProc, 0);
  return 0;
}

}  // namespace

void ShowStartDelayDialog() {
  g_start_signal = CreateSemaphoreA(nullptr, 0, 1, "TavelotDlgStarted");
  DWORD id;  // Windows 95 refuses a null thread id
  HANDLE thread = CreateThread(nullptr, 4096, StartDelayThread, nullptr, 0, &id);
  if (g_start_signal && thread) {
    // Also wake up when the notice thread ends without releasing the signal (the notice or
    // its watcher could not be started), so that the installer still starts.
    HANDLE waits[2] = {g_start_signal, thread};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  }
  if (thread) CloseHandle(thread);
  if (g_start_signal) CloseHandle(g_start_signal);
  g_start_signal = nullptr;
}

}  // namespace floppyset
