#include "app/command_line.h"

#include <cctype>
#include <string_view>
#include <vector>

#include "ui/messages.h"

namespace floppyset {
namespace {

constexpr char kCaption[] = "SETUP";

// Tokens separated by runs of the space character only: tabs and quotes mean nothing.
std::vector<std::string> SplitOnSpaces(const std::string& line) {
  std::vector<std::string> tokens;
  size_t start = 0;
  while (start < line.size()) {
    if (line[start] == ' ') {
      ++start;
      continue;
    }
    size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    tokens.push_back(line.substr(start, end - start));
    start = end;
  }
  return tokens;
}

void ShowRefusal(Ui& ui, int id, std::string text) {
  ui.ShowMessage({id, std::move(text), kCaption, Buttons::kOk, Icon::kExclamation, Owner::kNone});
}

bool RefuseUnknown(const RunState& state, Ui& ui, const std::string& token) {
  ShowRefusal(ui, kMsgUnknownSwitch,
              FormatMessageId(kMsgUnknownSwitch, token.c_str(), state.ProgramPath.c_str()));
  return false;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// /C:n: the leading digits from the fourth character, kept in 16 bits as the program does.
// The number is checked against DiskCount only once the header is read.
bool ParseSingleDisk(RunState& state, Ui& ui, const std::string& token, bool header_read) {
  if (token.size() < 4 || token[2] != ':' || !IsDigit(token[3])) {
    return RefuseUnknown(state, ui, token);
  }
  uint16_t number = 0;
  for (size_t i = 3; i < token.size() && IsDigit(token[i]); ++i) {
    number = static_cast<uint16_t>(number * 10 + (token[i] - '0'));
  }
  state.ReportFlags |= kFlagSingleDisk;
  state.SingleDiskNumber = number;
  if (header_read && (number == 0 || number > state.Header.DiskCount)) {
    ShowRefusal(ui, kMsgBadDiskNumber, FormatMessageId(kMsgBadDiskNumber, int{number}));
    return false;
  }
  return true;
}

// One token starting with '/'; false when the parse stops here.
bool ApplySwitch(RunState& state, Ui& ui, const std::string& token, bool header_read) {
  const char letter = token.size() < 2
                          ? '\0'
                          : static_cast<char>(std::toupper(static_cast<unsigned char>(token[1])));
  switch (letter) {
    case '?':
      ui.ShowHelp();
      return false;
    case 'A':
      state.ReportFlags |= kFlagAuth;
      return true;
    case 'C':
      return ParseSingleDisk(state, ui, token, header_read);
    case 'D':
      state.Header.UnpackMode = 1;
      state.Header.AutostartMode = 0;
      return true;
    case 'E':
      state.Header.AutostartMode = 1;
      state.Header.UnpackMode = 1;
      return true;
    case 'F':
      state.Header.UnpackMode = 0;
      state.Header.AutostartMode = 0;
      state.FloppySwitch = true;
      return true;
    case 'L':
      state.ReportFlags |= kFlagList;
      return true;
    case 'P':
      state.ReportFlags |= kFlagProduct;
      return true;
    case 'S':
      state.SilentMode = 1;
      return true;
    case 'W':
      state.WaitDialog = 1;
      return true;
    default:
      return RefuseUnknown(state, ui, token);
  }
}

bool ApplySwitches(RunState& state, Ui& ui, const std::string& command_line, bool header_read) {
  const std::vector<std::string> tokens = SplitOnSpaces(command_line);
  // The first token is the program's own path, which on POSIX begins with '/' too.
  for (size_t i = 1; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (token[0] != '/') continue;
    if (!ApplySwitch(state, ui, token, header_read)) return false;
  }
  return true;
}

}  // namespace

SwitchCheck CheckSwitches(const RunState& state, Ui& ui, const std::string& command_line) {
  RunState scratch = state;  // the switches take effect after the header, which they change
  const std::vector<std::string> tokens = SplitOnSpaces(command_line);
  for (size_t i = 1; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (token[0] != '/' || ApplySwitch(scratch, ui, token, false)) continue;
    return token.size() >= 2 && token[1] == '?' ? SwitchCheck::kHelp : SwitchCheck::kUsage;
  }
  return SwitchCheck::kRun;
}

bool AsksForReport(const std::string& command_line) {
  const std::vector<std::string> tokens = SplitOnSpaces(command_line);
  for (size_t i = 1; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (token.size() == 2 && token[0] == '/' &&
        std::string_view("aAlLpP").find(token[1]) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

bool ParseCommandLine(RunState& state, Ui& ui, const std::string& command_line) {
  return ApplySwitches(state, ui, command_line, true);
}

}  // namespace floppyset
