// A Ui for tests: answers questions from a script and records everything the user would
// see, in order, for assertions.
//
//   ScriptedUi ui;
//   ui.Expect(kMsgUnpackInstead, Answer::kYes);     // the next question must be 505
//   ui.TypeDestinations({"/no/such", dir});         // dialog 106: each text until accepted
//   ... run ...
//   EXPECT_EQ(ui.MessageIds(), (std::vector<int>{503, 505, 509}));
//   EXPECT_EQ(ui.ReportText(), "Package processing:\r\n...");
//
// Message boxes with only an OK button need no script (they answer kOk). A question
// (any other button set) takes the next scripted answer; with none left it takes the
// default answer, or, when there is none, fails the test and answers Cancel / No.
// RunWorkDialog and RunMainWindow run their work inline on the calling thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/ui.h"

namespace floppyset::testing {

enum class UiEventKind {
  kMessage,           // message (request, answer)
  kControlText,       // window, id = control, text
  kHideControl,       // window, id = control
  kProgressRange,     // window, id = control, low .. high
  kProgressPosition,  // window, id = control, low = position
  kPump,
  kWorkDialogOpened,  // id = dialog
  kWorkDialogClosed,  // id = dialog, result
  kMainWindowOpened,  // id = dialog
  kMainWindowClosed,  // id = dialog
  kMainWindowFailed,  // id = dialog
  kReportText,        // text
  kHelp,
  kDriveChoice,        // drives offered, result = the drive or -1 for Cancel
  kDestinationDialog,  // result = 1 (OK) or 2 (Cancel)
  kDestinationTyped,   // text, result = 1 when the OK rule accepted it
  kStartNotice,
};

struct UiEvent {
  UiEventKind kind = UiEventKind::kPump;
  int window = 0;  // the dialog on top when a control changed (0: none open)
  int id = 0;
  std::string text;
  int low = 0;
  int high = 0;
  int result = 0;
  MessageRequest message;
  Answer answer = Answer::kOk;
  std::vector<FloppyDriveChoice> drives;
};

class ScriptedUi : public Ui {
 public:
  // --- the script ---
  // The next question must be `message_id` (0: any) and gets `answer`.
  ScriptedUi& Expect(int message_id, Answer answer);
  // The answer for questions beyond the script; without one they fail the test.
  void SetDefaultAnswer(std::optional<Answer> answer) { default_answer_ = answer; }
  // Dialog 102 answers in order; beyond them the first drive offered (Cancel if none).
  void ChooseDrives(std::vector<std::optional<uint8_t>> answers);
  // Dialog 106: every text is offered to OK in turn until one is accepted; when they run
  // out the dialog is cancelled.
  void TypeDestinations(std::vector<std::string> texts);
  // RunMainWindow reports that the window could not be made.
  void FailMainWindow(bool fail = true) { fail_main_window_ = fail; }
  // Called for every message box before it is answered (e.g. to act like the user).
  void OnMessage(std::function<void(const MessageRequest&)> hook) { on_message_ = std::move(hook); }

  // Scripted answers no question has taken yet (a test may expect 0 at its end).
  size_t PendingAnswers() const { return answers_.size(); }

  // --- the transcript ---
  const std::vector<UiEvent>& Events() const { return events_; }
  std::vector<MessageRequest> Messages() const;
  std::vector<int> MessageIds() const;
  // The last message box shown; fails the test when there was none.
  MessageRequest LastMessage() const;
  // Texts set on `control`, in order (any window).
  std::vector<std::string> ControlTexts(int control) const;
  std::vector<int> ProgressPositions(int control) const;
  // The last range set on `control`, as {low, high}.
  std::optional<std::pair<int, int>> ProgressRange(int control) const;
  bool WasHidden(int control) const;
  // Work dialogs in the order opened, and their results.
  std::vector<int> WorkDialogs() const;
  std::vector<int> WorkDialogResults() const;
  // The main window opened (or that failed), if any.
  std::optional<int> MainWindow() const;
  // The report window's whole text, and each append on its own.
  std::string ReportText() const;
  std::vector<std::string> ReportAppends() const;
  int HelpShown() const;
  int StartNoticesShown() const;
  int DestinationDialogsShown() const;
  std::vector<std::string> TypedDestinations() const;
  // Every event as one line of text, for failure output.
  std::string Transcript() const;

  // --- Ui ---
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
  struct ScriptedAnswer {
    int message_id;
    Answer answer;
  };
  UiEvent& Record(UiEventKind kind, int id = 0);
  int TopWindow() const;
  std::vector<const UiEvent*> OfKind(UiEventKind kind) const;

  std::vector<UiEvent> events_;
  std::deque<ScriptedAnswer> answers_;
  std::optional<Answer> default_answer_;
  std::deque<std::optional<uint8_t>> drive_answers_;
  std::deque<std::string> destinations_;
  bool fail_main_window_ = false;
  std::function<void(const MessageRequest&)> on_message_;
  std::vector<int> open_windows_;  // main window and work dialogs, innermost last
};

// Readable names for failure output.
std::string ToString(Answer answer);
std::string ToString(Buttons buttons);
std::string ToString(Icon icon);
std::string ToString(Owner owner);

}  // namespace floppyset::testing
