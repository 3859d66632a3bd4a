#include "platform/posix/options.h"

#include <gtest/gtest.h>

namespace floppyset {
namespace {

Options Parse(const std::vector<std::string>& args) {
  const OptionsResult result = ParseOptions(args);
  EXPECT_EQ(result.error, "");
  return result.options;
}

std::string ErrorOf(const std::vector<std::string>& args) {
  return ParseOptions(args).error;
}

TEST(Options, LongOptionsBecomeTheOriginalSwitchesInOrder) {
  const Options options = Parse({"--list", "SET.EXE", "/p", "--disk=2", "--auth", "--unpack",
                                 "--autostart", "--floppy", "--silent", "--wait", "--product"});
  EXPECT_EQ(options.program_path, "SET.EXE");
  EXPECT_EQ(options.switches, (std::vector<std::string>{"/L", "/p", "/C:2", "/A", "/D", "/E", "/F",
                                                        "/S", "/W", "/P"}));
  EXPECT_EQ(CoreCommandLine(options), "floppyset /L /p /C:2 /A /D /E /F /S /W /P");
}

TEST(Options, ProgramPathIsNeverASwitch) {
  // An absolute path starts with '/', and blanks in it must not split it.
  const Options options = Parse({"/home/me/My Setup/SET.EXE", "/L"});
  EXPECT_EQ(options.program_path, "/home/me/My Setup/SET.EXE");
  EXPECT_EQ(CoreCommandLine(options), "floppyset /L");
  EXPECT_EQ(Parse({"--", "--odd-name.exe"}).program_path, "--odd-name.exe");
}

TEST(Options, UnknownSlashSwitchesGoToTheSwitchParser) {
  EXPECT_EQ(CoreCommandLine(Parse({"SET.EXE", "/X", "/Silent"})), "floppyset /X /Silent");
}

TEST(Options, ValuesInlineOrSeparate) {
  const Options options =
      Parse({"SET.EXE", "--dest=out dir", "--images", "imgs", "--drive=fl", "--yes"});
  EXPECT_EQ(options.destination, "out dir");
  EXPECT_EQ(options.images_dir, "imgs");
  EXPECT_EQ(options.drive_dir, "fl");
  EXPECT_EQ(options.auto_answer, AutoAnswer::kYes);
  EXPECT_EQ(Parse({"SET.EXE", "--device", "/dev/fd1"}).device, "/dev/fd1");
  EXPECT_EQ(Parse({"SET.EXE", "--no"}).auto_answer, AutoAnswer::kNo);
  const Options json = Parse({"SET.EXE", "--json", "--ansi-codepage=1251", "--oem-codepage=866"});
  EXPECT_TRUE(json.json);
  EXPECT_EQ(json.switches, (std::vector<std::string>{"/A", "/P", "/L"}));  // all reports
  EXPECT_EQ(std::pair(json.ansi_code_page, json.oem_code_page), std::pair(1251, 866));
  EXPECT_EQ(Parse({"SET.EXE", "/l", "--json"}).switches, std::vector<std::string>{"/l"});
}

TEST(Options, HelpAndVersionNeedNoProgram) {
  EXPECT_TRUE(Parse({"--help"}).show_help);
  EXPECT_TRUE(Parse({"/?"}).show_help);
  EXPECT_TRUE(Parse({"--version"}).show_version);
}

TEST(Options, RefusedWithAClearReason) {
  EXPECT_EQ(ErrorOf({}), "no setup program given");
  EXPECT_EQ(ErrorOf({"SET.EXE", "--frobnicate"}), "unknown option --frobnicate");
  EXPECT_EQ(ErrorOf({"SET.EXE", "--dest"}), "--dest needs a value");
  EXPECT_EQ(ErrorOf({"SET.EXE", "--dest="}), "--dest needs a value");
  EXPECT_EQ(ErrorOf({"SET.EXE", "--disk=x"}), "--disk needs a number: --disk=N");
  EXPECT_EQ(ErrorOf({"SET.EXE", "--list=1"}), "--list takes no value");
  EXPECT_EQ(ErrorOf({"SET.EXE", "--yes", "--no"}), "--yes and --no exclude each other");
  EXPECT_EQ(ErrorOf({"SET.EXE", "--drive=d", "--device=/dev/fd0"}),
            "--drive and --device exclude each other");
  EXPECT_EQ(ErrorOf({"SET.EXE", "--json", "/D"}),
            "--json goes with the report switches /A, /P and /L only, not /D");
  EXPECT_EQ(ErrorOf({"SET.EXE", "--oem-codepage=65001"}),
            "--oem-codepage needs one of the code pages 437, 850, 852, 866, 1250, 1251, 1252");
  EXPECT_EQ(ErrorOf({"SET.EXE", "OTHER.EXE"}),
            "unexpected argument 'OTHER.EXE' (switches start with '/')");
}

TEST(Options, HelpListsTheDialogLinesAndTheExitStatuses) {
  const std::string help = HelpText();
  EXPECT_TRUE(help.starts_with("Command line parameters:\n  /L    - List files in set\n"));
  EXPECT_NE(help.find("  /F    - Force floppy disks creation mode.\n"), std::string::npos);
  EXPECT_NE(help.find("Exit status:\n  0        done\n"), std::string::npos);
  EXPECT_EQ(help.find("/W"), help.find("(/W)") + 1);  // the dialog itself names no /W
}

}  // namespace
}  // namespace floppyset
