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
#include <type_traits>
#include <vector>

#include "ui/ui.h"

namespace floppyset::testing {

enum class UiEventKind {
  kMessage,           // message, answer
  kControlText,       // id = control, text
  kHideControl,       // id = control
  kProgressRange,     // id = control, low .. high
  kProgressPosition,  // id = control, low = position
  kPump,              // result = how many in a row
  kWorkDialog,        // id = dialog, result
  kMainWindow,        // id = dialog, result = 0 when it could not be made
  kReportText,        // text
  kHelp,
  kDriveChoice,        // drives offered, result = the drive or -1 for Cancel
  kDestinationDialog,  // result = 1 (OK) or 2 (Cancel)
  kStartNotice,
};

struct UiEvent {
  UiEventKind kind = UiEventKind::kPump;
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
  size_t PendingAnswers() const { return answers_.size(); }

  const std::vector<UiEvent>& Events() const { return events_; }
  // `get` of every event of `kind` (and of control or dialog `id` when it is not -1).
  template <class Get>
  auto Collect(UiEventKind kind, Get get, int id = -1) const {
    std::vector<std::decay_t<decltype(get(events_[0]))>> out;
    for (const UiEvent& e : events_) {
      if (e.kind == kind && (id == -1 || e.id == id)) out.push_back(get(e));
    }
    return out;
  }
  int Count(UiEventKind kind) const {
    return int(Collect(kind, [](auto&) { return 0; }).size());
  }
  std::vector<MessageRequest> Messages() const {
    return Collect(UiEventKind::kMessage, [](const UiEvent& e) { return e.message; });
  }
  std::vector<int> MessageIds() const {
    return Collect(UiEventKind::kMessage, [](const UiEvent& e) { return e.id; });
  }
  MessageRequest LastMessage() const;  // fails the test when there was none
  std::vector<std::string> ControlTexts(int control) const {
    return Collect(
        UiEventKind::kControlText, [](const UiEvent& e) { return e.text; }, control);
  }
  std::vector<int> ProgressPositions(int control) const {
    return Collect(
        UiEventKind::kProgressPosition, [](const UiEvent& e) { return e.low; }, control);
  }
  std::optional<std::pair<int, int>> ProgressRange(int control) const {  // the last one set
    const auto ranges = Collect(
        UiEventKind::kProgressRange, [](const UiEvent& e) { return std::pair(e.low, e.high); },
        control);
    if (ranges.empty()) return std::nullopt;
    return ranges.back();
  }
  std::vector<int> WorkDialogs() const {
    return Collect(UiEventKind::kWorkDialog, [](const UiEvent& e) { return e.id; });
  }
  std::optional<int> MainWindow() const {  // opened or failed
    const auto windows = Collect(UiEventKind::kMainWindow, [](const UiEvent& e) { return e.id; });
    if (windows.empty()) return std::nullopt;
    return windows.front();
  }
  std::string ReportText() const {
    std::string text;
    for (const std::string& t : Collect(UiEventKind::kReportText, [](auto& e) { return e.text; })) {
      text += t;
    }
    return text;
  }
  std::string Transcript() const;  // every event as a line, for failure output

  Answer ShowMessage(const MessageRequest& request) override;
  void SetControlText(int control, const std::string& text) override {
    Record(UiEventKind::kControlText, control).text = text;
  }
  void HideControl(int control) override { Record(UiEventKind::kHideControl, control); }
  void SetProgressRange(int control, int low, int high) override {
    UiEvent& event = Record(UiEventKind::kProgressRange, control);
    event.low = low;
    event.high = high;
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
};

}  // namespace floppyset::testing
