// The terminal program's units: option parsing, the terminal Ui, the POSIX host's own failures.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <filesystem>

#include "platform/posix/options.h"
#include "platform/posix/posix_host.h"
#include "platform/posix/terminal_ui.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

// A TerminalUi over files of a temp directory: typed input, captured output and error.
class TerminalUiTest : public ::testing::Test {
 protected:
  ~TerminalUiTest() override { Close(); }
  void Close() {
    ui_.reset();
    for (FILE* stream : {streams_.in, streams_.out, streams_.err}) std::fclose(stream);
  }
  TerminalUi& MakeUi(AutoAnswer answer, bool terminal, const std::string& typed = "",
                     TerminalSettings settings = {}) {
    Close();
    testing::WriteFileText(dir_ / "in", typed);
    streams_ = {std::fopen((dir_ / "in").c_str(), "r"), std::fopen((dir_ / "out").c_str(), "w"),
                std::fopen((dir_ / "err").c_str(), "w")};
    settings.auto_answer = answer, settings.input_is_terminal = terminal;
    ui_ = std::make_unique<TerminalUi>(host_, std::move(settings), streams_);
    return *ui_;
  }
  TerminalUi& Terminal(const std::string& typed) { return MakeUi(AutoAnswer::kAsk, true, typed); }
  TerminalUi& Script(AutoAnswer answer = AutoAnswer::kAsk) { return MakeUi(answer, false); }
  std::string Out() { return std::fflush(streams_.out), testing::ReadFileText(dir_ / "out"); }
  std::string Err() { return std::fflush(streams_.err), testing::ReadFileText(dir_ / "err"); }

  testing::TempDir dir_;
  PosixHost host_;
  TerminalStreams streams_{std::tmpfile(), std::tmpfile(), std::tmpfile()};  // for the first Close
  std::unique_ptr<TerminalUi> ui_;
};

// A terminal is asked until it gives an answer; end of input is the conservative one.
// --yes answers all but Retry, and gives up on the same question asked over and over (the
// insert prompt after each failure of a floppy that always fails).
TEST_F(TerminalUiTest, Questions) {
  Terminal("maybe\n  YES \nc\nr\n");
  auto ask = [&](Buttons buttons, const std::string& text = "Go on?") {
    return ui_->ShowMessage({0, text, "SETUP", buttons, Icon::kQuestion, Owner::kMainWindow});
  };
  EXPECT_EQ(ask(Buttons::kYesNo, "Unpack?\nReally?"), Answer::kYes);
  EXPECT_EQ(ask(Buttons::kOkCancel), Answer::kCancel);
  EXPECT_EQ(ask(Buttons::kRetryCancel), Answer::kRetry);
  EXPECT_EQ(Err(),
            "SETUP: Unpack?\n  Really?\nYes or No? [y/n] Yes or No? [y/n] "
            "SETUP: Go on?\nOK or Cancel? [o/c] SETUP: Go on?\nRetry or Cancel? [r/c] ");
  Terminal("");
  EXPECT_EQ(ask(Buttons::kOkCancel), Answer::kCancel);
  EXPECT_EQ(ask(Buttons::kYesNo), Answer::kNo);
  EXPECT_EQ(ask(Buttons::kOk), Answer::kOk);
  Script(AutoAnswer::kYes);
  std::vector<Answer> answers{ask(Buttons::kRetryCancel)};
  for (int i = 0; i < 3; ++i) answers.push_back(ask(Buttons::kOkCancel, "Insert disk 1"));
  EXPECT_EQ(answers,
            (std::vector<Answer>{Answer::kCancel, Answer::kOk, Answer::kOk, Answer::kCancel}));
}

