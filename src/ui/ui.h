// The seam between the core and what the user sees. The core decides every text, caption,
// button set and rule; a front end (the Win32 dialogs, the terminal, the test script) only
// shows them and brings back the answer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace floppyset {

enum class Buttons { kOk, kOkCancel, kYesNo, kRetryCancel };
enum class Icon { kNone, kInformation, kExclamation, kStop, kQuestion };
enum class Answer { kOk, kCancel, kYes, kNo, kRetry };
// The caption of the button that gives `answer`.
inline const char* ButtonText(Answer answer) {
  switch (answer) {
    case Answer::kOk:
      return "OK";
    case Answer::kCancel:
      return "Cancel";
    case Answer::kYes:
      return "Yes";
    case Answer::kNo:
      return "No";
    case Answer::kRetry:
      return "Retry";
  }
  return "";
}

// The window that owns a message box: none, the main window (progress or report) or the
// modal dialog that is open (the destination dialog).
enum class Owner { kNone, kMainWindow, kDialog };

struct MessageRequest {
  int message_id = 0;  // string-table id, 0 for texts that are not from the table
  std::string text;
  std::string caption;
  Buttons buttons = Buttons::kOk;
  Icon icon = Icon::kNone;
  Owner owner = Owner::kNone;
};

// Dialog resources by id.
enum DialogId : int {
  kDialogAbout = 100,
  kDialogBannerProgress = 101,
  kDialogDriveChoice = 102,
  kDialogReport = 103,
  kDialogBannerExtraction = 104,
  kDialogAuthenticity = 105,
  kDialogDestination = 106,
  kDialogHelp = 107,
  kDialogStartDelay = 108,
  kDialogPlainProgress = 110,
  kDialogPlainExtraction = 111,
};

// Controls that the core changes.
enum ControlId : int {
  kControlExeCheckResult = 117,
  kControlPackageCheckResult = 118,
  kControlBannerTitle = 119,
  kControlBannerText = 120,
  kControlTrackBar = 122,
  kControlDiskBar = 123,
  kControlPlainTitle = 126,
  kControlTrackText = 150,
  kControlDiskText = 151,
  kControlReportText = 152,
  kControlExtractionBar = 153,
};

// One entry of the floppy drive list: the 0-based drive index and its text ("A:\" on
// Windows, the device path on Linux).
struct FloppyDriveChoice {
  uint8_t drive = 0;
  std::string label;
};

class Ui {
 public:
  virtual ~Ui() = default;

  // A modal message box; the answer of the button pressed.
  virtual Answer ShowMessage(const MessageRequest& request) = 0;

  // Controls of the window on top: the running work dialog, else the main window.
  // A control that the window lacks is ignored.
  virtual void SetControlText(int control, const std::string& text) = 0;
  virtual void HideControl(int control) = 0;
  virtual void SetProgressRange(int control, int low, int high) = 0;
  virtual void SetProgressPosition(int control, int position) = 0;
  // Lets the window repaint and react: handles at most one pending window message.
  virtual void PumpOneMessage() = 0;

  // Shows modal dialog `dialog` (105, 104 or 111), runs `work` once it is up and ends the
  // dialog with the work's result.
  virtual int RunWorkDialog(int dialog, const std::function<int()>& work) = 0;
  // Shows the main window `dialog` (101, 110 or 103), runs `worker` on the worker thread and
  // returns when the window is gone and the worker has ended; false (and the worker not run)
  // when the window cannot be made.
  virtual bool RunMainWindow(int dialog, const std::function<void()>& worker) = 0;
  // Appends text with "\r\n" line ends to the report window; dropped once it is closed.
  virtual void AppendReportText(const std::string& text) = 0;

  // The help dialog 107, until OK.
  virtual void ShowHelp() = 0;
  // Dialog 102: the drive picked, or nullopt for Cancel (OK on an empty list is Cancel).
  virtual std::optional<uint8_t> ChooseFloppyDrive(
      const std::vector<FloppyDriveChoice>& drives) = 0;
  // Dialog 106: calls `on_ok` with the typed (or browsed) text at every OK until it returns
  // true; false when the user cancels.
  virtual bool RunDestinationDialog(const std::function<bool(const std::string& typed)>& on_ok) = 0;
  // Dialog 108: shows the start notice and returns once it watches the installer semaphore
  // "TavelotSetupSemaphore"; the notice closes itself when the installer releases it.
  virtual void ShowStartDelayNotice() = 0;
};

}  // namespace floppyset
