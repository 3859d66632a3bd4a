#include "platform/posix/terminal_ui.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/posix/posix_host.h"

namespace floppyset {
namespace {

// A TerminalUi over in-memory streams: typed input, captured output and error.
class TerminalUiTest : public ::testing::Test {
 protected:
  ~TerminalUiTest() override { Close(); }

  void Close() {
    ui_.reset();
    for (FILE* stream : {streams_.in, streams_.out, streams_.err}) {
      if (stream) std::fclose(stream);
    }
    std::free(out_buffer_);
    std::free(err_buffer_);
    out_buffer_ = err_buffer_ = nullptr;
  }

  TerminalUi& MakeUi(TerminalSettings settings, const std::string& typed = "") {
    Close();
    input_ = typed;
    streams_.in =
        input_.empty() ? std::fopen("/dev/null", "r") : fmemopen(input_.data(), input_.size(), "r");
    streams_.out = open_memstream(&out_buffer_, &out_size_);
    streams_.err = open_memstream(&err_buffer_, &err_size_);
    ui_ = std::make_unique<TerminalUi>(host_, std::move(settings), streams_);
    return *ui_;
  }
  TerminalUi& Terminal(const std::string& typed) {
    TerminalSettings settings;
    settings.input_is_terminal = true;
    return MakeUi(settings, typed);
  }
  TerminalUi& Script(AutoAnswer answer = AutoAnswer::kAsk) {
    TerminalSettings settings;
    settings.auto_answer = answer;
    return MakeUi(settings, "left unread\n");
  }

  std::string Out() {
    std::fflush(streams_.out);
    return std::string(out_buffer_, out_size_);
  }
  std::string Err() {
    std::fflush(streams_.err);
    return std::string(err_buffer_, err_size_);
  }

  static MessageRequest Question(Buttons buttons, const std::string& text = "Go on?") {
    return {0, text, "SETUP", buttons, Icon::kQuestion, Owner::kMainWindow};
  }

  PosixHost host_;
  TerminalStreams streams_{nullptr, nullptr, nullptr};
  std::string input_;
  char* out_buffer_ = nullptr;
  size_t out_size_ = 0;
  char* err_buffer_ = nullptr;
  size_t err_size_ = 0;
  std::unique_ptr<TerminalUi> ui_;
};

TEST_F(TerminalUiTest, QuestionsOnATerminalReadTheAnswerUntilItIsOne) {
  TerminalUi& ui = Terminal("maybe\n  YES \nc\nr\n");
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kYesNo, "Unpack?\nReally?")), Answer::kYes);
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kOkCancel)), Answer::kCancel);
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kRetryCancel)), Answer::kRetry);
  EXPECT_EQ(Err(),
            "SETUP: Unpack?\n  Really?\nYes or No? [y/n] Yes or No? [y/n] "
            "SETUP: Go on?\nOK or Cancel? [o/c] "
            "SETUP: Go on?\nRetry or Cancel? [r/c] ");
  EXPECT_EQ(Out(), "");
}

TEST_F(TerminalUiTest, EndOfInputOnATerminalIsTheConservativeAnswer) {
  TerminalUi& ui = Terminal("");
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kOkCancel)), Answer::kCancel);
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kYesNo)), Answer::kNo);
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kOk)), Answer::kOk);
}

TEST_F(TerminalUiTest, WithoutATerminalQuestionsAreAnsweredCancelOrNoAndSaySo) {
  TerminalUi& ui = Script();
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kOkCancel)), Answer::kCancel);
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kYesNo)), Answer::kNo);
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kRetryCancel)), Answer::kCancel);
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kOk, "Done.")), Answer::kOk);
  EXPECT_EQ(ui.unasked_questions(), 3);
  EXPECT_EQ(Err(),
            "SETUP: Go on?\nOK or Cancel? Cancel (no terminal to ask)\n"
            "SETUP: Go on?\nYes or No? No (no terminal to ask)\n"
            "SETUP: Go on?\nRetry or Cancel? Cancel (no terminal to ask)\n"
            "SETUP: Done.\n");
  EXPECT_EQ(std::fgetc(streams_.in), 'l');  // nothing was read
}