// Texts of a package reach the terminal with their control characters made visible: no
// escape sequence (screen clear, window title, C1 CSI) passes, and a NUL ends the text.
TEST_F(TerminalUiTest, ControlCharactersOfPackageTextsAreShownVisibly) {
  const std::string stored("\x1b]0;t\x07 a\x7f\xc2\x9b\xc2\xa9 caf\xc3\xa9\tok\0\x1b[2J", 28);
  // The terminal is 8-bit (texts as stored): the C1 byte itself is escaped.
  const std::string shown = "\\x1b]0;t\\x07 a\\x7f\xc2\\x9b\xc2\xa9 caf\xc3\xa9\tok";
  EXPECT_EQ(VisibleText(stored, true), "\\x1b]0;t\\x07 a\\x7f\\xc2\\x9b\xc2\xa9 caf\xc3\xa9\tok");
  EXPECT_EQ(VisibleText("\x85\x9b\x9f\xa0", false), "\\x85\\x9b\\x9f\xa0");
  EXPECT_EQ(VisibleText("\x85\x9b\x9f\xa0", true), "\x85\x9b\x9f\xa0") << "not UTF-8's C1";
  TerminalUi& ui = Script();
  ui.ShowMessage({0, "Product " + stored, stored, Buttons::kOk, Icon::kNone, Owner::kNone});
  ui.RunMainWindow(kDialogReport, [&] {
    ui.AppendReportText(stored);
    ui.AppendReportText("\r\n");
  });
  EXPECT_EQ(Err(), shown + ": Product " + shown + "\n");
  EXPECT_EQ(Out(), shown + "\n");
}

TEST_F(TerminalUiTest, ProgressIsOneUpdatingLineOnATerminalAndSilentOtherwise) {
  for (const bool shown : {false, true}) {
    TerminalSettings settings;
    settings.show_progress = shown;
    TerminalUi& ui = MakeUi(AutoAnswer::kAsk, false, "", settings);
    ui.RunMainWindow(kDialogPlainProgress, [&] {
      ui.SetControlText(kControlDiskText, "Images");
      ui.HideControl(kControlTrackText);
      ui.SetControlText(kControlTrackText, "Track: write 01 of 80");
      ui.SetProgressRange(kControlDiskBar, 0, 4);
      ui.SetProgressPosition(kControlDiskBar, 1);
      ui.SetProgressPosition(kControlDiskBar, 1);  // unchanged: not drawn again
    });
    EXPECT_EQ(Err(), shown ? "\rImages  [....................] 0%\x1b[K"
                             "\rImages  [#####...............] 25%\x1b[K\r\x1b[K"
                           : "");
  }
}

// --dest answers the destination dialog once, made absolute; a terminal is asked until the
// answer is accepted or empty.
TEST_F(TerminalUiTest, DestinationDialog) {
  std::vector<std::string> typed;
  auto accept_ok = [&](const std::string& text) {
    typed.push_back(text);
    return text == "/tmp/ok";
  };
  TerminalSettings settings;
  settings.destination = "unpacked";
  TerminalUi& given = MakeUi(AutoAnswer::kAsk, false, "", settings);
  EXPECT_FALSE(given.RunDestinationDialog(accept_ok));
  EXPECT_TRUE(given.destination_refused());
  EXPECT_FALSE(given.RunDestinationDialog(accept_ok));  // no second answer, no terminal
  EXPECT_EQ(typed,
            (std::vector<std::string>{(std::filesystem::current_path() / "unpacked").string()}));
  EXPECT_NE(Err().find("the destination " + typed[0] + " was not accepted"), std::string::npos);
  typed.clear();
  EXPECT_TRUE(Terminal("/no/such\n/tmp/ok\n").RunDestinationDialog(accept_ok));
  EXPECT_EQ(typed, (std::vector<std::string>{"/no/such", "/tmp/ok"}));
  EXPECT_FALSE(Terminal("\n").RunDestinationDialog(accept_ok));
}

TEST_F(TerminalUiTest, FloppyDriveChoice) {
  const std::vector<FloppyDriveChoice> drives{{0, "/dev/fd0"}, {1, "/dev/sdb"}};
  TerminalUi& ui = Terminal("3\n2\n\nc\n");
  EXPECT_EQ(ui.ChooseFloppyDrive(drives), 1);  // 3 is not offered, 2 is
  EXPECT_EQ(ui.ChooseFloppyDrive(drives), 0);  // Enter takes the first
  EXPECT_EQ(ui.ChooseFloppyDrive(drives), std::nullopt);
  EXPECT_EQ(ui.ChooseFloppyDrive({}), std::nullopt);
  EXPECT_NE(Err().find("  1) /dev/fd0\n  2) /dev/sdb\nDrive number, or c to cancel [1]: "),
            std::string::npos);
  EXPECT_EQ(Script().ChooseFloppyDrive(drives), std::nullopt);
  EXPECT_EQ(Script(AutoAnswer::kYes).ChooseFloppyDrive(drives), 0);
}

Options Parse(const std::vector<std::string>& args) {
  const OptionsResult result = ParseOptions(args);
  EXPECT_EQ(result.error, "");
  return result.options;
}

