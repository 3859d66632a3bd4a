// wintext: reads and drives the windows of another program under Wine, as a tester would.
//   wintext                           list visible top-level windows, their controls and items
//   wintext wait TITLE [SECS]         exit 0 once a visible window titled TITLE exists
//   wintext gone TITLE [SECS]         exit 0 once no visible window is titled TITLE
//   wintext waitcontrol TITLE ID [SECS]  exit 0 once a window TITLE with control ID exists
//   wintext text TITLE ID             print the text of control ID (raw, no newline added)
//   wintext click TITLE BUTTON        press a button given by its text or control id
//   wintext settext TITLE ID TEXT     set the text of control ID
//   wintext geometry TITLE [ID]       print the window rectangle as WxH+X+Y (for import)
//   wintext checksize TITLE ID CX CY [POINTS]
//                                     exit 0 when the client area of window TITLE (that has
//                                     control ID) is CX x CY dialog units of MS Sans Serif
//   wintext syscommand TITLE ID CMD   post WM_SYSCOMMAND CMD to the window
//   wintext template EXE ID CX CY POINTS [SECS]
//                                     make dialog ID from the resources of EXE, show it for
//                                     SECS (or until the file WINTEXT_STOP exists) and
//                                     compare its client area with CX x CY units
// Commands on a window wait up to 10 s for it to appear.
// TITLE is exact and case-sensitive; ID is a control id or a control's exact text, and the
// window must also hold that control.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

LRESULT Ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 2000, &result)
             ? static_cast<LRESULT>(result)
             : 0;
}

void TextOf(HWND window, char* text, int size) {
  text[0] = 0;
  Ask(window, WM_GETTEXT, size, reinterpret_cast<LPARAM>(text));
}

BOOL CALLBACK ListChild(HWND child, LPARAM) {
  char cls[64], text[8192];
  RECT rect;
  GetClassNameA(child, cls, sizeof cls);
  TextOf(child, text, sizeof text);
  GetWindowRect(child, &rect);
  for (char* p = text; *p; ++p) {
    if (*p == '\r' || *p == '\n') *p = '|';
  }
  std::printf("  control id=%d class=%s rect=%ld,%ld,%ld,%ld visible=%d text=\"%s\"\n",
              GetDlgCtrlID(child), cls, rect.left, rect.top, rect.right - rect.left,
              rect.bottom - rect.top, IsWindowVisible(child) ? 1 : 0, text);
  const bool listbox = !lstrcmpiA(cls, "ListBox"), combo = !lstrcmpiA(cls, "ComboBox");
  if (!listbox && !combo) return TRUE;
  const LRESULT count = Ask(child, listbox ? LB_GETCOUNT : CB_GETCOUNT, 0, 0);
  const LRESULT selected = Ask(child, listbox ? LB_GETCURSEL : CB_GETCURSEL, 0, 0);
  for (LRESULT i = 0; i < count && i < 1000; ++i) {
    WCHAR wide[1024] = L"";  // the A form comes back as UTF-16 across processes
    DWORD_PTR ignored;
    SendMessageTimeoutW(child, listbox ? LB_GETTEXT : CB_GETLBTEXT, i,
                        reinterpret_cast<LPARAM>(wide), SMTO_ABORTIFHUNG, 2000, &ignored);
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    std::printf("    item %d%s \"%s\"\n", static_cast<int>(i), i == selected ? " selected" : "",
                text);
  }
  return TRUE;
}

BOOL CALLBACK ListTop(HWND window, LPARAM) {
  if (!IsWindowVisible(window)) return TRUE;
  char cls[64], text[1024];
  RECT client;
  GetClassNameA(window, cls, sizeof cls);
  GetWindowTextA(window, text, sizeof text);
  GetClientRect(window, &client);
  std::printf("window title=\"%s\" class=%s client=%ldx%ld\n", text, cls, client.right,
              client.bottom);
  EnumChildWindows(window, ListChild, 0);
  return TRUE;
}

HWND FindControl(HWND window, const char* what);

struct Find {
  const char* title;
  const char* control;  // an id or an exact text; null: any window with the title
  HWND window;
};

BOOL CALLBACK FindTop(HWND window, LPARAM lparam) {
  Find* find = reinterpret_cast<Find*>(lparam);
  char text[1024];
  if (!IsWindowVisible(window)) return TRUE;
  // The title is read without a message, so that a window that is busy (as dialog 105
  // during its checks) is still found.
  GetWindowTextA(window, text, sizeof text);
  if (std::strcmp(text, find->title) != 0) return TRUE;
  if (find->control && !FindControl(window, find->control)) return TRUE;
  find->window = window;
  return FALSE;
}

HWND FindWindowTitled(const char* title, const char* control = nullptr) {
  Find find = {title, control, nullptr};
  EnumWindows(FindTop, reinterpret_cast<LPARAM>(&find));
  return find.window;
}

HWND FindControl(HWND window, const char* what) {
  if (*what >= '0' && *what <= '9') return GetDlgItem(window, std::atoi(what));
  char text[8192];
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    TextOf(child, text, sizeof text);
    if (!std::strcmp(text, what)) return child;
  }
  return nullptr;
}

