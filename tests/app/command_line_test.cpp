#include "app/command_line.h"

#include <gtest/gtest.h>

#include "support/scripted_ui.h"
#include "ui/messages.h"

namespace floppyset::testing {
namespace {

// Every switch line behind the program path of a three-disk unpack autostart package: what it
// sets, and the message (or help) that stops the parse.
TEST(CommandLine, SwitchesSetTheRunOrStopIt) {
  const std::string program = "/opt/sets/setup.exe";
  const std::string unknown = "Unknown command line parameter: ";
  const std::string help = ".\nRun " + program + " /? for help.";
  const struct {
    std::string line;
    bool ok;
    uint16_t flags, silent, unpack, autostart, disk;
    std::string said;  // the one message's text, "help" for the help window
  } cases[] = {
      {"   notes.txt  more-words", true, 0, 0, 1, 1, 0, ""},
      {" /c:2x", true, kFlagSingleDisk, 0, 1, 1, 2, ""},
      {" /C:65539", true, kFlagSingleDisk, 0, 1, 1, 3, ""},  // sixteen bits
      {" /C:0", false, kFlagSingleDisk, 0, 1, 1, 0, "Incorrect disk number: 0"},
      {" /C:4", false, kFlagSingleDisk, 0, 1, 1, 4, "Incorrect disk number: 4"},
      {" /C: /L", false, 0, 0, 1, 1, 0, unknown + "/C:" + help},
      {" /Cx", false, 0, 0, 1, 1, 0, unknown + "/Cx" + help},
      {" / /L", false, 0, 0, 1, 1, 0, unknown + "/" + help},
      {" /S /X /L", false, 0, 1, 1, 1, 0, unknown + "/X" + help},
      {" /? /X", false, 0, 0, 1, 1, 0, "help"},
      {" /E /F", true, 0, 0, 0, 0, 0, ""},
      {" /F /E", true, 0, 0, 1, 1, 0, ""},
      {" /E /D", true, 0, 0, 1, 0, 0, ""},
      {" /list /p /a /silent /wait", true, kFlagList | kFlagProduct | kFlagAuth, 1, 1, 1, 0, ""},
      {" /L\t/P", true, kFlagList, 0, 1, 1, 0, ""},  // one token: only its letter counts
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    RunState state;
    ScriptedUi ui;
    state.ProgramPath = program;
    state.Header.DiskCount = 3;
    state.Header.UnpackMode = state.Header.AutostartMode = 1;
    EXPECT_EQ(ParseCommandLine(state, ui, program + c.line), c.ok);
    EXPECT_EQ(state.ReportFlags, c.flags);
    EXPECT_EQ(state.SilentMode, c.silent);
    EXPECT_EQ(state.WaitDialog, c.line.find("/wait") != std::string::npos);
    EXPECT_EQ(state.Header.UnpackMode, c.unpack);
    EXPECT_EQ(state.Header.AutostartMode, c.autostart);
    EXPECT_EQ(state.SingleDiskNumber, c.disk);
    EXPECT_EQ(ui.Count(UiEventKind::kHelp), c.said == "help");
    if (c.said.empty() || c.said == "help") {
      EXPECT_TRUE(ui.Messages().empty());
    } else {
      ASSERT_EQ(ui.Messages().size(), 1u);
      EXPECT_EQ(ui.LastMessage().text, c.said);
      EXPECT_EQ(ui.LastMessage().icon, Icon::kExclamation);
    }
  }
}

}  // namespace
}  // namespace floppyset::testing
