#include "support/scripted_ui.h"

#include <gtest/gtest.h>

namespace floppyset::testing {

UiEvent& ScriptedUi::Record(UiEventKind kind, int id) {
  UiEvent& event = events_.emplace_back();
  event.kind = kind;
  event.id = id;
  return event;
}

std::vector<UiEvent> ScriptedUi::Of(UiEventKind kind, int id) const {
  std::vector<UiEvent> out;
  for (const UiEvent& e : events_) {
    if (e.kind == kind && (id == -1 || e.id == id)) out.push_back(e);
  }
  return out;
}

MessageRequest ScriptedUi::LastMessage() const {
  const std::vector<MessageRequest> messages = Messages();
  if (!messages.empty()) return messages.back();
  ADD_FAILURE() << "no message box was shown";
  return {};
}

std::string ScriptedUi::ReportText() const {
  std::string text;
  for (const UiEvent& e : Of(UiEventKind::kReportText)) text += e.text;
  return text;
}

Answer ScriptedUi::ShowMessage(const MessageRequest& request) {
  if (on_message_) on_message_(request);
  Answer answer = Answer::kOk;
  if (request.buttons != Buttons::kOk) {
    if (!answers_.empty()) {
      const auto [id, scripted] = answers_.front();
      answers_.pop_front();
      EXPECT_TRUE(id == 0 || id == request.message_id)
          << "expected question " << id << ", got " << request.message_id << ": " << request.text;
      answer = scripted;
    } else if (default_answer_) {
      answer = *default_answer_;
    } else {
      ADD_FAILURE() << "unexpected question " << request.message_id << ": " << request.text;
      answer = request.buttons == Buttons::kYesNo ? Answer::kNo : Answer::kCancel;
    }
  }
  Record(UiEventKind::kMessage, request.message_id).message = request;
  return answer;
}

void ScriptedUi::PumpOneMessage() {
  // Pumps are frequent and say nothing to the user: a run of them is one event.
  if (events_.empty() || events_.back().kind != UiEventKind::kPump) Record(UiEventKind::kPump);
}

int ScriptedUi::RunWorkDialog(int dialog, const std::function<int()>& work) {
  Record(UiEventKind::kWorkDialog, dialog);
  const int result = work();
  if (after_work_) after_work_(dialog);
  return result;
}

bool ScriptedUi::RunMainWindow(int dialog, const std::function<void()>& worker) {
  Record(UiEventKind::kMainWindow, dialog);
  if (!fail_main_window_) worker();
  return !fail_main_window_;
}

std::optional<uint8_t> ScriptedUi::ChooseFloppyDrive(const std::vector<FloppyDriveChoice>& drives) {
  std::optional<uint8_t> choice;
  if (!drives_.empty()) {
    choice = drives_.front();
    drives_.pop_front();
  } else if (!drives.empty()) {
    choice = drives.front().drive;
  }
  Record(UiEventKind::kDriveChoice, kDialogDriveChoice).drives = drives;
  return choice;
}

bool ScriptedUi::RunDestinationDialog(const std::function<bool(const std::string&)>& on_ok) {
  bool accepted = false;
  while (!accepted && !typed_.empty()) {
    accepted = on_ok(typed_.front());
    typed_.pop_front();
  }
  Record(UiEventKind::kDestinationDialog, kDialogDestination);
  return accepted;
}

}  // namespace floppyset::testing
