// floppyset: the setup program's floppy set on Linux. Reads the setup package of a given
// program file and lists, checks, unpacks or writes it, with the program's own rules.
#include <langinfo.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/program.h"
#include "floppy/image_file_drive.h"
#include "package/extraction.h"
#include "package/package_reader.h"
#include "platform/posix/linux_floppy.h"
#include "platform/posix/options.h"
#include "platform/posix/posix_host.h"
#include "platform/posix/temp_guard_host.h"
#include "platform/posix/terminal_ui.h"
#include "report/json_report.h"
#include "ui/messages.h"
#include "workspace/workspace.h"

namespace floppyset {
namespace {

void PrintError(const std::string& text) {
  std::fprintf(stderr, "floppyset: %s\n", text.c_str());
}

sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

struct Hosts {
  PosixHost posix;
  TempGuardHost guard{posix};
};

// Set by the signal thread: from then on only it ends the process.
std::atomic<bool> signal_received{false};

// Ctrl-C, SIGTERM and SIGHUP are taken by one thread, which removes the run's temporary
// directories and ends the process. Blocked before any other thread exists, so every thread
// inherits the mask. The thread shares the hosts, so they outlive the run.
void StartSignalWatcher(std::shared_ptr<Hosts> hosts) {
  const sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // A closed standard output must not kill the run before it has cleaned up, nor a file
  // that reaches the size limit (ulimit -f): both are write failures like a full disk.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  std::thread([hosts, set] {
    int received = 0;
    while (sigwait(&set, &received) != 0) {
    }
    constexpr char kMessage[] = "\nfloppyset: interrupted, temporary files removed\n";
    signal_received = true;
    hosts->guard.ShutDown();
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    _exit(128 + received);
  }).detach();
}

