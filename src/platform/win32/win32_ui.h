// The Ui of the Win32 program: dialog resources driven by small dialog procedures that
// hand every decision to the core, message boxes owned as the core asks, progress bars
// through PBM_ messages, and the main window with its worker thread.
#pragma once

#include <windows.h>

#include <atomic>

#include "ui/ui.h"

namespace floppyset {

class Win32Ui : public Ui {
 public:
  Win32Ui() = default;
  ~Win32Ui() override;

  Answer ShowMessage(const MessageRequest& request) override;

  void SetControlText(int control, const std::string& text) override;
  void HideControl(int control) override;
  void SetProgressRange(int control, int low, int high) override;
  void SetProgressPosition(int control, int position) override;
  void PumpOneMessage() override;

  int RunWorkDialog(int dialog, const std::function<int()>& work) override;
  bool RunMainWindow(int dialog, const std::function<void()>& worker) override;
  void AppendReportText(const std::string& text) override;

  void ShowHelp() override;
  std::optional<uint8_t> ChooseFloppyDrive(const std::vector<FloppyDriveChoice>& drives) override;
  bool RunDestinationDialog(const std::function<bool(const std::string& typed)>& on_ok) override;
  void ShowStartDelayNotice() override;

 private:
  struct WorkDialog;
  struct MainWindow;
  struct DriveDialog;
  struct DestinationDialog;

  static INT_PTR CALLBACK WorkDialogProc(HWND, UINT, WPARAM, LPARAM);
  static INT_PTR CALLBACK MainWindowProc(HWND, UINT, WPARAM, LPARAM);
  static INT_PTR CALLBACK DriveDialogProc(HWND, UINT, WPARAM, LPARAM);
  static INT_PTR CALLBACK DestinationDialogProc(HWND, UINT, WPARAM, LPARAM);
  static DWORD WINAPI WorkerThread(LPVOID context);

  // The running work dialog, else the main window.
  HWND WindowOnTop() const;
  HWND ItemOnTop(int control) const;

  std::atomic<HWND> main_window_{nullptr};
  std::atomic<HWND> work_dialog_{nullptr};
  std::atomic<HWND> open_dialog_{nullptr};  // dialog 102 or 106 while the worker shows it
};

}  // namespace floppyset