TEST_F(TerminalUiTest, YesAnswersEveryQuestionButRetry) {
  TerminalUi& ui = Script(AutoAnswer::kYes);
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kOkCancel)), Answer::kOk);
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kYesNo)), Answer::kYes);
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kRetryCancel)), Answer::kCancel);
  EXPECT_EQ(ui.unasked_questions(), 0);
  EXPECT_NE(Err().find("OK or Cancel? OK (--yes)\n"), std::string::npos);

  // The same question over and over (an insert prompt after each failure) ends in Cancel.
  const MessageRequest insert = Question(Buttons::kOkCancel, "Insert disk 1");
  EXPECT_EQ(ui.ShowMessage(insert), Answer::kOk);
  EXPECT_EQ(ui.ShowMessage(insert), Answer::kOk);
  EXPECT_EQ(ui.ShowMessage(insert), Answer::kCancel);
  EXPECT_NE(Err().find("OK or Cancel? Cancel (--yes, asked once too often)\n"), std::string::npos);
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kOkCancel, "Insert disk 2")), Answer::kOk);
}

TEST_F(TerminalUiTest, NoAnswersEveryQuestionNo) {
  TerminalUi& ui = Script(AutoAnswer::kNo);
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kOkCancel)), Answer::kCancel);
  EXPECT_EQ(ui.ShowMessage(Question(Buttons::kYesNo)), Answer::kNo);
}

TEST_F(TerminalUiTest, ReportTextGoesToStandardOutputWithHostLineEnds) {
  TerminalUi& ui = Script();
  ui.RunMainWindow(kDialogReport, [&] {
    ui.AppendReportText("Image 1:\r\n");
    ui.AppendReportText("a\r");  // a line end split between two appends
    ui.AppendReportText("\nb\r\n\r\n");
  });
  EXPECT_EQ(Out(), "Image 1:\na\nb\n\n");
  EXPECT_EQ(Err(), "");
}

// Texts of a package reach the terminal with their control characters made visible: no
// escape sequence (screen clear, window title, clipboard) passes, and a NUL ends the text.
TEST_F(TerminalUiTest, ControlCharactersOfPackageTextsAreShownVisibly) {
  struct Case {
    std::string stored, shown;
  };
  for (const Case& c : {Case{"\x1b[2J\x1b]0;title\x07", "\\x1b[2J\\x1b]0;title\\x07"},
                        Case{"\x1b]52;c;ZXZpbA==\x1b\\", "\\x1b]52;c;ZXZpbA==\\x1b\\"},
                        Case{"a\x7f\xc2\x9b"
                             "1m",
                             "a\\x7f\\xc2\\x9b"
                             "1m"},
                        Case{std::string("NAME\0\x1b[2J", 9), "NAME"},
                        Case{"caf\xc3\xa9\tok", "caf\xc3\xa9\tok"}}) {
    SCOPED_TRACE(c.shown);
    TerminalUi& ui = Script();
    ui.ShowMessage({0, "Product " + c.stored, c.stored, Buttons::kOk, Icon::kNone, Owner::kNone});
    ui.RunMainWindow(kDialogReport, [&] {
      ui.AppendReportText(c.stored);
      ui.AppendReportText("\r\n");
    });
    EXPECT_EQ(Err(), c.shown + ": Product " + c.shown + "\n");
    EXPECT_EQ(Out(), c.shown + "\n");
  }
}

TEST_F(TerminalUiTest, TheWorkerRunsOnItsOwnThreadAndTheHookSeesEveryWorkDialog) {
  TerminalUi& ui = Script();
  std::vector<std::pair<int, int>> ended;
  ui.SetWorkDialogHook([&](int dialog, int result) { ended.emplace_back(dialog, result); });
  EXPECT_EQ(ui.RunWorkDialog(kDialogAuthenticity, [] { return 2; }), 2);
  EXPECT_EQ(ui.RunWorkDialog(kDialogPlainExtraction, [] { return 1; }), 1);
  EXPECT_EQ(ended, (std::vector<std::pair<int, int>>{{105, 2}, {111, 1}}));

  std::thread::id worker;
  EXPECT_TRUE(ui.RunMainWindow(kDialogPlainProgress, [&] { worker = std::this_thread::get_id(); }));
  EXPECT_NE(worker, std::this_thread::get_id());
}

