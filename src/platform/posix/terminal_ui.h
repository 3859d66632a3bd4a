// The Ui of the Linux tool. Message boxes go to standard error and read their answer from
// the terminal; reports go to standard output; the progress windows become one updating line
// on a terminal. Without a terminal on standard input, questions get --yes / --no or the
// conservative answer, so a script never waits.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/host.h"
#include "platform/posix/options.h"
#include "ui/ui.h"

namespace floppyset {

struct TerminalSettings {
  AutoAnswer auto_answer = AutoAnswer::kAsk;
  std::optional<std::string> destination;  // answers the destination dialog once
  bool input_is_terminal = false;          // questions may be asked on standard input
  bool show_progress = false;              // standard error is a terminal
  int text_code_page = 0;  // message texts are shown as UTF-8 from this page (0: as stored)
  bool quiet = false;      // only errors, and questions that must be asked
};

struct TerminalStreams {
  FILE* in = stdin;
  FILE* out = stdout;
  FILE* err = stderr;
};

class TerminalUi : public Ui {
 public:
  TerminalUi(Host& host, TerminalSettings settings, TerminalStreams streams = {});
  ~TerminalUi() override;
  TerminalUi(const TerminalUi&) = delete;
  TerminalUi& operator=(const TerminalUi&) = delete;

  Answer ShowMessage(const MessageRequest& request) override;
  void SetControlText(int control, const std::string& text) override;
  void HideControl(int control) override;
  void SetProgressRange(int control, int low, int high) override;
  void SetProgressPosition(int control, int position) override;
  void PumpOneMessage() override {}
  int RunWorkDialog(int dialog, const std::function<int()>& work) override;
  bool RunMainWindow(int dialog, const std::function<void()>& worker) override;
  void AppendReportText(const std::string& text) override;
  void ShowHelp() override;
  std::optional<uint8_t> ChooseFloppyDrive(const std::vector<FloppyDriveChoice>& drives) override;
  bool RunDestinationDialog(const std::function<bool(const std::string& typed)>& on_ok) override;
  void ShowStartDelayNotice() override;

  // Called with the dialog and its result when a work dialog (104, 105, 111) has ended.
  void SetWorkDialogHook(std::function<void(int dialog, int result)> hook);

  // The work dialog or main window on top (0 when none).
  int CurrentWindow();
  // Questions answered Cancel or No because nobody could be asked.
  int unasked_questions() const { return unasked_questions_; }
  // The --dest directory was refused by the destination rules.
  bool destination_refused() const { return destination_refused_; }

  // Prints a line of the tool's own to standard error (clears the progress line first).
  void Note(const std::string& text);
  // The same for a line that is no error: not said when quiet.
  void Info(const std::string& text);

 private:
  struct Bar {
    int low = 0;
    int high = 100;
    int position = 0;
  };

  std::optional<Answer> AnswerWithoutAsking(Buttons buttons, const std::string& text, bool silent);
  Answer AskOnTerminal(Buttons buttons);
  std::optional<std::string> ReadLine();
  void Print(FILE* stream, const std::string& text);
  std::string Visible(std::string_view text) const;
  std::string InTerminalCharset(const std::string& text) const;
  void ClearProgressLine();
  void RedrawProgress();
  std::string ProgressLine() const;
  void ResetWindow(int dialog);

  Host& host_;
  TerminalSettings settings_;
  TerminalStreams streams_;
  std::function<void(int, int)> work_dialog_hook_;

  std::recursive_mutex mutex_;  // output and window state; the worker and the notice share it
  int window_ = 0;              // the dialog on top, 0 when none
  std::map<int, std::string> texts_;
  std::map<int, Bar> bars_;
  std::vector<int> hidden_;
  std::string shown_line_;  // the progress line on the terminal, empty when none
  bool pending_cr_ = false;

  bool destination_used_ = false;
  bool destination_refused_ = false;
  int unasked_questions_ = 0;
  std::map<std::string, int> yes_answers_;  // question text -> times --yes answered it

  std::unique_ptr<NamedSemaphore> installer_semaphore_;
  std::thread notice_watcher_;
  std::atomic<bool> closing_{false};
  std::atomic<bool> watcher_done_{false};
};

// Whether the user's locale (LC_ALL, LC_CTYPE, LANG) is UTF-8, without changing the locale
// of the program.
bool TerminalIsUtf8();

// Texts of a package (product name, final message, file names) may hold terminal escape
// sequences: control characters other than line breaks and tabs become "\x1b"-like escapes,
// and a NUL ends the text. C1 controls are escaped as UTF-8 (0xC2 0x80-0x9F) on a UTF-8
// terminal, as the bytes 0x80-0x9F otherwise (0x9B is CSI on the Linux console).
std::string VisibleText(std::string_view text, bool utf8 = TerminalIsUtf8());

// Flushes standard output; the reason in words when anything written to it was lost (a full
// disk, a closed pipe), else empty.
std::string FinishStandardOutput();
// Flushes standard output between files, keeping the cause of a failure for the end.
void NoteStandardOutputFlush();

// Makes a typed path absolute against the current directory ("~/" is the home).
std::string AbsolutePath(const std::string& typed);

}  // namespace floppyset
