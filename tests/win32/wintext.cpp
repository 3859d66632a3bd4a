// wintext: reads and drives the windows of another program under Wine, as a tester would.
//   wait|gone TITLE [SECS], waitcontrol TITLE ID [SECS]: exit 0 once the window is there / gone
//   text|click|settext TITLE ID [TEXT], syscommand TITLE ID CMD, geometry TITLE [ID] (WxH+X+Y)
//   template EXE ID CX CY POINTS: shows dialog ID of EXE until the file WINTEXT_STOP exists;
//     exit 0 if its client area is CX x CY units
//   strings EXE: exit 0 if EXE's string table, loaded as the program does, is messages.def
// TITLE is exact and case-sensitive; ID is a control id or a control's exact text, and the
// window must hold that control. Commands on a window wait up to 10 s for it.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

LRESULT Ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 2000, &result)
             ? static_cast<LRESULT>(result)
             : 0;
}

const char* TextOf(HWND window) {
  static char text[65536];
  text[0] = 0;
  Ask(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

HWND FindControl(HWND window, const char* what) {
  if (*what >= '0' && *what <= '9') return GetDlgItem(window, std::atoi(what));
  HWND child = GetWindow(window, GW_CHILD);
  while (child && std::strcmp(TextOf(child), what)) child = GetWindow(child, GW_HWNDNEXT);
  return child;
}

struct Find {
  const char *title, *control;
  HWND window;
};

BOOL CALLBACK FindTop(HWND window, LPARAM lparam) {
  Find* find = reinterpret_cast<Find*>(lparam);
  char text[1024];
  // GetWindowText sends no message to another process: a busy window (dialog 105 during
  // its checks) is still found.
  if (!IsWindowVisible(window) || !GetWindowTextA(window, text, sizeof text) ||
      std::strcmp(text, find->title) || (find->control && !FindControl(window, find->control)))
    return TRUE;
  find->window = window;
  return FALSE;
}

// The window once it is there, or (present false) the desktop once it is gone; null: timeout.
HWND WaitFor(bool present, const char* title, const char* control, int seconds) {
  for (int ms = seconds * 1000; ms >= 0; ms -= 100, Sleep(100)) {
    Find find = {title, control, nullptr};
    EnumWindows(FindTop, reinterpret_cast<LPARAM>(&find));
    if ((find.window != nullptr) == present) return present ? find.window : GetDesktopWindow();
  }
  std::fprintf(stderr, "window \"%s\" %s\n", title, present ? "never came" : "stayed");
  return nullptr;
}

const DLGPROC kQuiet = [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; };

// Creates dialog `id` from the resources of `exe` as the program would, shows it until the
// file WINTEXT_STOP exists (for a screenshot) and compares its client area with the size
// that MapDialogRect gives CX x CY units in a probe dialog with MS Sans Serif of `points`.
int ShowTemplate(const char* exe, int id, int cx, int cy, int points) {
  if (HMODULE comctl = LoadLibraryA("COMCTL32.DLL")) {
    if (FARPROC init = GetProcAddress(comctl, "InitCommonControls"))
      reinterpret_cast<void(WINAPI*)()>(reinterpret_cast<void*>(init))();
  }
  struct alignas(4) Probe {
    DLGTEMPLATE header = {WS_POPUP | DS_SETFONT, 0, 0, 0, 0, 10, 10};
    WORD menu = 0, window_class = 0, title = 0, point_size;
    WCHAR face[14] = L"MS Sans Serif";
  } probe_template{.point_size = static_cast<WORD>(points)};
  HWND probe = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), &probe_template.header,
                                          nullptr, kQuiet, 0);
  RECT want = {0, 0, cx, cy}, client = {};
  if (probe) MapDialogRect(probe, &want), DestroyWindow(probe);
  HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HWND dialog =
      module ? CreateDialogParamA(module, MAKEINTRESOURCEA(id), nullptr, kQuiet, 0) : nullptr;
  if (!dialog) return std::fprintf(stderr, "no dialog %d in %s\n", id, exe), 1;
  ShowWindow(dialog, SW_SHOW);
  GetClientRect(dialog, &client);
  std::printf("client %ldx%ld, %dx%d units = %ldx%ld\n", client.right, client.bottom, cx, cy,
              want.right, want.bottom);
  std::fflush(stdout);
  const char* stop = std::getenv("WINTEXT_STOP");
  for (DWORD end = GetTickCount() + 30000;
       GetTickCount() < end && stop && GetFileAttributesA(stop) == INVALID_FILE_ATTRIBUTES;
       Sleep(20)) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
  return client.right != want.right || client.bottom != want.bottom;
}

int CheckStrings(const char* exe) {
  static const struct {
    UINT id;
    const char* text;
  } kMessages[] = {
#define FLOPPYSET_MESSAGE(id, symbol, text) {id, text},
#include "messages.def"
  };
  HMODULE program = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  int mismatches = 0;
  for (const auto& [id, text] : kMessages) {
    static char loaded[10000];
    const int length = program ? LoadStringA(program, id, loaded, sizeof loaded) : 0;
    if (length != static_cast<int>(std::strlen(text)) || std::strcmp(loaded, text))
      std::printf("string %u differs: \"%s\"\n", id, loaded), ++mismatches;
  }
  std::printf("%d of %zu strings as in messages.def\n",
              static_cast<int>(std::size(kMessages)) - mismatches, std::size(kMessages));
  return mismatches != 0;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // texts are printed exactly, "\r\n" and all
  if (argc < 3) return 2;
  const char* command = argv[1];
  if (!std::strcmp(command, "strings")) return CheckStrings(argv[2]);
  if (!std::strcmp(command, "template") && argc == 7)
    return ShowTemplate(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                        std::atoi(argv[6]));
  const bool waits = !std::strcmp(command, "wait") || !std::strcmp(command, "gone");
  if (waits || !std::strcmp(command, "waitcontrol")) {
    const int seconds = argc > 3 + !waits ? std::atoi(argv[3 + !waits]) : 10;
    return !WaitFor(std::strcmp(command, "gone") != 0, argv[2], waits ? nullptr : argv[3], seconds);
  }
  HWND window = WaitFor(true, argv[2], argc > 3 ? argv[3] : nullptr, 10);
  RECT rect;
  if (window && !std::strcmp(command, "geometry") && GetWindowRect(window, &rect))
    return std::printf("%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top,
                       rect.left, rect.top) < 0;
  HWND item = window && argc > 3 ? FindControl(window, argv[3]) : nullptr;
  if (!item) return 1;
  if (!std::strcmp(command, "text")) return std::fputs(TextOf(item), stdout) < 0;
  if (!std::strcmp(command, "click"))  // what a click on the button sends to its dialog
    return !PostMessageA(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(item), BN_CLICKED),
                         reinterpret_cast<LPARAM>(item));
  if (!std::strcmp(command, "settext") && argc == 5)
    return !Ask(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]));
  if (!std::strcmp(command, "syscommand") && argc == 5)
    return !PostMessageA(window, WM_SYSCOMMAND, std::atoi(argv[4]), 0);
  return 2;
}