TEST_F(TerminalUiTest, ProgressIsOneUpdatingLineOnATerminalAndSilentOtherwise) {
  TerminalUi& quiet = Script();
  quiet.RunWorkDialog(kDialogPlainExtraction, [&] {
    quiet.SetProgressRange(kControlExtractionBar, 0, 100);
    quiet.SetProgressPosition(kControlExtractionBar, 50);
    return 1;
  });
  EXPECT_EQ(Err(), "");

  TerminalSettings settings;
  settings.show_progress = true;
  TerminalUi& ui = MakeUi(settings);
  ui.RunMainWindow(kDialogPlainProgress, [&] {
    ui.SetControlText(kControlDiskText, "Images");
    ui.HideControl(kControlTrackText);
    ui.SetControlText(kControlTrackText, "Track: write 01 of 80");
    ui.SetProgressRange(kControlDiskBar, 0, 4);
    ui.SetProgressPosition(kControlDiskBar, 1);
    ui.SetProgressPosition(kControlDiskBar, 1);  // unchanged: not drawn again
  });
  EXPECT_EQ(Err(),
            "\rImages  [....................] 0%\x1b[K"
            "\rImages  [#####...............] 25%\x1b[K"
            "\r\x1b[K");
}

TEST_F(TerminalUiTest, DestinationOptionAnswersTheDialogOnce) {
  TerminalSettings settings;
  settings.destination = "unpacked";
  TerminalUi& ui = MakeUi(settings);
  std::vector<std::string> typed;
  auto refuse = [&](const std::string& text) {
    typed.push_back(text);
    return false;
  };
  EXPECT_FALSE(ui.RunDestinationDialog(refuse));
  EXPECT_TRUE(ui.destination_refused());
  EXPECT_FALSE(ui.RunDestinationDialog(refuse));  // no second answer, no terminal: Cancel
  ASSERT_EQ(typed.size(), 1u);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(typed[0], std::string(cwd) + "/unpacked");
  EXPECT_NE(Err().find("the destination " + typed[0] + " was not accepted"), std::string::npos);
}

TEST_F(TerminalUiTest, DestinationTypedOnATerminalUntilAccepted) {
  TerminalUi& ui = Terminal("/no/such\n/tmp/ok\n");
  std::vector<std::string> typed;
  EXPECT_TRUE(ui.RunDestinationDialog([&](const std::string& text) {
    typed.push_back(text);
    return text == "/tmp/ok";
  }));
  EXPECT_EQ(typed, (std::vector<std::string>{"/no/such", "/tmp/ok"}));

  TerminalUi& cancelled = Terminal("\n");
  EXPECT_FALSE(cancelled.RunDestinationDialog([](const std::string&) { return true; }));
}

TEST_F(TerminalUiTest, FloppyDriveChoice) {
  const std::vector<FloppyDriveChoice> drives{{0, "/dev/fd0"}, {1, "/dev/sdb"}};
  TerminalUi& ui = Terminal("3\n2\n\nc\n");
  EXPECT_EQ(ui.ChooseFloppyDrive(drives), 1);  // 3 is not offered, 2 is
  EXPECT_EQ(ui.ChooseFloppyDrive(drives), 0);  // Enter takes the first
  EXPECT_EQ(ui.ChooseFloppyDrive(drives), std::nullopt);
  EXPECT_EQ(ui.ChooseFloppyDrive({}), std::nullopt);
  EXPECT_NE(Err().find("  1) /dev/fd0\n  2) /dev/sdb\n"), std::string::npos);

  EXPECT_EQ(Script().ChooseFloppyDrive(drives), std::nullopt);
  EXPECT_EQ(Script(AutoAnswer::kYes).ChooseFloppyDrive(drives), 0);
}

TEST_F(TerminalUiTest, HelpGoesToStandardOutput) {
  TerminalUi& ui = Script();
  ui.ShowHelp();
  EXPECT_TRUE(ui.help_shown());
  EXPECT_EQ(Out(), HelpText());
}

}  // namespace
}  // namespace floppyset
