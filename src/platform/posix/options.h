// The command line of the Linux tool: the setup program file, its original switches (as
// separate arguments or as long options) and the additions for machines without Windows.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace floppyset {

// How questions are answered when nobody is asked.
enum class AutoAnswer { kAsk, kYes, kNo };

// How much the tool says besides the reports.
enum class Verbosity {
  kQuiet,   // -q: errors only
  kNormal,  // messages, questions and progress
  kVerbose  // -v: also one line per file or image written
};

struct Options {
  std::vector<std::string> program_paths;  // as given; made absolute by the caller
  std::vector<std::string> switches;       // the original switches in order: "/L", "/C:2", "/x"
  std::optional<std::string> destination;  // --dest=DIR
  std::optional<std::string> images_dir;   // --images=DIR
  std::optional<std::string> drive_dir;    // --drive=DIR
  std::optional<std::string> device;       // --device=PATH
  AutoAnswer auto_answer = AutoAnswer::kAsk;
  Verbosity verbosity = Verbosity::kNormal;
  bool json = false;          // --json: the reports as one JSON document
  bool test = false;          // --test: verify the whole set, write nothing
  bool salvage = false;       // --salvage: go on past a damaged member
  int ansi_code_page = 1252;  // --ansi-codepage=N: texts of the package header
  int oem_code_page = 437;    // --oem-codepage=N: names on the FAT disks
  bool show_help = false;     // --help without a program file
  bool show_version = false;  // --version
};

struct OptionsResult {
  Options options;
  std::string error;  // empty when the arguments were understood
};

// Parses argv[1..]. Options and switches may stand anywhere; every other argument is a
// program file, and so is every argument after "--". A switch is "/" and one character, or
// "/C:..." ("/home/me/SET.EXE" is a file). Several files only for a report run.
OptionsResult ParseOptions(const std::vector<std::string>& args);

// True when the run only reads: reports, --json, --test, --images without a writing switch.
bool IsReportRun(const Options& options);

// The line handed to the switch parser: the bare program name, then the switches, so that
// the program file's own path can never be taken for a switch.
std::string CoreCommandLine(const Options& options);

// The switch lines of the help dialog, then the Linux usage.
std::string HelpText();
std::string VersionText();

// Exit statuses, listed in the help.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitRefused = 3;
inline constexpr int kExitCancelled = 4;
inline constexpr int kExitInterrupted = 130;  // SIGINT; SIGTERM gives 143
inline constexpr int kExitTerminated = 143;

}  // namespace floppyset
