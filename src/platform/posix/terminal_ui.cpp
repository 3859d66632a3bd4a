#include "platform/posix/terminal_ui.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/codepage.h"

namespace floppyset {
namespace {

constexpr char kNoticeText[] =
    "There may by very long delay with setup starting on the some platforms. It may take "
    "several minutes. Please close all other tasks and wait.";
constexpr char kInstallerSemaphore[] = "TavelotSetupSemaphore";
constexpr int kBarWidth = 20;
// How often --yes says yes to one and the same question.
constexpr int kMaxYesRepeats = 2;

bool IsExtractionDialog(int dialog) {
  return dialog == kDialogBannerExtraction || dialog == kDialogPlainExtraction;
}

// "\r\n" and lone "\r" become "\n"; every line after the first is indented under the caption.
std::string BoxText(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      c = '\n';
    }
    out += c;
    if (c == '\n') out += "  ";
  }
  return out;
}

struct ButtonWords {
  const char* prompt;
  const char* keys;  // shown only when the answer is typed
  const char* first_word;
  const char* second_word;  // null for a plain OK box
  Answer first;
  Answer second;
};

ButtonWords WordsOf(Buttons buttons) {
  switch (buttons) {
    case Buttons::kOkCancel:
      return {"OK or Cancel?", " [o/c] ", "OK", "Cancel", Answer::kOk, Answer::kCancel};
    case Buttons::kYesNo:
      return {"Yes or No?", " [y/n] ", "Yes", "No", Answer::kYes, Answer::kNo};
    case Buttons::kRetryCancel:
      return {"Retry or Cancel?", " [r/c] ", "Retry", "Cancel", Answer::kRetry, Answer::kCancel};
    case Buttons::kOk:
      break;
  }
  return {"Press Enter to continue.", " ", "OK", nullptr, Answer::kOk, Answer::kOk};
}

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

size_t TerminalWidth(FILE* stream) {
  winsize size{};
  if (::ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 10) return size.ws_col;
  return 80;
}

std::string BarText(int low, int high, int position) {
  const int span = std::max(high - low, 1);
  const int done = std::clamp(position - low, 0, span);
  const int filled = static_cast<int>(int64_t{done} * kBarWidth / span);
  const int percent = static_cast<int>(int64_t{done} * 100 / span);
  return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
         std::to_string(percent) + "%";
}

std::string Escaped(unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  return std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
}

// The first failure to write standard output, for FinishStandardOutput.
std::atomic<int> standard_output_errno{0};

}  // namespace

void NoteStandardOutputFlush() {
  if (std::fflush(stdout) != 0 && standard_output_errno == 0) standard_output_errno = errno;
}

std::string FinishStandardOutput() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && !std::ferror(stdout)) return "";
  const int error = standard_output_errno != 0 ? standard_output_errno.load() : errno;
  return error != 0 ? std::strerror(error) : "write error";
}

bool TerminalIsUtf8() {
  static const bool utf8 = [] {
    const locale_t locale = ::newlocale(LC_CTYPE_MASK, "", nullptr);
    if (locale == nullptr) return false;
    const char* codeset = ::nl_langinfo_l(CODESET, locale);
    const bool is_utf8 = codeset && std::strcmp(codeset, "UTF-8") == 0;
    ::freelocale(locale);
    return is_utf8;
  }();
  return utf8;
}

std::string VisibleText(std::string_view text, bool utf8) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\0') break;
    if (c == '\n' || c == '\r' || c == '\t') {
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F || (!utf8 && c >= 0x80 && c <= 0x9F)) {
      // In an 8-bit character set 0x80-0x9F are the C1 controls themselves.
      out += Escaped(c);
    } else if (utf8 && c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      // A C1 control in UTF-8 (0x9B is CSI for some terminals).
      out += Escaped(c) + Escaped(static_cast<unsigned char>(text[++i]));
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string AbsolutePath(const std::string& typed) {
  std::string path = typed;
  const char* home = std::getenv("HOME");
  if (home && (path == "~" || path.starts_with("~/"))) path = home + path.substr(1);
  if (path.empty() || path.front() == '/') return path;
  char cwd[4096];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  std::string base = cwd;
  if (path == ".") return base;
  if (path.starts_with("./")) path = path.substr(2);
  return base == "/" ? "/" + path : base + "/" + path;
}

TerminalUi::TerminalUi(Host& host, TerminalSettings settings, TerminalStreams streams)
    : host_(host), settings_(std::move(settings)), streams_(streams) {}

TerminalUi::~TerminalUi() {
  if (!notice_watcher_.joinable()) return;
  // The installer never released the notice: wake the watcher ourselves, quietly.
  closing_ = true;
  if (!watcher_done_) installer_semaphore_->Release();
  notice_watcher_.join();
}

void TerminalUi::SetWorkDialogHook(std::function<void(int dialog, int result)> hook) {
  work_dialog_hook_ = std::move(hook);
}

void TerminalUi::Print(FILE* stream, const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() || std::fflush(stream) != 0) {
    if (stream == stdout && standard_output_errno == 0) standard_output_errno = errno;
  }
}

