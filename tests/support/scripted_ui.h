// A Ui for tests: answers questions from a script and records everything the user would see,
// in order. OK-only boxes need no script; any other question takes the next scripted answer,
// else the default answer, else fails the test (answering Cancel / No). Work dialogs and the
// main window run their work inline.
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
  kMessage,
  kControlText,
  kHideControl,
  kProgressRange,  // low .. high
  kProgressPosition,
  kPump,  // one for a run of pumps
  kWorkDialog,
  kMainWindow,  // also when it could not be made
  kReportText,
  kHelp,
  kDriveChoice,
  kDestinationDialog,
  kStartNotice,
};

struct UiEvent {
  UiEventKind kind = UiEventKind::kPump;
  int id = 0;  // message, control or dialog
  std::string text;
  int low = 0, high = 0;
  MessageRequest message;
  std::vector<FloppyDriveChoice> drives;
};

class ScriptedUi : public Ui {
 public:
  // The next question must be `message_id` (0: any) and gets `answer`.
  ScriptedUi& Expect(int message_id, Answer answer) {
    answers_.push_back({message_id, answer});
    return *this;
  }
  void SetDefaultAnswer(std::optional<Answer> answer) { default_answer_ = answer; }
  // Dialog 102 answers in order; beyond them the first drive offered (Cancel if none).
  void ChooseDrives(std::vector<std::optional<uint8_t>> a) { drives_.assign(a.begin(), a.end()); }
  // Dialog 106: each text is offered to OK until one is accepted; then it is cancelled.
  void TypeDestinations(std::vector<std::string> t) { typed_.assign(t.begin(), t.end()); }
  void FailMainWindow(bool fail = true) { fail_main_window_ = fail; }
  // Called for every message box before it is answered.
  void OnMessage(std::function<void(const MessageRequest&)> hook) { on_message_ = std::move(hook); }
  // Called with the dialog's id once the work of a work dialog is done.
  void AfterWorkDialog(std::function<void(int)> hook) { after_work_ = std::move(hook); }
  size_t PendingAnswers() const { return answers_.size(); }

  const std::vector<UiEvent>& Events() const { return events_; }
  // The events of `kind` (and of message, control or dialog `id` when it is not -1).
  std::vector<UiEvent> Of(UiEventKind kind, int id = -1) const;
  int Count(UiEventKind kind) const { return int(Of(kind).size()); }
  // `field` of every event of `kind` (and `id`).
  template <class T>
  std::vector<T> Field(T UiEvent::*field, UiEventKind kind, int id = -1) const {
    std::vector<T> out;
    for (const UiEvent& e : Of(kind, id)) out.push_back(e.*field);
    return out;
  }
  auto Messages() const { return Field(&UiEvent::message, UiEventKind::kMessage); }
  auto MessageIds() const { return Field(&UiEvent::id, UiEventKind::kMessage); }
  MessageRequest LastMessage() const;  // fails the test when there was none
  auto ProgressPositions(int c) const {
    return Field(&UiEvent::low, UiEventKind::kProgressPosition, c);
  }
  std::string ReportText() const;

  Answer ShowMessage(const MessageRequest& request) override;
  void SetControlText(int control, const std::string& text) override {
    Record(UiEventKind::kControlText, control).text = text;
  }
  void HideControl(int control) override { Record(UiEventKind::kHideControl, control); }
  void SetProgressRange(int control, int low, int high) override {
    UiEvent& event = Record(UiEventKind::kProgressRange, control);
    event.low = low, event.high = high;
  }
  void SetProgressPosition(int control, int position) override {
    Record(UiEventKind::kProgressPosition, control).low = position;
  }
  void PumpOneMessage() override;
  int RunWorkDialog(int dialog, const std::function<int()>& work) override;
  bool RunMainWindow(int dialog, const std::function<void()>& worker) override;
  void AppendReportText(const std::string& text) override {
    Record(UiEventKind::kReportText).text = text;
  }
  void ShowHelp() override { Record(UiEventKind::kHelp); }
  std::optional<uint8_t> ChooseFloppyDrive(const std::vector<FloppyDriveChoice>& drives) override;
  bool RunDestinationDialog(const std::function<bool(const std::string& typed)>& on_ok) override;
  void ShowStartDelayNotice() override { Record(UiEventKind::kStartNotice, kDialogStartDelay); }

 private:
  UiEvent& Record(UiEventKind kind, int id = 0);

  std::vector<UiEvent> events_;
  std::deque<std::pair<int, Answer>> answers_;
  std::optional<Answer> default_answer_;
  std::deque<std::optional<uint8_t>> drives_;
  std::deque<std::string> typed_;
  bool fail_main_window_ = false;
  std::function<void(const MessageRequest&)> on_message_;
  std::function<void(int)> after_work_;
};

}  // namespace floppyset::testing