bool WaitFor(bool present, const char* title, const char* control, int seconds) {
  for (int ms = seconds * 1000; ms >= 0; ms -= 100, Sleep(100)) {
    if ((FindWindowTitled(title, control) != nullptr) == present) return true;
  }
  std::fprintf(stderr, "window \"%s\" %s\n", title, present ? "never came" : "stayed");
  return false;
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

// The pixel size of CX x CY dialog units in a dialog with MS Sans Serif of `points`: made
// with a hidden dialog of our own, so that the system's own MapDialogRect does the sums.
SIZE DialogUnitsToPixels(int cx, int cy, int points) {
  struct alignas(4) Template {
    DLGTEMPLATE header;
    WORD menu, window_class, title, point_size;
    WCHAR face[14];
  } dialog_template = {};
  dialog_template.header.style = WS_POPUP | DS_SETFONT;
  dialog_template.header.cx = 10;
  dialog_template.header.cy = 10;
  dialog_template.point_size = static_cast<WORD>(points);
  std::memcpy(dialog_template.face, L"MS Sans Serif", sizeof(L"MS Sans Serif"));
  HWND probe = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), &dialog_template.header,
                                          nullptr, QuietDialogProc, 0);
  RECT rect = {0, 0, cx, cy};
  if (probe) {
    MapDialogRect(probe, &rect);
    DestroyWindow(probe);
  }
  return SIZE{rect.right, rect.bottom};
}

// Creates dialog `id` from the resources of `exe` as the program would, shows it for
// `seconds` (for a screenshot) and compares its client area with CX x CY dialog units.
int ShowTemplate(const char* exe, int id, int cx, int cy, int points, int seconds) {
  if (HMODULE comctl = LoadLibraryA("COMCTL32.DLL")) {
    using InitFn = void(WINAPI*)();
    FARPROC init = GetProcAddress(comctl, "InitCommonControls");
    if (init) reinterpret_cast<InitFn>(reinterpret_cast<void*>(init))();
  }
  HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HWND dialog = module
                    ? CreateDialogParamA(module, MAKEINTRESOURCEA(id), nullptr, QuietDialogProc, 0)
                    : nullptr;
  if (!dialog) {
    std::fprintf(stderr, "dialog %d cannot be made from %s\n", id, exe);
    return 1;
  }
  ShowWindow(dialog, SW_SHOW);
  RECT client;
  GetClientRect(dialog, &client);
  const SIZE expected = DialogUnitsToPixels(cx, cy, points);
  std::printf("dialog %d: client %ldx%ld, %dx%d dialog units = %ldx%ld\n", id, client.right,
              client.bottom, cx, cy, expected.cx, expected.cy);
  std::fflush(stdout);
  // Shown until SECS have passed or the file named by WINTEXT_STOP exists.
  const char* stop = std::getenv("WINTEXT_STOP");
  for (DWORD end = GetTickCount() + seconds * 1000; GetTickCount() < end;) {
    if (stop && GetFileAttributesA(stop) != INVALID_FILE_ATTRIBUTES) break;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(20);
  }
  DestroyWindow(dialog);
  return client.right == expected.cx && client.bottom == expected.cy ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // texts are printed exactly, "\r\n" and all
  if (argc == 1) {
    EnumWindows(ListTop, 0);
    return 0;
  }
  const char* command = argv[1];
  const int seconds_arg = argc > 3 ? std::atoi(argv[3]) : 10;
  if (!std::strcmp(command, "wait") && argc >= 3) {
    return WaitFor(true, argv[2], nullptr, seconds_arg) ? 0 : 1;
  }
  if (!std::strcmp(command, "gone") && argc >= 3) {
    return WaitFor(false, argv[2], nullptr, seconds_arg) ? 0 : 1;
  }
  if (!std::strcmp(command, "waitcontrol") && argc >= 4) {
    return WaitFor(true, argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 10) ? 0 : 1;
  }
  if (!std::strcmp(command, "template") && argc >= 7) {
    return ShowTemplate(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                        std::atoi(argv[6]), argc > 7 ? std::atoi(argv[7]) : 3);
  }
  if (argc < 3) return 2;
  // A control named after the title also picks the window among same-titled ones.
  // The window may still be on its way: look for it for up to 10 seconds.
  HWND window = nullptr;
  for (int tries = 100; !window && tries > 0; --tries) {
    window = FindWindowTitled(argv[2], argc > 3 ? argv[3] : nullptr);
    if (!window) Sleep(100);
  }
  if (!window) {
    std::fprintf(stderr, "no window \"%s\"\n", argv[2]);
    return 1;
  }
  if (!std::strcmp(command, "geometry")) {
    RECT rect;
    GetWindowRect(window, &rect);
    std::printf("%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left,
                rect.top);
    return 0;
  }
  if (!std::strcmp(command, "checksize") && argc >= 6) {
    RECT client;
    GetClientRect(window, &client);
    const SIZE expected = DialogUnitsToPixels(std::atoi(argv[4]), std::atoi(argv[5]),
                                              argc > 6 ? std::atoi(argv[6]) : 8);
    std::printf("client %ldx%ld, %sx%s dialog units = %ldx%ld\n", client.right, client.bottom,
                argv[4], argv[5], expected.cx, expected.cy);
    return client.right == expected.cx && client.bottom == expected.cy ? 0 : 1;
  }
  HWND item = argc > 3 ? FindControl(window, argv[3]) : nullptr;
  if (!item) {
    std::fprintf(stderr, "no control \"%s\" in window \"%s\"\n", argc > 3 ? argv[3] : "", argv[2]);
    return 1;
  }
  if (!std::strcmp(command, "text")) {
    static char text[65536];
    TextOf(item, text, sizeof text);
    std::fwrite(text, 1, std::strlen(text), stdout);
    return 0;
  }
  if (!std::strcmp(command, "click")) {  // what a click on the button sends to its dialog
    return PostMessageA(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(item), BN_CLICKED),
                        reinterpret_cast<LPARAM>(item))
               ? 0
               : 1;
  }
  if (!std::strcmp(command, "settext") && argc == 5) {
    return Ask(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4])) ? 0 : 1;
  }
  if (!std::strcmp(command, "syscommand") && argc == 5) {
    return PostMessageA(window, WM_SYSCOMMAND, std::atoi(argv[4]), 0) ? 0 : 1;
  }
  return 2;
}