std::string TerminalUi::Visible(std::string_view text) const {
  // Texts shown as stored are bytes of an 8-bit character set.
  return VisibleText(text, settings_.text_code_page != 0);
}

std::string TerminalUi::InTerminalCharset(const std::string& text) const {
  // Messages carry package texts and host paths (already UTF-8) side by side.
  return settings_.text_code_page == 0 ? text : MixedToUtf8(text, settings_.text_code_page);
}

void TerminalUi::Note(const std::string& text) {
  std::lock_guard lock(mutex_);
  ClearProgressLine();
  Print(streams_.err, Visible(text) + "\n");
}

void TerminalUi::Info(const std::string& text) {
  if (!settings_.quiet) Note(text);
}

// --- message boxes ---------------------------------------------------------------------

Answer TerminalUi::ShowMessage(const MessageRequest& request) {
  std::lock_guard lock(mutex_);
  ClearProgressLine();
  // Quiet: errors and warnings are said, anything else only when it must be asked.
  const bool error = request.icon == Icon::kStop || request.icon == Icon::kExclamation;
  const bool silent = settings_.quiet && !error;
  const std::string shown =
      Visible(request.caption) + ": " + BoxText(Visible(InTerminalCharset(request.text))) + "\n";
  if (!silent) Print(streams_.err, shown);
  if (const std::optional<Answer> answer =
          AnswerWithoutAsking(request.buttons, request.text, silent)) {
    return *answer;
  }
  if (silent) Print(streams_.err, shown);
  return AskOnTerminal(request.buttons);
}

std::optional<Answer> TerminalUi::AnswerWithoutAsking(Buttons buttons, const std::string& text,
                                                      bool silent) {
  const ButtonWords words = WordsOf(buttons);
  const bool plain_ok = words.second_word == nullptr;
  if (plain_ok && (settings_.auto_answer != AutoAnswer::kAsk || !settings_.input_is_terminal)) {
    return Answer::kOk;
  }
  std::string reason;
  Answer answer = words.second;
  if (settings_.auto_answer == AutoAnswer::kYes) {
    // Retrying a failing floppy without anyone to change it would only loop, and so would
    // saying yes to the same question again and again (the insert prompt after an error).
    const bool repeated = ++yes_answers_[text] > kMaxYesRepeats;
    answer = buttons == Buttons::kRetryCancel || repeated ? words.second : words.first;
    reason = repeated ? "--yes, asked once too often" : "--yes";
  } else if (settings_.auto_answer == AutoAnswer::kNo) {
    reason = "--no";
  } else if (!settings_.input_is_terminal) {
    ++unasked_questions_;
    reason = "no terminal to ask";
  } else {
    return std::nullopt;
  }
  if (!silent) {
    Print(streams_.err,
          std::string(words.prompt) + " " + ButtonText(answer) + " (" + reason + ")\n");
  }
  return answer;
}

Answer TerminalUi::AskOnTerminal(Buttons buttons) {
  const ButtonWords words = WordsOf(buttons);
  for (;;) {
    Print(streams_.err, std::string(words.prompt) + words.keys);
    const std::optional<std::string> line = ReadLine();
    if (!line) {
      Print(streams_.err, "\n");
      return words.second;  // end of input: the conservative choice
    }
    if (!words.second_word) return Answer::kOk;
    const std::string typed = Lowercase(Trimmed(*line));
    if (typed.empty()) continue;
    if (Lowercase(words.first_word).starts_with(typed)) return words.first;
    if (Lowercase(words.second_word).starts_with(typed)) return words.second;
  }
}