// A readable regular file, or a clear message.
bool CheckProgramFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    PrintError("cannot open " + path + ": " + std::strerror(errno));
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    PrintError(path + " is not a file");
    return false;
  }
  if (::access(path.c_str(), R_OK) != 0) {
    PrintError("cannot read " + path + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

// After the extraction dialog: names every disk image that did not come out whole and every
// member stepped over and, for --images=DIR, copies the intact images out of the workspace as
// DIR/disk<n>.img before the clean-up deletes them.
class ExtractionWatch {
 public:
  ExtractionWatch(const RunState& state, Host& host, TerminalUi& ui,
                  std::optional<std::string> images_dir)
      : state_(state), host_(host), ui_(ui), images_dir_(std::move(images_dir)) {}

  void AfterWorkDialog(int dialog) {
    if (dialog != kDialogBannerExtraction && dialog != kDialogPlainExtraction) return;
    for (const std::string& note : state_.SkippedMembers) ui_.Note("floppyset: " + note);
    for (uint32_t index = 0; index < state_.Images.size(); ++index) {
      if (state_.ImageIntact(index)) continue;
      ui_.Note("floppyset: " + DescribeLostImage(index, state_.Images[index]));
    }
    if (images_dir_) ExportImages();
  }

  bool export_failed() const { return export_failed_; }

 private:
  // Through the host, which never follows a link in the images directory.
  void ExportImages() {
    const ImageExport done =
        ExportIntactImages(host_, state_.WorkspaceDir, state_.Images, *images_dir_);
    for (const std::string& failure : done.failures) ui_.Note("floppyset: " + failure);
    const uint32_t count = state_.Header.DiskCount;
    if (done.written < count) export_failed_ = true;
    ui_.Note("Disk images written: " + std::to_string(done.written) + " of " +
             std::to_string(count) + " in " + *images_dir_);
  }

  const RunState& state_;
  Host& host_;
  TerminalUi& ui_;
  std::optional<std::string> images_dir_;
  bool export_failed_ = false;
};

// A report or document that did not reach standard output whole (a full disk, a closed
// pipe) is a failure, said on standard error.
int FinishOutput(int status) {
  const std::string lost = FinishStandardOutput();
  if (lost.empty()) return status;
  PrintError("cannot write the standard output: " + lost);
  return status == kExitDone ? kExitFailed : status;
}

int ExitStatus(const RunOutcome& outcome) {
  switch (outcome.ending) {
    case RunEnding::kDone:
    case RunEnding::kHelp:
      return kExitDone;
    case RunEnding::kUsage:
      return kExitUsage;
    case RunEnding::kRefused:
      return kExitRefused;
    case RunEnding::kCancelled:
      return kExitCancelled;
    case RunEnding::kFailed:
      return kExitFailed;
  }
  return kExitFailed;
}

bool LocaleIsUtf8() {
  std::setlocale(LC_CTYPE, "");
  const char* codeset = nl_langinfo(CODESET);
  const bool utf8 = codeset && std::strcmp(codeset, "UTF-8") == 0;
  std::setlocale(LC_CTYPE, "C");  // the byte tests elsewhere keep their plain meaning
  return utf8;
}

// --test: one line per image that is not intact, then the verdict on the whole set.
void PrintTestVerdict(const RunState& state, int status) {
  const std::string name = state.ProgramPath;
  if (!state.PackageFound || state.Images.empty()) {
    std::printf("%s: not tested (see above)\n", VisibleText(name).c_str());
    return;
  }
  const std::string damage = DescribeSetDamage(state.Images);
  if (!damage.empty()) std::printf("%s\n", VisibleText(damage).c_str());
  std::printf("%s: %s\n", VisibleText(name).c_str(),
              status == kExitDone ? "every disk image is whole and sound"
                                  : "the set is not whole or not sound");
}

// One line per document when several files are given: the writer's line breaks and
// indentation go (strings hold no raw line breaks).
std::string OneLine(const std::string& document) {
  std::string line;
  for (size_t i = 0; i < document.size(); ++i) {
    if (document[i] != '\n') {
      line += document[i];
      continue;
    }
    while (i + 1 < document.size() && document[i + 1] == ' ') ++i;
  }
  return line + "\n";
}

// --images=DIR of one of several files: DIR/<file name without .exe>.
std::string ImagesDirFor(const std::string& images_dir, const std::string& program) {
  std::string name = std::filesystem::path(program).filename().string();
  std::string suffix = name.size() > 4 ? name.substr(name.size() - 4) : "";
  for (char& c : suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (suffix == ".exe") name.resize(name.size() - 4);
  return images_dir + "/" + name;
}

// The run of one program file; `several` when it is one of several.
int RunFile(const Options& given, const std::string& program, bool several, Hosts& hosts) {
  Options options = given;
  TempGuardHost& host = hosts.guard;

  RunState state;
  state.ProgramPath = AbsolutePath(program);
  const JsonCodePages pages{options.ansi_code_page, options.oem_code_page};
  const auto emit_json = [&](const std::string& document) {
    std::fputs((several ? OneLine(document) : document).c_str(), stdout);
  };
  if (!CheckProgramFile(state.ProgramPath)) {
    if (options.json) {
      emit_json(JsonFailure(state, false, "cannot read the program file", kExitFailed, pages));
    }
    return kExitFailed;
  }
  // Given any file, the tool refuses one without a package as not a setup program.
  state.RequirePlausiblePackage = true;
  state.LockWritingRunsOnly = true;
  // The installers of the sets are Win32 programs: only the user's runner may start them.
  if (const char* runner = std::getenv("FLOPPYSET_RUNNER")) state.InstallerRunner = runner;
  state.InstallerNeedsRunner = true;
  if (LocaleIsUtf8()) {
    state.TextAnsiCodePage = options.ansi_code_page;
    state.TextOemCodePage = options.oem_code_page;
  }

  TerminalSettings settings;
  settings.text_code_page = state.TextAnsiCodePage;
  settings.auto_answer = options.auto_answer;
  settings.destination = options.destination;
  settings.input_is_terminal = ::isatty(STDIN_FILENO) == 1;
  settings.quiet = options.verbosity == Verbosity::kQuiet;
  settings.show_progress = ::isatty(STDERR_FILENO) == 1 && !settings.quiet;
  // With --json the text reports are not written; the document is made while the extracted
  // images are still in the workspace.
  const bool quiet_reports = options.json || options.test;
  std::unique_ptr<FILE, int (*)(FILE*)> no_report(
      quiet_reports ? std::fopen("/dev/null", "w") : nullptr, &std::fclose);
  if (quiet_reports && !no_report) {
    // Else the text reports would land in the document's stream.
    const bool setup = HoldsPlausiblePackage(host, state.ProgramPath);
    emit_json(JsonFailure(state, setup, "cannot open /dev/null", kExitFailed, pages));
    return kExitFailed;
  }
  TerminalStreams streams;
  if (no_report) streams.out = no_report.get();
  TerminalUi ui(host, settings, streams);
  state.SalvageMembers = options.salvage;
  std::string json;
  // The check results stay on screen for a second in the dialog; a terminal has no dialog.
  host.SetSleepFilter([&ui] { return ui.CurrentWindow() == kDialogAuthenticity; });
  if (options.verbosity == Verbosity::kVerbose) {
    host.SetWriteWatch([&ui](const std::string& path) { ui.Note(path); });
  }
  // Text reports of several files, each under the file's name.
  if (several && !quiet_reports) std::printf("%s:\n", VisibleText(state.ProgramPath).c_str());

  std::optional<std::string> images_dir;
  if (options.images_dir) {
    images_dir = AbsolutePath(*options.images_dir);
    if (several) images_dir = ImagesDirFor(*images_dir, state.ProgramPath);
    // The images alone: show what they are instead of asking to write floppies.
    if (options.switches.empty()) options.switches.push_back("/P");
  }
  ExtractionWatch watch(state, host, ui, images_dir);
  ui.SetWorkDialogHook([&](int dialog, int) {
    watch.AfterWorkDialog(dialog);
    if (options.json && (dialog == kDialogBannerExtraction || dialog == kDialogPlainExtraction)) {
      json = JsonReport(state, host, pages);
    }
  });

  std::unique_ptr<FloppyDrives> drives;
  if (options.drive_dir) {
    // Made when the first disk is written.
    const std::string directory = AbsolutePath(*options.drive_dir);
    host.AddWriteRoot(directory);
    drives = std::make_unique<ImageFileDrives>(host, directory);
  } else {
    drives = std::make_unique<LinuxFloppyDrives>(options.device.value_or(""));
  }

  // A report reads the archive and its images once and writes nothing: they stay in memory,
  // so that a large set needs no space in TMPDIR.
  host.KeepTempFilesInMemory(IsReportRun(given));
  const RunOutcome outcome = RunProgram(state, host, ui, *drives, CoreCommandLine(options));
  host.RemoveTempDirectories();
  host.KeepTempFilesInMemory(false);
  host.SetSleepFilter(nullptr);
  host.SetWriteWatch(nullptr);

  int status = ExitStatus(outcome);
  if (options.test && status != kExitUsage) PrintTestVerdict(state, status);
  if (watch.export_failed() && status == kExitDone) status = kExitFailed;
  if (status == kExitCancelled && ui.unasked_questions() > 0) {
    PrintError("cancelled: standard input is not a terminal (answer with --yes or --no)");
  }
  if (options.json) {
    // A set that is not whole still has its reports, with what became of each image.
    const bool reported = !json.empty() && status == kExitFailed && !state.Images.empty();
    if ((status != kExitDone && !reported) || json.empty()) {
      // A refusal before the package was read (another copy running, no temporary directory)
      // asks the file itself whether it is a setup program.
      const bool setup =
          state.PackagePlausible || (outcome.reason != LoadMessage(kMsgWhyNotSetupProgram) &&
                                     HoldsPlausiblePackage(host, state.ProgramPath));
      const std::string reason = !outcome.reason.empty()
                                     ? outcome.reason
                                     : "the run ended with exit status " + std::to_string(status);
      json = JsonFailure(state, setup, reason, status, pages);
    }
    emit_json(json);
  }
  return status;
}

// Every file in turn; the worst status (the highest) is the run's.
int Run(const Options& options) {
  const auto hosts = std::make_shared<Hosts>();
  StartSignalWatcher(hosts);
  const bool several = options.program_paths.size() > 1;
  int worst = kExitDone;
  for (const std::string& program : options.program_paths) {
    worst = std::max(worst, RunFile(options, program, several, *hosts));
    // Each file's output goes out before the next; a failure keeps its cause for the end.
    NoteStandardOutputFlush();
    if (signal_received) break;
  }
  return worst;
}

}  // namespace
}  // namespace floppyset

int main(int argc, char** argv) {
  using namespace floppyset;
  const OptionsResult parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    PrintError(parsed.error);
    std::fprintf(stderr,
                 "Usage: floppyset PROGRAM.EXE [SWITCH ...] [OPTION ...]\n"
                 "Try 'floppyset --help' for more information.\n");
    return kExitUsage;
  }
  if (parsed.options.show_version) {
    std::fputs(VersionText().c_str(), stdout);
    return FinishOutput(kExitDone);
  }
  if (parsed.options.show_help) {
    std::fputs(HelpText().c_str(), stdout);
    return FinishOutput(kExitDone);
  }
  const int status = Run(parsed.options);
  // A signal came while the run was ending: its thread removes the temporary directories and
  // ends the process with the signal's status.
  while (signal_received) pause();
  return FinishOutput(status);
}