// Long options become the original switches in order; unknown slash switches go on to the
// switch parser; a program path (absolute, with blanks, or after --) is never a switch, and
// options and switches stand on either side of it.
TEST(Options, LongOptionsBecomeTheOriginalSwitchesInOrder) {
  const Options options =
      Parse({"--list", "/home/me/My Setup/SET.EXE", "/p", "--disk", "2", "--auth", "--unpack",
             "--autostart", "--floppy", "--silent", "--wait", "--product", "/X"});
  EXPECT_EQ(options.program_paths, std::vector<std::string>{"/home/me/My Setup/SET.EXE"});
  EXPECT_EQ(CoreCommandLine(options), "floppyset /L /p /C:2 /A /D /E /F /S /W /P /X");
  EXPECT_EQ(Parse({"-q", "/L", "--", "--odd-name.exe", "/L"}).program_paths,
            (std::vector<std::string>{"--odd-name.exe", "/L"}));
  const Options values = Parse(
      {"/D", "--dest", "out dir", "-yv", "SET.EXE", "--images=imgs", "--oem-codepage", "850"});
  EXPECT_EQ(values.destination, "out dir");
  EXPECT_EQ(values.images_dir, "imgs");
  EXPECT_EQ(values.auto_answer, AutoAnswer::kYes);
  EXPECT_EQ(values.verbosity, Verbosity::kVerbose);
  EXPECT_EQ(values.oem_code_page, 850);
  const Options json =
      Parse({"--json", "A.EXE", "B.EXE", "--ansi-codepage=1251", "--oem-codepage=866"});
  EXPECT_EQ(json.switches, (std::vector<std::string>{"/A", "/P", "/L"}));  // all reports
  EXPECT_EQ(json.program_paths.size(), 2u);
  EXPECT_EQ(std::pair(json.ansi_code_page, json.oem_code_page), std::pair(1251, 866));
  EXPECT_EQ(Parse({"SET.EXE", "/l", "--json"}).switches, std::vector<std::string>{"/l"});
  for (const auto& flag : {"-h", "/?", "--help"}) EXPECT_TRUE(Parse({flag, "SET.EXE"}).show_help);
  EXPECT_TRUE(Parse({"-V"}).show_version);
  EXPECT_EQ(Parse({"--quiet", "SET.EXE"}).verbosity, Verbosity::kQuiet);
}

TEST(Options, RefusedWithAClearReason) {
  for (const auto& [args, error] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{}, "no setup program given"},
           {{"SET.EXE", "--dest"}, "--dest needs a value"},
           {{"SET.EXE", "--dest="}, "--dest needs a value"},
           {{"SET.EXE", "--disk=x"}, "--disk needs a number: --disk=N"},
           {{"SET.EXE", "--list=1"}, "--list takes no value"},
           {{"SET.EXE", "--yes", "--no"}, "--yes and --no exclude each other"},
           {{"SET.EXE", "--no", "-y"}, "--yes and --no exclude each other"},
           {{"SET.EXE", "-qx"}, "unknown option -x"},
           {{"SET.EXE", "--drive=d", "--device=/dev/fd0"},
            "--drive and --device exclude each other"},
           {{"SET.EXE", "--json", "/D"},
            "--json goes with the report switches /A, /P and /L only, not /D"},
           {{"SET.EXE", "--oem-codepage=65001"},
            "--oem-codepage needs one of the code pages 437, 850, 852, 866, 1250, 1251, 1252"},
           {{"SET.EXE", "OTHER.EXE"},
            "one setup program at a time for a run that writes or unpacks (several go with /A, "
            "/P, /L, --json, --test or --images only)"},
           {{"SET.EXE", "OTHER.EXE", "/L", "/D"},
            "one setup program at a time for a run that writes or unpacks (several go with /A, "
            "/P, /L, --json, --test or --images only)"}}) {
    EXPECT_EQ(ParseOptions(args).error, error);
  }
}

// A write that the file system cuts short (here at the file size limit, as on a full disk)
// is a failure, never a success: a failure path the fault-injecting double cannot show.
TEST(PosixHost, AWriteCutShortFails) {
  testing::TempDir dir;
  PosixHost host;
  const std::unique_ptr<File> file = host.CreateForWrite(dir / "big.bin");
  ASSERT_NE(file, nullptr);
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::vector<char> data(8192, 'x');
  const bool written = file->Write(data.data(), data.size());
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_FALSE(written);
}

}  // namespace
}  // namespace floppyset
