#include "support/scripted_ui.h"

#include <gtest/gtest.h>

#include <sstream>

namespace floppyset::testing {

std::string ToString(Answer answer) {
  return ButtonText(answer);
}

std::string ToString(Buttons buttons) {
  switch (buttons) {
    case Buttons::kOk:
      return "OK";
    case Buttons::kOkCancel:
      return "OK/Cancel";
    case Buttons::kYesNo:
      return "Yes/No";
    case Buttons::kRetryCancel:
      return "Retry/Cancel";
  }
  return "?";
}

std::string ToString(Icon icon) {
  switch (icon) {
    case Icon::kNone:
      return "none";
    case Icon::kInformation:
      return "information";
    case Icon::kExclamation:
      return "exclamation";
    case Icon::kStop:
      return "stop";
    case Icon::kQuestion:
      return "question";
  }
  return "?";
}

std::string ToString(Owner owner) {
  switch (owner) {
    case Owner::kNone:
      return "none";
    case Owner::kMainWindow:
      return "main window";
    case Owner::kDialog:
      return "dialog";
  }
  return "?";
}

ScriptedUi& ScriptedUi::Expect(int message_id, Answer answer) {
  answers_.push_back({message_id, answer});
  return *this;
}

void ScriptedUi::ChooseDrives(std::vector<std::optional<uint8_t>> answers) {
  drive_answers_.assign(answers.begin(), answers.end());
}

void ScriptedUi::TypeDestinations(std::vector<std::string> texts) {
  destinations_.assign(texts.begin(), texts.end());
}

UiEvent& ScriptedUi::Record(UiEventKind kind, int id) {
  UiEvent event;
  event.kind = kind;
  event.window = TopWindow();
  event.id = id;
  events_.push_back(std::move(event));
  return events_.back();
}

int ScriptedUi::TopWindow() const {
  return open_windows_.empty() ? 0 : open_windows_.back();
}

Answer ScriptedUi::ShowMessage(const MessageRequest& request) {
  if (on_message_) on_message_(request);
  Answer answer = Answer::kOk;
  if (request.buttons != Buttons::kOk) {
    if (!answers_.empty()) {
      const ScriptedAnswer next = answers_.front();
      answers_.pop_front();
      if (next.message_id != 0 && next.message_id != request.message_id) {
        ADD_FAILURE() << "expected question " << next.message_id << ", got " << request.message_id
                      << ": " << request.text;
      }
      answer = next.answer;
    } else if (default_answer_) {
      answer = *default_answer_;
    } else {
      ADD_FAILURE() << "unexpected question " << request.message_id << ": " << request.text;
      answer = request.buttons == Buttons::kYesNo ? Answer::kNo : Answer::kCancel;
    }
  }
  UiEvent& event = Record(UiEventKind::kMessage, request.message_id);
  event.message = request;
  event.text = request.text;
  event.answer = answer;
  return answer;
}

void ScriptedUi::SetControlText(int control, const std::string& text) {
  Record(UiEventKind::kControlText, control).text = text;
}

void ScriptedUi::HideControl(int control) {
  Record(UiEventKind::kHideControl, control);
}

void ScriptedUi::SetProgressRange(int control, int low, int high) {
  UiEvent& event = Record(UiEventKind::kProgressRange, control);
  event.low = low;
  event.high = high;
}

void ScriptedUi::SetProgressPosition(int control, int position) {
  Record(UiEventKind::kProgressPosition, control).low = position;
}

void ScriptedUi::PumpOneMessage() {
  // Pumps are frequent and say nothing to the user: count them without flooding the list.
  if (!events_.empty() && events_.back().kind == UiEventKind::kPump) {
    ++events_.back().result;
    return;
  }
  Record(UiEventKind::kPump).result = 1;
}

int ScriptedUi::RunWorkDialog(int dialog, const std::function<int()>& work) {
  Record(UiEventKind::kWorkDialogOpened, dialog);
  open_windows_.push_back(dialog);
  const int result = work();
  open_windows_.pop_back();
  Record(UiEventKind::kWorkDialogClosed, dialog).result = result;
  return result;
}

bool ScriptedUi::RunMainWindow(int dialog, const std::function<void()>& worker) {
  if (fail_main_window_) {
    Record(UiEventKind::kMainWindowFailed, dialog);
    return false;
  }
  Record(UiEventKind::kMainWindowOpened, dialog);
  open_windows_.push_back(dialog);
  worker();
  open_windows_.pop_back();
  Record(UiEventKind::kMainWindowClosed, dialog);
  return true;
}

void ScriptedUi::AppendReportText(const std::string& text) {
  Record(UiEventKind::kReportText).text = text;
}

void ScriptedUi::ShowHelp() {
  Record(UiEventKind::kHelp);
}

std::optional<uint8_t> ScriptedUi::ChooseFloppyDrive(const std::vector<FloppyDriveChoice>& drives) {
  std::optional<uint8_t> choice;
  if (!drive_answers_.empty()) {
    choice = drive_answers_.front();
    drive_answers_.pop_front();
  } else if (!drives.empty()) {
    choice = drives.front().drive;
  }
  UiEvent& event = Record(UiEventKind::kDriveChoice, kDialogDriveChoice);
  event.drives = drives;
  event.result = choice ? *choice : -1;
  return choice;
}

bool ScriptedUi::RunDestinationDialog(const std::function<bool(const std::string&)>& on_ok) {
  open_windows_.push_back(kDialogDestination);
  bool accepted = false;
  while (!accepted && !destinations_.empty()) {
    const std::string typed = destinations_.front();
    destinations_.pop_front();
    accepted = on_ok(typed);
    UiEvent& event = Record(UiEventKind::kDestinationTyped, kDialogDestination);
    event.text = typed;
    event.result = accepted ? 1 : 0;
  }
  open_windows_.pop_back();
  Record(UiEventKind::kDestinationDialog, kDialogDestination).result = accepted ? 1 : 2;
  return accepted;
}

void ScriptedUi::ShowStartDelayNotice() {
  Record(UiEventKind::kStartNotice, kDialogStartDelay);
}

std::vector<const UiEvent*> ScriptedUi::OfKind(UiEventKind kind) const {
  std::vector<const UiEvent*> out;
  for (const UiEvent& event : events_) {
    if (event.kind == kind) out.push_back(&event);
  }
  return out;
}

std::vector<MessageRequest> ScriptedUi::Messages() const {
  std::vector<MessageRequest> out;
  for (const UiEvent* event : OfKind(UiEventKind::kMessage)) out.push_back(event->message);
  return out;
}

std::vector<int> ScriptedUi::MessageIds() const {
  std::vector<int> out;
  for (const UiEvent* event : OfKind(UiEventKind::kMessage)) out.push_back(event->id);
  return out;
}

MessageRequest ScriptedUi::LastMessage() const {
  const auto messages = OfKind(UiEventKind::kMessage);
  if (messages.empty()) {
    ADD_FAILURE() << "no message box was shown";
    return {};
  }
  return messages.back()->message;
}

std::vector<std::string> ScriptedUi::ControlTexts(int control) const {
  std::vector<std::string> out;
  for (const UiEvent* event : OfKind(UiEventKind::kControlText)) {
    if (event->id == control) out.push_back(event->text);
  }
  return out;
}

std::vector<int> ScriptedUi::ProgressPositions(int control) const {
  std::vector<int> out;
  for (const UiEvent* event : OfKind(UiEventKind::kProgressPosition)) {
    if (event->id == control) out.push_back(event->low);
  }
  return out;
}

std::optional<std::pair<int, int>> ScriptedUi::ProgressRange(int control) const {
  std::optional<std::pair<int, int>> range;
  for (const UiEvent* event : OfKind(UiEventKind::kProgressRange)) {
    if (event->id == control) range = std::make_pair(event->low, event->high);
  }
  return range;
}

bool ScriptedUi::WasHidden(int control) const {
  for (const UiEvent* event : OfKind(UiEventKind::kHideControl)) {
    if (event->id == control) return true;
  }
  return false;
}

std::vector<int> ScriptedUi::WorkDialogs() const {
  std::vector<int> out;
  for (const UiEvent* event : OfKind(UiEventKind::kWorkDialogOpened)) out.push_back(event->id);
  return out;
}

std::vector<int> ScriptedUi::WorkDialogResults() const {
  std::vector<int> out;
  for (const UiEvent* event : OfKind(UiEventKind::kWorkDialogClosed)) out.push_back(event->result);
  return out;
}

std::optional<int> ScriptedUi::MainWindow() const {
  for (const UiEvent& event : events_) {
    if (event.kind == UiEventKind::kMainWindowOpened ||
        event.kind == UiEventKind::kMainWindowFailed) {
      return event.id;
    }
  }
  return std::nullopt;
}

std::string ScriptedUi::ReportText() const {
  std::string text;
  for (const UiEvent* event : OfKind(UiEventKind::kReportText)) text += event->text;
  return text;
}

std::vector<std::string> ScriptedUi::ReportAppends() const {
  std::vector<std::string> out;
  for (const UiEvent* event : OfKind(UiEventKind::kReportText)) out.push_back(event->text);
  return out;
}

int ScriptedUi::HelpShown() const {
  return static_cast<int>(OfKind(UiEventKind::kHelp).size());
}

int ScriptedUi::StartNoticesShown() const {
  return static_cast<int>(OfKind(UiEventKind::kStartNotice).size());
}

int ScriptedUi::DestinationDialogsShown() const {
  return static_cast<int>(OfKind(UiEventKind::kDestinationDialog).size());
}

std::vector<std::string> ScriptedUi::TypedDestinations() const {
  std::vector<std::string> out;
  for (const UiEvent* event : OfKind(UiEventKind::kDestinationTyped)) out.push_back(event->text);
  return out;
}

std::string ScriptedUi::Transcript() const {
  std::ostringstream out;
  for (const UiEvent& e : events_) {
    switch (e.kind) {
      case UiEventKind::kMessage:
        out << "message " << e.id << " [" << e.message.caption << ", "
            << ToString(e.message.buttons) << ", " << ToString(e.message.icon) << ", owner "
            << ToString(e.message.owner) << "] -> " << ToString(e.answer) << ": " << e.text;
        break;
      case UiEventKind::kControlText:
        out << "text " << e.window << "/" << e.id << " = " << e.text;
        break;
      case UiEventKind::kHideControl:
        out << "hide " << e.window << "/" << e.id;
        break;
      case UiEventKind::kProgressRange:
        out << "range " << e.window << "/" << e.id << " " << e.low << ".." << e.high;
        break;
      case UiEventKind::kProgressPosition:
        out << "position " << e.window << "/" << e.id << " " << e.low;
        break;
      case UiEventKind::kPump:
        out << "pump x" << e.result;
        break;
      case UiEventKind::kWorkDialogOpened:
        out << "work dialog " << e.id << " opened";
        break;
      case UiEventKind::kWorkDialogClosed:
        out << "work dialog " << e.id << " closed with " << e.result;
        break;
      case UiEventKind::kMainWindowOpened:
        out << "main window " << e.id << " opened";
        break;
      case UiEventKind::kMainWindowClosed:
        out << "main window " << e.id << " closed";
        break;
      case UiEventKind::kMainWindowFailed:
        out << "main window " << e.id << " failed";
        break;
      case UiEventKind::kReportText:
        out << "report: " << e.text;
        break;
      case UiEventKind::kHelp:
        out << "help";
        break;
      case UiEventKind::kDriveChoice:
        out << "drive choice of " << e.drives.size() << " -> " << e.result;
        break;
      case UiEventKind::kDestinationDialog:
        out << "destination dialog ended with " << e.result;
        break;
      case UiEventKind::kDestinationTyped:
        out << "destination typed '" << e.text << "' -> " << (e.result ? "accepted" : "kept open");
        break;
      case UiEventKind::kStartNotice:
        out << "start notice";
        break;
    }
    out << "\n";
  }
  return out.str();
}

}  // namespace floppyset::testing