std::optional<std::string> TerminalUi::ReadLine() {
  std::string line;
  for (int c; (c = std::fgetc(streams_.in)) != EOF;) {
    if (c == '\n') return line;
    line += static_cast<char>(c);
  }
  if (line.empty()) return std::nullopt;
  return line;
}

// --- progress --------------------------------------------------------------------------

void TerminalUi::ResetWindow(int dialog) {
  window_ = dialog;
  texts_.clear();
  bars_.clear();
  hidden_.clear();
}

void TerminalUi::SetControlText(int control, const std::string& text) {
  std::lock_guard lock(mutex_);
  texts_[control] = Visible(text);
  RedrawProgress();
}

void TerminalUi::HideControl(int control) {
  std::lock_guard lock(mutex_);
  hidden_.push_back(control);
  RedrawProgress();
}

void TerminalUi::SetProgressRange(int control, int low, int high) {
  std::lock_guard lock(mutex_);
  Bar& bar = bars_[control];
  bar.low = low;
  bar.high = high;
  RedrawProgress();
}

void TerminalUi::SetProgressPosition(int control, int position) {
  std::lock_guard lock(mutex_);
  bars_[control].position = position;
  RedrawProgress();
}

std::string TerminalUi::ProgressLine() const {
  auto visible = [this](int control) {
    return std::find(hidden_.begin(), hidden_.end(), control) == hidden_.end();
  };
  auto text = [&](int control) -> std::string {
    const auto it = texts_.find(control);
    return it != texts_.end() && visible(control) ? it->second : "";
  };
  auto bar = [&](int control) -> std::string {
    const auto it = bars_.find(control);
    if (it == bars_.end() || !visible(control)) return "";
    return BarText(it->second.low, it->second.high, it->second.position);
  };

  std::vector<std::string> parts;
  if (IsExtractionDialog(window_)) {
    parts = {"Extracting disk images", bar(kControlExtractionBar)};
  } else if (window_ == kDialogBannerProgress || window_ == kDialogPlainProgress) {
    parts = {text(kControlDiskText), bar(kControlDiskBar), text(kControlTrackText)};
  }
  std::string line;
  for (const std::string& part : parts) {
    if (part.empty()) continue;
    if (!line.empty()) line += "  ";
    line += part;
  }
  if (parts.size() > 1 && (parts[0].empty() || parts[1].empty())) return "";  // not started
  return line;
}

void TerminalUi::RedrawProgress() {
  if (!settings_.show_progress) return;
  std::string line = ProgressLine();
  const size_t width = TerminalWidth(streams_.err) - 1;
  if (line.size() > width) line.resize(width);
  if (line == shown_line_) return;
  if (line.empty()) return ClearProgressLine();
  Print(streams_.err, "\r" + line + "\x1b[K");
  shown_line_ = line;
}

void TerminalUi::ClearProgressLine() {
  if (shown_line_.empty()) return;
  Print(streams_.err, "\r\x1b[K");
  shown_line_.clear();
}

// --- windows ---------------------------------------------------------------------------

int TerminalUi::CurrentWindow() {
  std::lock_guard lock(mutex_);
  return window_;
}

int TerminalUi::RunWorkDialog(int dialog, const std::function<int()>& work) {
  {
    std::lock_guard lock(mutex_);
    ResetWindow(dialog);
  }
  const int result = work();
  {
    std::lock_guard lock(mutex_);
    ClearProgressLine();
    ResetWindow(0);
  }
  if (work_dialog_hook_) work_dialog_hook_(dialog, result);
  return result;
}

bool TerminalUi::RunMainWindow(int dialog, const std::function<void()>& worker) {
  {
    std::lock_guard lock(mutex_);
    ResetWindow(dialog);
  }
  try {
    std::thread thread(worker);
    thread.join();
  } catch (const std::system_error&) {
    return false;  // no worker thread: like a window that cannot be made
  }
  std::lock_guard lock(mutex_);
  ClearProgressLine();
  if (pending_cr_) Print(streams_.out, "\n");
  pending_cr_ = false;
  ResetWindow(0);
  return true;
}

