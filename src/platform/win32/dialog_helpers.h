// Small window operations shared by the dialogs of the Win32 program: strings and icons
// from the resources, the shared bold title font, the system-menu items, the white banner
// and the one-message pump of a dialog that does its work inside a command handler.
#pragma once

#include <windows.h>

#include <string>

namespace floppyset {

// Resource ids of the program file.
inline constexpr int kIconProgram = 130;   // shown in the dialogs
inline constexpr int kIconWindow = 131;    // the windows' large icon
inline constexpr UINT kAboutCommand = 16;  // system-menu command of "&About Setup..."

// A text of the program's own string table; empty when the id is missing.
std::string LoadResourceString(int id);

// Loads COMCTL32.DLL by name and calls its InitCommonControls once per process.
void LoadCommonControls();

// Gives the control the process's shared bold font, made from the first control's font.
void MakeItemBold(HWND window, int control);
// Deletes the shared bold font, if one was made.
void DeleteSharedBoldFont();
// Sets icon 131 as the window's large icon.
void SetDialogIcon(HWND window);
// Removes the Close command from the window's system menu.
void RemoveCloseItem(HWND window);
// Appends a separator and "&About Setup..." (string 300, command 16) to the system menu.
void AddAboutItem(HWND window);

// The white banner of the banner dialogs: transparent black text on the stock white brush.
INT_PTR PaintBannerStatic(HDC dc);

// Takes at most one pending message for `dialog` or its controls and handles it.
void PumpDialogMessage(HWND dialog);

// The About box (dialog 100), modal, owned by `owner`.
void ShowAboutBox(HWND owner);

}  // namespace floppyset
