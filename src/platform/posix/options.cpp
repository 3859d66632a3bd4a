#include "platform/posix/options.h"

#include <array>
#include <cctype>
#include <string_view>

#include "base/codepage.h"

namespace floppyset {
namespace {

struct LongSwitch {
  std::string_view name;
  std::string_view switch_text;
};

// The long spellings of the original switches.
constexpr std::array<LongSwitch, 8> kLongSwitches{{
    {"auth", "/A"},
    {"unpack", "/D"},
    {"autostart", "/E"},
    {"floppy", "/F"},
    {"list", "/L"},
    {"product", "/P"},
    {"silent", "/S"},
    {"wait", "/W"},
}};

// The options that take a value, as "--name=VALUE" or "--name VALUE".
std::optional<std::string>* ValueSlot(Options& options, std::string_view name) {
  if (name == "dest") return &options.destination;
  if (name == "images") return &options.images_dir;
  if (name == "drive") return &options.drive_dir;
  if (name == "device") return &options.device;
  return nullptr;
}

bool TakesValue(std::string_view name) {
  return name == "dest" || name == "images" || name == "drive" || name == "device" ||
         name == "ansi-codepage" || name == "oem-codepage" || name == "disk";
}

bool IsDecimal(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// "/L", "/?", "/C:2": a slash and one character, or a letter and a colon. An absolute path
// has more after its first name character.
bool IsSwitch(std::string_view arg) {
  return arg.starts_with("/") && (arg.size() == 2 || (arg.size() > 2 && arg[2] == ':'));
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  OptionsResult Run() {
    bool options_ended = false;
    for (index_ = 0; index_ < args_.size() && result_.error.empty(); ++index_) {
      const std::string& arg = args_[index_];
      if (options_ended) {
        TakeProgram(arg);
      } else if (arg == "--") {
        options_ended = true;
      } else if (arg.starts_with("--")) {
        TakeLongOption(arg.substr(2));
      } else if (arg.size() > 1 && arg[0] == '-') {
        TakeShortOptions(arg);
      } else if (arg == "/?") {
        result_.options.show_help = true;
      } else if (IsSwitch(arg)) {
        result_.options.switches.push_back(arg);
      } else {
        TakeProgram(arg);
      }
    }
    Options& options = result_.options;
    const bool informational = options.show_help || options.show_version;
    if (result_.error.empty() && options.program_paths.empty() && !informational) {
      Fail("no setup program given");
    }
    if (result_.error.empty() && options.drive_dir && options.device) {
      Fail("--drive and --device exclude each other");
    }
    if (result_.error.empty() && options.json) CheckReportSwitches("--json");
    if (result_.error.empty() && options.test) CheckReportSwitches("--test");
    if (result_.error.empty() && options.program_paths.size() > 1 && !informational &&
        !IsReportRun(options)) {
      Fail(
          "one setup program at a time for a run that writes or unpacks (several go with "
          "/A, /P, /L, --json, --test or --images only)");
    }
    return result_;
  }

 private:
  void TakeProgram(const std::string& arg) {
    if (arg.empty()) return Fail("the setup program name is empty");
    result_.options.program_paths.push_back(arg);
  }

  // "-q", "-v", "-y", "-h", "-V", also run together: "-qy".
  void TakeShortOptions(const std::string& arg) {
    Options& options = result_.options;
    for (const char letter : std::string_view(arg).substr(1)) {
      switch (letter) {
        case 'h':
          options.show_help = true;
          break;
        case 'V':
          options.show_version = true;
          break;
        case 'q':
          options.verbosity = Verbosity::kQuiet;
          break;
        case 'v':
          options.verbosity = Verbosity::kVerbose;
          break;
        case 'y':
          if (options.auto_answer == AutoAnswer::kNo) {
            return Fail("--yes and --no exclude each other");
          }
          options.auto_answer = AutoAnswer::kYes;
          break;
        default:
          return Fail(std::string("unknown option -") + letter);
      }
    }
  }

  void TakeLongOption(const std::string& option) {
    Options& options = result_.options;
    const size_t equals = option.find('=');
    const std::string name = option.substr(0, equals);
    std::optional<std::string> value =
        equals == std::string::npos ? std::nullopt : std::optional(option.substr(equals + 1));
    if (TakesValue(name)) {
      if (!value && index_ + 1 < args_.size()) value = args_[++index_];
      if (!value || value->empty()) return Fail("--" + name + " needs a value");
    }

    if (std::optional<std::string>* slot = ValueSlot(options, name)) {
      *slot = *value;
      return;
    }
    if (name == "ansi-codepage" || name == "oem-codepage") {
      const int page = IsDecimal(*value) && value->size() <= 5 ? std::stoi(*value) : 0;
      if (!IsKnownCodePage(page)) {
        return Fail("--" + name +
                    " needs one of the code pages 437, 850, 852, 866, 1250, 1251, 1252");
      }
      (name == "ansi-codepage" ? options.ansi_code_page : options.oem_code_page) = page;
      return;
    }
    if (name == "disk") {
      if (!IsDecimal(*value)) return Fail("--disk needs a number: --disk=N");
      options.switches.push_back("/C:" + *value);
      return;
    }
    if (value) return Fail("--" + name + " takes no value");
    for (const LongSwitch& entry : kLongSwitches) {
      if (name == entry.name) {
        options.switches.emplace_back(entry.switch_text);
        return;
      }
    }
    if (name == "yes" || name == "no") {
      const AutoAnswer answer = name == "yes" ? AutoAnswer::kYes : AutoAnswer::kNo;
      if (options.auto_answer != AutoAnswer::kAsk && options.auto_answer != answer) {
        return Fail("--yes and --no exclude each other");
      }
      options.auto_answer = answer;
    } else if (name == "json") {
      options.json = true;
    } else if (name == "test") {
      options.test = true;
    } else if (name == "salvage") {
      options.salvage = true;
    } else if (name == "quiet") {
      options.verbosity = Verbosity::kQuiet;
    } else if (name == "verbose") {
      options.verbosity = Verbosity::kVerbose;
    } else if (name == "help") {
      options.show_help = true;
    } else if (name == "version") {
      options.show_version = true;
    } else {
      Fail("unknown option --" + name);
    }
  }

  // --json and --test are reports: /A, /P and /L only, all three when none is given.
  void CheckReportSwitches(const std::string& option) {
    std::vector<std::string>& switches = result_.options.switches;
    for (const std::string& item : switches) {
      if (item.size() != 2 || std::string_view("aAlLpP").find(item[1]) == std::string_view::npos)
        return Fail(option + " goes with the report switches /A, /P and /L only, not " + item);
    }
    if (switches.empty()) switches = {"/A", "/P", "/L"};
  }

  void Fail(const std::string& message) { result_.error = message; }

  const std::vector<std::string>& args_;
  size_t index_ = 0;
  OptionsResult result_;
};

}  // namespace

OptionsResult ParseOptions(const std::vector<std::string>& args) {
  return Parser(args).Run();
}

bool IsReportRun(const Options& options) {
  if (options.drive_dir || options.device) return false;
  if (options.switches.empty()) return options.json || options.test || options.images_dir;
  for (const std::string& item : options.switches) {
    if (item.size() != 2 || std::string_view("aAlLpP").find(item[1]) == std::string_view::npos)
      return false;
  }
  return true;
}

std::string CoreCommandLine(const Options& options) {
  std::string line = "floppyset";
  for (const std::string& item : options.switches) line += " " + item;
  return line;
}

std::string HelpText() {
  return "Command line parameters:\n"
         "  /L    - List files in set\n"
         "  /P    - List product name, number of disks,\n"
         "          data of creation of the setup\n"
         "  /A    - Package authentication\n"
         "  /C:n  - Create only disk <n> from set\n"
         "  /S    - Silent mode. Create floppies without any questions\n"
         "  /E    - Force autostart mode\n"
         "  /D    - Force unpacking to HDD mode\n"
         "  /F    - Force floppy disks creation mode.\n"
         "\n"
         "Usage: floppyset [SWITCH|OPTION ...] PROGRAM.EXE ...\n"
         "\n"
         "Reads the setup package of a floppy setup program and lists, checks, unpacks or\n"
         "writes its disks. Switches and options go before or after the file, switches in\n"
         "any case or as long options; an option's value follows '=' or a blank:\n"
         "  --list (/L)  --product (/P)  --auth (/A)  --disk=N (/C:N)  --silent (/S)\n"
         "  --autostart (/E)  --unpack (/D)  --floppy (/F)  --wait (/W)\n"
         "Reports (/A /P /L, --json, --test, --images) take several files at once; the\n"
         "exit status is then the worst of them.\n"
         "\n"
         "Options:\n"
         "  --dest=DIR     unpack into DIR (answers the destination question)\n"
         "  -y, --yes      answer every question OK or Yes (Retry is answered Cancel)\n"
         "  --no           answer every question with Cancel or No\n"
         "  --images=DIR   also write the disk images as DIR/disk1.img ... (several\n"
         "                 files: DIR/NAME/disk1.img ...); alone, with the /P report\n"
         "  --drive=DIR    write the floppies as image files DIR/disk1.img ... instead\n"
         "  --device=PATH  write to this floppy drive (for example /dev/fd0); only an\n"
         "                 unmounted floppy drive is taken, after the overwrite warning\n"
         "  --json         the reports (/A /P /L, all three by default) as a JSON\n"
         "                 document, also for a refused or damaged set; one line each\n"
         "                 when several files are given\n"
         "  --test         verify the whole set (both checks, every image and file),\n"
         "                 write nothing; one line per damaged image or file\n"
         "  --salvage      go on past a damaged archive member to the members behind it\n"
         "  --ansi-codepage=N  code page of the package's texts (default 1252)\n"
         "  --oem-codepage=N   code page of the names on the disks (default 437); both\n"
         "                 become UTF-8 in JSON, and on screen and in unpacked names\n"
         "                 under a UTF-8 locale\n"
         "  -q, --quiet    say nothing but errors (and questions that must be asked)\n"
         "  -v, --verbose  also one line per file or image written\n"
         "  -h, --help     show this help\n"
         "  -V, --version  show the version\n"
         "\n"
         "Examples:\n"
         "  floppyset SET.EXE /P /L               what is in the set\n"
         "  floppyset -y --dest out /D SET.EXE    unpack it into ./out/disk1 ...\n"
         "  floppyset SET.EXE --images=img        its 1.44 MB images as ./img/disk1.img\n"
         "  floppyset SET.EXE --device=/dev/fd0   write its floppies\n"
         "  floppyset --json *.exe | jq .product  the product names, for scripts\n"
         "\n"
         "Without a terminal on standard input and without --yes or --no, every question\n"
         "is answered Cancel or No. The installer of an autostart set is started only\n"
         "through FLOPPYSET_RUNNER (for example \"wine\"), which gets its full path;\n"
         "without it nothing is started (status 1): unpack the set with /D instead.\n"
         "\n"
         "Exit status:\n"
         "  0        done\n"
         "  1        failed: a disk image is missing or damaged, or could not be\n"
         "           unpacked or written (whatever is intact is still listed or\n"
         "           unpacked), no space at the destination, an unreadable file,\n"
         "           standard output cannot be written\n"
         "  2        bad switch or option\n"
         "  3        refused: not a setup program, a damaged package, no space for the\n"
         "           temporary files, another copy of a writing run of the program, a\n"
         "           --device that is no floppy drive\n"
         "  4        cancelled, also by a question answered without a terminal\n"
         "  130/143  interrupted by Ctrl-C / SIGTERM (temporary files are removed)\n";
}

std::string VersionText() {
  return "floppyset 1.0.0\n";
}

}  // namespace floppyset