void TerminalUi::AppendReportText(const std::string& text) {
  std::lock_guard lock(mutex_);
  ClearProgressLine();
  std::string out;
  for (const char c : Visible(text)) {
    if (pending_cr_ && c != '\n') out += '\n';
    pending_cr_ = c == '\r';
    if (!pending_cr_) out += c;
  }
  Print(streams_.out, out);
}

// --- dialogs ---------------------------------------------------------------------------

void TerminalUi::ShowHelp() {
  std::lock_guard lock(mutex_);
  ClearProgressLine();
  Print(streams_.out, HelpText());
}

std::optional<uint8_t> TerminalUi::ChooseFloppyDrive(const std::vector<FloppyDriveChoice>& drives) {
  std::lock_guard lock(mutex_);
  ClearProgressLine();
  if (drives.empty()) {
    Print(streams_.err,
          "Select floppy drive: no floppy drive was found (see --device=PATH and --drive=DIR)\n");
    return std::nullopt;
  }
  std::string list = "Select floppy drive:\n";
  for (size_t i = 0; i < drives.size(); ++i) {
    list += "  " + std::to_string(i + 1) + ") " + drives[i].label + "\n";
  }
  Print(streams_.err, list);

  if (settings_.auto_answer == AutoAnswer::kYes) {
    Print(streams_.err, "Drive: 1 (--yes)\n");
    return drives.front().drive;
  }
  if (settings_.auto_answer == AutoAnswer::kNo || !settings_.input_is_terminal) {
    if (settings_.auto_answer == AutoAnswer::kAsk) ++unasked_questions_;
    Print(streams_.err, settings_.auto_answer == AutoAnswer::kNo
                            ? "Drive: Cancel (--no)\n"
                            : "Drive: Cancel (no terminal to ask)\n");
    return std::nullopt;
  }
  for (;;) {
    Print(streams_.err, "Drive number, or c to cancel [1]: ");
    const std::optional<std::string> line = ReadLine();
    if (!line) {
      Print(streams_.err, "\n");
      return std::nullopt;
    }
    const std::string typed = Lowercase(Trimmed(*line));
    if (typed.empty()) return drives.front().drive;
    if (typed == "c" || typed == "cancel") return std::nullopt;
    const int number = std::atoi(typed.c_str());
    if (number >= 1 && static_cast<size_t>(number) <= drives.size()) {
      return drives[static_cast<size_t>(number - 1)].drive;
    }
  }
}

bool TerminalUi::RunDestinationDialog(const std::function<bool(const std::string& typed)>& on_ok) {
  if (settings_.destination && !destination_used_) {
    destination_used_ = true;
    const std::string directory = AbsolutePath(*settings_.destination);
    const int unasked_before = unasked_questions_;
    if (on_ok(directory)) return true;
    destination_refused_ = true;
    Note("floppyset: the destination " + directory + " was not accepted" +
         (unasked_questions_ > unasked_before ? " (--yes creates a missing directory)" : ""));
    return false;
  }
  if (settings_.auto_answer != AutoAnswer::kAsk || !settings_.input_is_terminal) {
    if (settings_.auto_answer == AutoAnswer::kAsk) ++unasked_questions_;
    Info("Enter directory for image unpack: Cancel (give it with --dest=DIR)");
    return false;
  }
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      ClearProgressLine();
      Print(streams_.err, "Enter directory for image unpack (empty line to cancel): ");
    }
    const std::optional<std::string> line = ReadLine();
    if (!line || Trimmed(*line).empty()) {
      if (!line) Note("");
      return false;
    }
    if (on_ok(AbsolutePath(Trimmed(*line)))) return true;
  }
}

void TerminalUi::ShowStartDelayNotice() {
  std::lock_guard lock(mutex_);
  ClearProgressLine();
  Print(streams_.err, std::string("Setup: ") + kNoticeText + "\n");
  if (notice_watcher_.joinable()) return;  // one notice per run
  // The semaphore exists before this returns, so the installer's release cannot be missed.
  installer_semaphore_ = host_.OpenNamedSemaphore(kInstallerSemaphore);
  if (!installer_semaphore_) {
    Print(streams_.err, "Setup: the notice is closed.\n");
    return;
  }
  notice_watcher_ = std::thread([this] {
    installer_semaphore_->Wait();
    watcher_done_ = true;
    if (!closing_) Info("Setup: the installer has started; the notice is closed.");
  });
}

}  // namespace floppyset
