#include "platform/posix/options.h"

#include <gtest/gtest.h>

namespace floppyset {
namespace {

Options Parse(const std::vector<std::string>& args) {
  const OptionsResult result = ParseOptions(args);
  EXPECT_EQ(result.error, "");
  return result.options;
}

// Long options become the original switches in order; unknown slash switches go on to the
// switch parser; the program path (absolute, with blanks, or after --) is never a switch.
TEST(Options, LongOptionsBecomeTheOriginalSwitchesInOrder) {
  const Options options =
      Parse({"--list", "/home/me/My Setup/SET.EXE", "/p", "--disk=2", "--auth", "--unpack",
             "--autostart", "--floppy", "--silent", "--wait", "--product", "/X"});
  EXPECT_EQ(options.program_path, "/home/me/My Setup/SET.EXE");
  EXPECT_EQ(CoreCommandLine(options), "floppyset /L /p /C:2 /A /D /E /F /S /W /P /X");
  EXPECT_EQ(Parse({"--", "--odd-name.exe"}).program_path, "--odd-name.exe");
}

TEST(Options, ValuesInlineOrSeparate) {
  const Options options = Parse({"SET.EXE", "--dest=out dir", "--images", "imgs", "--no"});
  EXPECT_EQ(options.destination, "out dir");
  EXPECT_EQ(options.images_dir, "imgs");
  EXPECT_EQ(options.auto_answer, AutoAnswer::kNo);
  const Options json = Parse({"SET.EXE", "--json", "--ansi-codepage=1251", "--oem-codepage=866"});
  EXPECT_TRUE(json.json);
  EXPECT_EQ(json.switches, (std::vector<std::string>{"/A", "/P", "/L"}));  // all reports
  EXPECT_EQ(std::pair(json.ansi_code_page, json.oem_code_page), std::pair(1251, 866));
  EXPECT_EQ(Parse({"SET.EXE", "/l", "--json"}).switches, std::vector<std::string>{"/l"});
}

TEST(Options, RefusedWithAClearReason) {
  for (const auto& [args, error] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{}, "no setup program given"},
           {{"SET.EXE", "--dest"}, "--dest needs a value"},
           {{"SET.EXE", "--dest="}, "--dest needs a value"},
           {{"SET.EXE", "--disk=x"}, "--disk needs a number: --disk=N"},
           {{"SET.EXE", "--list=1"}, "--list takes no value"},
           {{"SET.EXE", "--yes", "--no"}, "--yes and --no exclude each other"},
           {{"SET.EXE", "--drive=d", "--device=/dev/fd0"},
            "--drive and --device exclude each other"},
           {{"SET.EXE", "--json", "/D"},
            "--json goes with the report switches /A, /P and /L only, not /D"},
           {{"SET.EXE", "--oem-codepage=65001"},
            "--oem-codepage needs one of the code pages 437, 850, 852, 866, 1250, 1251, 1252"},
           {{"SET.EXE", "OTHER.EXE"},
            "unexpected argument 'OTHER.EXE' (switches start with '/')"}}) {
    EXPECT_EQ(ParseOptions(args).error, error);
  }
}

}  // namespace
}  // namespace floppyset
