#include "platform/win32/win32_ui.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstring>
#include <new>

#include "platform/win32/dialog_helpers.h"
#include "platform/win32/start_delay.h"

namespace floppyset {

struct Win32Ui::WorkDialog {
  Win32Ui* ui;
  const std::function<int()>* work;
  bool started = false;
};

struct Win32Ui::MainWindow {
  Win32Ui* ui;
  const std::function<void()>* worker;
  HWND window = nullptr;
  bool is_report = false;
  std::atomic<bool> worker_done{false};
};

struct Win32Ui::DriveDialog {
  Win32Ui* ui;
  const std::vector<FloppyDriveChoice>* drives;
  uint8_t chosen = 0;
};

struct Win32Ui::DestinationDialog {
  Win32Ui* ui;
  const std::function<bool(const std::string&)>* on_ok;
};

namespace {

constexpr int kControlDriveList = 115;
constexpr int kControlBannerBand = 121;
constexpr int kControlExtractionTitle = 124;
constexpr int kControlExtractionBand = 125;
constexpr int kControlBrowse = 154;
constexpr int kControlDestination = 155;
constexpr int kWorkCommand = 1;

HINSTANCE ProgramInstance() {
  return GetModuleHandleA(nullptr);
}

template <typename Context>
Context* ContextOf(HWND dialog) {
  return reinterpret_cast<Context*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

template <typename Context>
Context* StoreContext(HWND dialog, LPARAM lparam) {
  SetWindowLongPtrA(dialog, DWLP_USER, lparam);
  return reinterpret_cast<Context*>(lparam);
}

UINT ButtonStyle(Buttons buttons) {
  switch (buttons) {
    case Buttons::kOkCancel:
      return MB_OKCANCEL;
    case Buttons::kYesNo:
      return MB_YESNO;
    case Buttons::kRetryCancel:
      return MB_RETRYCANCEL;
    case Buttons::kOk:
      break;
  }
  return MB_OK;
}

UINT IconStyle(Icon icon) {
  switch (icon) {
    case Icon::kInformation:
      return MB_ICONASTERISK;
    case Icon::kExclamation:
      return MB_ICONEXCLAMATION;
    case Icon::kStop:
      return MB_ICONHAND;
    case Icon::kQuestion:
      return MB_ICONQUESTION;
    case Icon::kNone:
      break;
  }
  return 0;
}

Answer AnswerOf(int pressed) {
  switch (pressed) {
    case IDOK:
      return Answer::kOk;
    case IDYES:
      return Answer::kYes;
    case IDNO:
      return Answer::kNo;
    case IDRETRY:
      return Answer::kRetry;
    default:
      return Answer::kCancel;
  }
}

bool IsBannerControl(HWND control) {
  const int id = GetDlgCtrlID(control);
  return id == kControlBannerBand || id == kControlBannerTitle || id == kControlExtractionBand ||
         id == kControlExtractionTitle;
}

// The shell's folder browser, loaded at run time; true with the folder (ending in "\") in
// `folder` when the user picked one.
bool BrowseForDestination(HWND dialog, std::string& folder) {
  const std::string title = LoadResourceString(500);
  char path[MAX_PATH] = "";
  BROWSEINFOA info;
  ZeroMemory(&info, sizeof info);
  info.hwndOwner = dialog;
  info.pszDisplayName = path;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;

  HMODULE shell = LoadLibraryA("SHELL32.DLL");
  if (!shell) return false;
  using PathFn = BOOL(WINAPI*)(LPCITEMIDLIST, LPSTR);
  using BrowseFn = LPITEMIDLIST(WINAPI*)(LPBROWSEINFOA);
  const auto path_of = reinterpret_cast<PathFn>(
      reinterpret_cast<void*>(GetProcAddress(shell, "SHGetPathFromIDListA")));
  const auto browse = reinterpret_cast<BrowseFn>(
      reinterpret_cast<void*>(GetProcAddress(shell, "SHBrowseForFolderA")));
  bool chosen = false;
  if (path_of && browse) {
    LPITEMIDLIST item = browse(&info);
    if (item && path_of(item, path)) {
      folder = path;
      if (!folder.empty() && folder.back() != '\\') folder += '\\';
      chosen = true;
    }
    if (item) CoTaskMemFree(item);
  }
  FreeLibrary(shell);
  return chosen;
}

void InitMainDialog(HWND window) {
  AddAboutItem(window);
  RemoveCloseItem(window);
  MakeItemBold(window, kControlBannerTitle);
  SetDialogIcon(window);
}

void InitReportWindow(HWND window) {
  AddAboutItem(window);
  SetDialogIcon(window);
  SendDlgItemMessageA(window, kControlReportText, WM_SETFONT,
                      reinterpret_cast<WPARAM>(GetStockObject(SYSTEM_FIXED_FONT)), FALSE);
}

}  // namespace

Win32Ui::~Win32Ui() {
  DeleteSharedBoldFont();
}

Answer Win32Ui::ShowMessage(const MessageRequest& request) {
  HWND owner = nullptr;
  if (request.owner == Owner::kMainWindow) owner = main_window_;
  if (request.owner == Owner::kDialog) owner = open_dialog_ ? open_dialog_ : main_window_;
  const int pressed = MessageBoxA(owner, request.text.c_str(), request.caption.c_str(),
                                  ButtonStyle(request.buttons) | IconStyle(request.icon));
  return AnswerOf(pressed);
}

HWND Win32Ui::WindowOnTop() const {
  HWND work = work_dialog_;
  return work ? work : main_window_.load();
}

HWND Win32Ui::ItemOnTop(int control) const {
  HWND window = WindowOnTop();
  return window ? GetDlgItem(window, control) : nullptr;
}

void Win32Ui::SetControlText(int control, const std::string& text) {
  if (HWND item = ItemOnTop(control)) SetWindowTextA(item, text.c_str());
}

void Win32Ui::HideControl(int control) {
  if (HWND item = ItemOnTop(control)) ShowWindow(item, SW_HIDE);
}

void Win32Ui::SetProgressRange(int control, int low, int high) {
  if (HWND item = ItemOnTop(control)) SendMessageA(item, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void Win32Ui::SetProgressPosition(int control, int position) {
  if (HWND item = ItemOnTop(control)) SendMessageA(item, PBM_SETPOS, position, 0);
}

void Win32Ui::PumpOneMessage() {
  // Only the thread that owns the window can take its messages; the main window's own
  // thread pumps it all the time while the worker runs.
  HWND window = WindowOnTop();
  if (window && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    PumpDialogMessage(window);
  }
}

INT_PTR CALLBACK Win32Ui::WorkDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      StoreContext<WorkDialog>(dialog, lparam);
      SetDialogIcon(dialog);
      MakeItemBold(dialog, kControlExtractionTitle);
      RemoveCloseItem(dialog);
      PostMessageA(dialog, WM_COMMAND, kWorkCommand, 0);
      return TRUE;
    case WM_COMMAND: {
      WorkDialog* context = ContextOf<WorkDialog>(dialog);
      // Enter in a dialog without buttons also sends command 1: the work runs once only.
      if (LOWORD(wparam) != kWorkCommand || !context || context->started) return TRUE;
      context->started = true;
      ShowWindow(dialog, SW_SHOW);  // the work starts before the modal loop would show it
      UpdateWindow(dialog);
      context->ui->work_dialog_ = dialog;
      const int result = (*context->work)();
      context->ui->work_dialog_ = nullptr;
      EndDialog(dialog, result);
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
      if (IsBannerControl(reinterpret_cast<HWND>(lparam))) {
        return PaintBannerStatic(reinterpret_cast<HDC>(wparam));
      }
      return FALSE;
  }
  return FALSE;
}

int Win32Ui::RunWorkDialog(int dialog, const std::function<int()>& work) {
  LoadCommonControls();
  WorkDialog context{this, &work};
  const INT_PTR result = DialogBoxParamA(ProgramInstance(), MAKEINTRESOURCEA(dialog), nullptr,
                                         WorkDialogProc, reinterpret_cast<LPARAM>(&context));
  work_dialog_ = nullptr;
  // Without its dialog the work still has to be done: the program must go on.
  if (result == -1 && !context.started) return work();
  return static_cast<int>(result);
}

INT_PTR CALLBACK Win32Ui::MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  MainWindow* context = message == WM_INITDIALOG ? StoreContext<MainWindow>(window, lparam)
                                                 : ContextOf<MainWindow>(window);
  if (!context) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      if (context->is_report) {
        InitReportWindow(window);
      } else {
        InitMainDialog(window);
      }
      return TRUE;
    case WM_COMMAND:
      if (context->is_report) return FALSE;  // Enter and Escape leave the report open
      // Only the worker's IDOK closes a run window: Enter sends IDOK too.
      if (LOWORD(wparam) == IDOK && context->worker_done) DestroyWindow(window);
      return TRUE;
    case WM_CLOSE:
      if (!context->is_report) return FALSE;
      DestroyWindow(window);
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) != kAboutCommand) return FALSE;
      ShowAboutBox(window);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      if (!context->is_report && IsBannerControl(reinterpret_cast<HWND>(lparam))) {
        return PaintBannerStatic(reinterpret_cast<HDC>(wparam));
      }
      return FALSE;
    case WM_DESTROY:
      context->ui->main_window_ = nullptr;
      PostQuitMessage(0);
      return TRUE;
  }
  return FALSE;
}

