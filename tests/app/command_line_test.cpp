#include "app/command_line.h"

#include <gtest/gtest.h>

#include "support/scripted_ui.h"
#include "ui/messages.h"

namespace floppyset::testing {
namespace {

constexpr char kProgram[] = "/opt/sets/setup.exe";

struct Parsed {
  bool result = false;
  RunState state;
  ScriptedUi ui;
};

// Parses `switches` behind the program path for a three-disk unpack package.
std::unique_ptr<Parsed> Parse(const std::string& switches) {
  auto parsed = std::make_unique<Parsed>();
  parsed->state.ProgramPath = kProgram;
  parsed->state.Header.DiskCount = 3;
  parsed->state.Header.UnpackMode = 1;
  parsed->state.Header.AutostartMode = 1;
  parsed->result = ParseCommandLine(parsed->state, parsed->ui, std::string(kProgram) + switches);
  return parsed;
}

TEST(CommandLine, OnlyTheProgramPathChangesNothing) {
  for (const char* line : {"", " ", "   notes.txt  more-words"}) {
    auto p = Parse(line);
    EXPECT_TRUE(p->result) << line;
    EXPECT_EQ(p->state.ReportFlags, 0);
    EXPECT_EQ(p->state.SilentMode, 0);
    EXPECT_EQ(p->state.Header.UnpackMode, 1);
    EXPECT_EQ(p->state.Header.AutostartMode, 1);
    EXPECT_TRUE(p->ui.Events().empty());
  }
}

TEST(CommandLine, SingleDiskNumberTakesLeadingDigitsInSixteenBits) {
  const std::pair<const char*, uint16_t> cases[] = {
      {" /C:2", 2}, {" /c:2", 2}, {" /C:2x", 2}, {" /C:02", 2}, {" /C:65539", 3}};
  for (const auto& [line, disk] : cases) {
    auto p = Parse(line);
    EXPECT_TRUE(p->result) << line;
    EXPECT_EQ(p->state.SingleDiskNumber, disk) << line;
    EXPECT_EQ(p->state.ReportFlags, kFlagSingleDisk) << line;
    EXPECT_FALSE(p->state.IsReportMode());
  }
}

TEST(CommandLine, DiskNumberOutOfRangeShows513) {
  for (const auto& [line, text] : {std::pair{" /C:0", "Incorrect disk number: 0"},
                                   {" /C:4", "Incorrect disk number: 4"},
                                   {" /C:65536", "Incorrect disk number: 0"}}) {
    auto p = Parse(line);
    EXPECT_FALSE(p->result) << line;
    ASSERT_EQ(p->ui.MessageIds(), std::vector<int>{kMsgBadDiskNumber}) << line;
    const MessageRequest m = p->ui.LastMessage();
    EXPECT_EQ(m.text, text);
    EXPECT_EQ(m.caption, "SETUP");
    EXPECT_EQ(m.icon, Icon::kExclamation);
    EXPECT_EQ(m.owner, Owner::kNone);
  }
}

TEST(CommandLine, UnknownSwitchesShow511WithTokenAndProgramPath) {
  for (const char* token : {"/C:", "/Cx", "/C", "/", "/X", "/1", "/-L"}) {
    auto p = Parse(std::string(" ") + token + " /L");
    EXPECT_FALSE(p->result) << token;
    EXPECT_EQ(p->ui.MessageIds(), std::vector<int>{kMsgUnknownSwitch}) << token;
    EXPECT_EQ(p->ui.LastMessage().text, std::string("Unknown command line parameter: ") + token +
                                            ".\nRun " + kProgram + " /? for help.");
    EXPECT_EQ(p->ui.LastMessage().icon, Icon::kExclamation);
    EXPECT_EQ(p->state.ReportFlags & kFlagList, 0) << "tokens after the error are not read";
  }
}

TEST(CommandLine, ParseStopsAtFirstErrorKeepingEarlierSwitches) {
  auto p = Parse(" /S /X /L");
  EXPECT_FALSE(p->result);
  EXPECT_EQ(p->state.SilentMode, 1);
  EXPECT_EQ(p->state.ReportFlags, 0);
}

TEST(CommandLine, HelpStopsWithoutReadingFurther) {
  auto p = Parse(" /? /X");
  EXPECT_FALSE(p->result);
  EXPECT_EQ(p->ui.HelpShown(), 1);
  EXPECT_TRUE(p->ui.Messages().empty());
}

TEST(CommandLine, LastOfForcedModesWinsAndLettersAloneCount) {
  const struct {
    const char* line;
    uint16_t unpack, autostart;
  } cases[] = {{" /E /F", 0, 0}, {" /F /E", 1, 1}, {" /E /D", 1, 0}, {" /Force", 0, 0}};
  for (const auto& c : cases) {
    auto p = Parse(c.line);
    EXPECT_TRUE(p->result) << c.line;
    EXPECT_EQ(p->state.Header.UnpackMode, c.unpack) << c.line;
    EXPECT_EQ(p->state.Header.AutostartMode, c.autostart) << c.line;
  }
}

TEST(CommandLine, FlagsCombineAndOnlySpacesSeparate) {
  auto p = Parse(" /list /p /a /L /silent /wait");
  EXPECT_TRUE(p->result);
  EXPECT_EQ(p->state.ReportFlags, kFlagList | kFlagProduct | kFlagAuth);
  EXPECT_EQ(p->state.SilentMode, 1);
  EXPECT_EQ(p->state.WaitDialog, 1);

  auto tabbed = Parse(" /L\t/P");  // one token: only its letter counts
  EXPECT_TRUE(tabbed->result);
  EXPECT_EQ(tabbed->state.ReportFlags, kFlagList);

  auto report = Parse(" /L /C:2");
  EXPECT_TRUE(report->state.IsReportMode());
}

}  // namespace
}  // namespace floppyset::testing
