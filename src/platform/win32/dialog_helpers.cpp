#include "platform/win32/dialog_helpers.h"

#include <vector>

namespace floppyset {
namespace {

HFONT g_bold_font = nullptr;

HINSTANCE ProgramInstance() {
  return GetModuleHandleA(nullptr);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message != WM_COMMAND) return FALSE;
  // OK, and also Escape and the close box (IDCANCEL), which users expect to work.
  if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) EndDialog(dialog, 1);
  return TRUE;
}

}  // namespace

std::string LoadResourceString(int id) {
  std::vector<char> buffer(10000);
  const int length =
      LoadStringA(ProgramInstance(), static_cast<UINT>(id), buffer.data(), buffer.size());
  return length > 0 ? std::string(buffer.data(), length) : std::string();
}

void LoadCommonControls() {
  static bool loaded = false;
  if (loaded) return;
  loaded = true;
  HMODULE library = LoadLibraryA("COMCTL32.DLL");  // kept loaded for the whole process
  if (!library) return;
  using InitFn = void(WINAPI*)();
  FARPROC proc = GetProcAddress(library, "InitCommonControls");
  if (proc) reinterpret_cast<InitFn>(reinterpret_cast<void*>(proc))();
}

void MakeItemBold(HWND window, int control) {
  HWND item = GetDlgItem(window, control);
  if (!item) return;
  if (!g_bold_font) {
    const auto font = reinterpret_cast<HFONT>(SendMessageA(item, WM_GETFONT, 0, 0));
    LOGFONTA logfont;
    if (!font || GetObjectA(font, sizeof logfont, &logfont) != sizeof logfont) return;
    logfont.lfWeight = FW_BOLD;
    g_bold_font = CreateFontIndirectA(&logfont);
    if (!g_bold_font) return;
  }
  SendMessageA(item, WM_SETFONT, reinterpret_cast<WPARAM>(g_bold_font), TRUE);
}

void DeleteSharedBoldFont() {
  if (g_bold_font) DeleteObject(g_bold_font);
  g_bold_font = nullptr;
}

void SetDialogIcon(HWND window) {
  HICON icon = LoadIconA(ProgramInstance(), MAKEINTRESOURCEA(kIconWindow));
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

void RemoveCloseItem(HWND window) {
  RemoveMenu(GetSystemMenu(window, FALSE), SC_CLOSE, MF_BYCOMMAND);
}

void AddAboutItem(HWND window) {
  const std::string text = LoadResourceString(300);
  if (text.empty()) return;
  HMENU menu = GetSystemMenu(window, FALSE);
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, kAboutCommand, text.c_str());
}

INT_PTR PaintBannerStatic(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
}

void PumpDialogMessage(HWND dialog) {
  MSG message;
  if (!PeekMessageA(&message, dialog, 0, 0, PM_REMOVE)) return;
  if (!IsDialogMessageA(dialog, &message)) DispatchMessageA(&message);
}

void ShowAboutBox(HWND owner) {
  DialogBoxParamA(ProgramInstance(), MAKEINTRESOURCEA(100), owner, AboutDialogProc, 0);
}

}  // namespace floppyset