DWORD WINAPI Win32Ui::WorkerThread(LPVOID parameter) {
  auto* context = static_cast<MainWindow*>(parameter);
  (*context->worker)();
  // A run ends by closing its window; a report stays for the user to read.
  context->worker_done = true;
  if (!context->is_report) PostMessageA(context->window, WM_COMMAND, IDOK, 0);
  return 0;
}

bool Win32Ui::RunMainWindow(int dialog, const std::function<void()>& worker) {
  LoadCommonControls();
  MainWindow context{this, &worker};
  context.is_report = dialog == kDialogReport;
  HWND window = CreateDialogParamA(ProgramInstance(), MAKEINTRESOURCEA(dialog), nullptr,
                                   MainWindowProc, reinterpret_cast<LPARAM>(&context));
  if (!IsWindow(window)) return false;
  context.window = window;
  main_window_ = window;
  ShowWindow(window, SW_SHOW);

  DWORD id;  // Windows 95 refuses a null thread id
  HANDLE thread = CreateThread(nullptr, 0, WorkerThread, &context, 0, &id);
  // Without a worker thread the work runs here; its message boxes and the report's
  // appends keep the window alive, and a run still closes its window at the end.
  if (!thread) WorkerThread(&context);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageA(window, &message)) DispatchMessageA(&message);
  }
  if (thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  main_window_ = nullptr;
  return true;
}

void Win32Ui::AppendReportText(const std::string& text) {
  HWND window = main_window_;
  HWND edit = window && IsWindow(window) ? GetDlgItem(window, kControlReportText) : nullptr;
  if (!edit) return;  // the report window is closed: nothing to write to

  const int length = GetWindowTextLengthA(edit);
  const size_t size = static_cast<size_t>(length) + text.size() + 1;
  char* buffer = new (std::nothrow) char[size];
  if (!buffer) return;
  const int copied = GetWindowTextA(edit, buffer, length + 1);
  std::memcpy(buffer + copied, text.c_str(), text.size() + 1);
  SetWindowTextA(edit, buffer);
  PostMessageA(edit, WM_KEYDOWN, VK_DOWN, 1);
  delete[] buffer;

  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

namespace {

INT_PTR CALLBACK HelpDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message != WM_COMMAND) return FALSE;
  if (LOWORD(wparam) == IDOK) EndDialog(dialog, 1);
  return TRUE;
}

}  // namespace

void Win32Ui::ShowHelp() {
  DialogBoxParamA(ProgramInstance(), MAKEINTRESOURCEA(kDialogHelp), nullptr, HelpDialogProc, 0);
}

INT_PTR CALLBACK Win32Ui::DriveDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    DriveDialog* context = StoreContext<DriveDialog>(dialog, lparam);
    context->ui->open_dialog_ = dialog;
    HWND list = GetDlgItem(dialog, kControlDriveList);
    for (const FloppyDriveChoice& drive : *context->drives) {
      const LRESULT index =
          SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(drive.label.c_str()));
      SendMessageA(list, LB_SETITEMDATA, index, drive.drive);
    }
    SendMessageA(list, LB_SETCURSEL, 0, 0);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  DriveDialog* context = ContextOf<DriveDialog>(dialog);
  if (LOWORD(wparam) == IDOK) {
    HWND list = GetDlgItem(dialog, kControlDriveList);
    const LRESULT index = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR) {
      EndDialog(dialog, IDCANCEL);  // an empty list has nothing to choose: as Cancel
    } else {
      context->chosen = static_cast<uint8_t>(SendMessageA(list, LB_GETITEMDATA, index, 0));
      EndDialog(dialog, IDOK);
    }
  } else if (LOWORD(wparam) == IDCANCEL) {
    EndDialog(dialog, IDCANCEL);
  }
  return TRUE;
}

std::optional<uint8_t> Win32Ui::ChooseFloppyDrive(const std::vector<FloppyDriveChoice>& drives) {
  DriveDialog context{this, &drives};
  const INT_PTR result =
      DialogBoxParamA(ProgramInstance(), MAKEINTRESOURCEA(kDialogDriveChoice), main_window_,
                      DriveDialogProc, reinterpret_cast<LPARAM>(&context));
  open_dialog_ = nullptr;
  if (result != IDOK) return std::nullopt;
  return context.chosen;
}

INT_PTR CALLBACK Win32Ui::DestinationDialogProc(HWND dialog, UINT message, WPARAM wparam,
                                                LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    DestinationDialog* context = StoreContext<DestinationDialog>(dialog, lparam);
    context->ui->open_dialog_ = dialog;
    SetDialogIcon(dialog);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  DestinationDialog* context = ContextOf<DestinationDialog>(dialog);
  switch (LOWORD(wparam)) {
    case IDOK: {
      char typed[MAX_PATH] = "";
      GetDlgItemTextA(dialog, kControlDestination, typed, sizeof typed);
      if ((*context->on_ok)(typed)) EndDialog(dialog, IDOK);
      break;
    }
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      break;
    case kControlBrowse: {
      std::string folder;
      if (BrowseForDestination(dialog, folder)) {
        SetDlgItemTextA(dialog, kControlDestination, folder.c_str());
      }
      break;
    }
  }
  return TRUE;
}

bool Win32Ui::RunDestinationDialog(const std::function<bool(const std::string&)>& on_ok) {
  DestinationDialog context{this, &on_ok};
  const INT_PTR result =
      DialogBoxParamA(ProgramInstance(), MAKEINTRESOURCEA(kDialogDestination), main_window_,
                      DestinationDialogProc, reinterpret_cast<LPARAM>(&context));
  open_dialog_ = nullptr;
  return result == IDOK;
}

void Win32Ui::ShowStartDelayNotice() {
  ShowStartDelayDialog();
}

}  // namespace floppyset
