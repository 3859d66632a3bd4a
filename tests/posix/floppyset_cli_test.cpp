// End-to-end runs of the built floppyset on sets made by mkfloppyset: what a script sees
// (standard output, standard error, exit status) and what is left in the temporary directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "package/integrity.h"
#include "support/set_builder.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using Env = std::vector<std::pair<std::string, std::string>>;
using Args = std::vector<std::string>;

struct Result {
  int status = -1;  // exit status, or -signal when killed
  std::string out, err;
};

constexpr char kSetupScript[] =
    "echo \"installer in $(basename \"$(pwd)\") with $(ls | tr '\\n' ' ')\"\n"
    "[ -z \"$SEM_HELPER\" ] || \"$SEM_HELPER\" TavelotSetupSemaphore\n"
    "[ -z \"$PID_FILE\" ] || { echo $$ > \"$PID_FILE.tmp\"; mv \"$PID_FILE.tmp\" \"$PID_FILE\";"
    " exec sleep 30; }\n";

class FloppysetCli : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("FLOPPYSET_BUILD_DIR");
    if (!build || !fs::exists(std::string(build) + "/floppyset")) GTEST_SKIP() << "no floppyset";
    build_ = build;
    fs::create_directory(temp_);
  }

  // Starts a binary of the build with TMPDIR and TZ set, standard input from /dev/null.
  pid_t Start(const std::string& binary, Args args, const Env& env = {}) {
    args.insert(args.begin(), build_ + "/" + binary);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setenv("TMPDIR", temp_.c_str(), 1);
    setenv("TZ", "UTC", 1);
    unsetenv("FLOPPYSET_RUNNER");
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    dup2(open("/dev/null", O_RDONLY), 0);
    const std::string out = stdout_path_.empty() ? (dir_ / "stdout").string() : stdout_path_;
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    if (file_limit_ != RLIM_INFINITY) {
      const rlimit limit{file_limit_, file_limit_};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    dup2(open((dir_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  // A run that hangs fails by the test's time limit.
  Result Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status),
            ReadFileText(dir_ / "stdout"), ReadFileText(dir_ / "stderr")};
  }
  Result Run(const std::string& binary, const Args& args) { return Wait(Start(binary, args)); }
  Result Floppyset(Args args, const Env& env = {}) {
    args.insert(args.begin(), program_);
    return Wait(Start("floppyset", args, env));
  }

  // The two-disk set: disk1 (README.TXT, SETUP.SH), disk2 (DATA.TXT, EXTRAS\TIPS.TXT), all
  // written 2001-02-03 04:05:06 UTC so that listings are stable.
  void MakeSet(const Args& options = {}) {
    const std::string source = (dir_ / "source").string(), images = (dir_ / "images").string();
    WriteTree(source + "/disk1", {{"README.TXT", "Read me first\n"}, {"SETUP.SH", kSetupScript}});
    WriteTree(source + "/disk2", {{"DATA.TXT", "0123456789"}, {"EXTRAS/TIPS.TXT", "tip\n"}});
    ASSERT_EQ(
        Run("mkfloppyset", {"--fat12", "-o", images, source + "/disk1", source + "/disk2"}).status,
        0);
    Args args{"-o",
              program_,
              "--product=Test Product",
              "--created=2003-12-31T23:30:00",
              "--installer=SETUP.SH",
              "--archive=lha",
              "--verify=1"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {images + "/disk1.img", images + "/disk2.img"});
    const Result made = Run("mkfloppyset", args);
    ASSERT_EQ(made.status, 0) << made.err;
  }

  void ExpectTempClean() {
    EXPECT_TRUE(fs::is_empty(temp_))
        << "left in the temporary directory: " << fs::directory_iterator(temp_)->path();
  }

  testing::TempDir scratch_;
  fs::path dir_ = scratch_.path(), temp_ = dir_ / "tmp";
  // A program file of its own: the single-instance lock belongs to it.
  std::string program_ =
      (dir_ / ::testing::UnitTest::GetInstance()->current_test_info()->name()).string() + ".exe";
  std::string build_;
  std::string stdout_path_;            // standard output of the runs; "" for dir_/stdout
  rlim_t file_limit_ = RLIM_INFINITY;  // ulimit -f of the runs, in bytes
};

// The report reaches standard output, and each way out of the set leaves its files and closing
// words, with either archive kind.
TEST_F(FloppysetCli, EveryModeWithEitherArchiveKind) {
  const fs::path out = dir_ / "out", images = dir_ / "exported", drive = dir_ / "floppies";
  const std::vector<std::tuple<Args, std::string, fs::path, fs::path, Args>> cases{
      // switches, closing words, where the files are written, their originals, the files
      {{"--unpack", "--dest=" + out.string(), "--yes"},
       "Congratulations! All disks are successfully unpacked in " + out.string() + "/.",
       out,
       dir_ / "source",
       {"disk1/README.TXT", "disk2/EXTRAS/TIPS.TXT"}},
      {{"--images=" + images.string()},
       "Disk images written: 2 of 2 in " + images.string(),
       images,
       dir_ / "images",
       {"disk1.img", "disk2.img"}},
      {{"/F", "--drive=" + drive.string(), "--yes"},
       "Congratulations! All disks were successfully created.",
       drive,
       dir_ / "images",
       {"disk1.img", "disk2.img"}},
  };
  for (const auto& [kind, switches] :
       {std::pair{"apst", Args{"/P", "/l"}}, std::pair{"lha", Args{"--list", "--product"}}}) {
    MakeSet({std::string("--archive=") + kind});
    const Result result = Floppyset(switches);
    EXPECT_EQ(result.status, 0) << kind << "\n" << result.err;
    // The core's report (pinned byte for byte in-process) in the terminal's lines.
    for (const char* line :
         {"Package processing:\n====", "Test Product\nNumber of disks               : 2\n",
          "creation of the setup : 31/12/2003 23:30\n",
          "Image 2:\n03/02/2001 04:05              10 DATA.TXT\n EXTRAS\\\n"}) {
      EXPECT_TRUE(Has(result.out, line)) << kind << result.out;
    }
    EXPECT_EQ(result.out.find('\r'), std::string::npos);
    EXPECT_EQ(result.err, "");
    for (const auto& [args, said, written, original, files] : cases) {
      for (const fs::path& d : {out, images, drive}) fs::remove_all(d);
      const Result run = Floppyset(args);
      EXPECT_EQ(run.status, 0) << kind << said << "\n" << run.err;
      EXPECT_TRUE(Has(run.err, said)) << run.err;
      for (const std::string& file : files) {
        EXPECT_EQ(ReadFileBytes(written / file), ReadFileBytes(original / file)) << kind << file;
      }
      ExpectTempClean();
    }
  }
}

// Unix habits: -q says nothing but errors, -v names every file or image written, the
// options and switches stand before the file, and reports take several files, with the worst
// status of them.
TEST_F(FloppysetCli, QuietVerboseAndSeveralFiles) {
  MakeSet();
  fs::create_directory(dir_ / "out");  // no question about it
  const std::string out = (dir_ / "out").string(), drive = (dir_ / "floppies").string();
  const std::string missing = (dir_ / "missing.exe").string();
  struct Case {
    Args args;
    int status;
    std::string err;  // exactly
    std::string out;  // contained
  };
  const std::vector<Case> cases{
      {{"-q", "/F", "--drive", drive, "-y", program_}, 0, "", ""},
      {{"-q", "/X", program_},
       2,
       "SETUP: Unknown command line parameter: /X.\n  Run " + program_ + " /? for help.\n",
       ""},
      {{"-vy", "--dest", out, "/D", program_},
       0,
       out + "/disk1/README.TXT\n" + out + "/disk1/SETUP.SH\n" + out + "/disk2/DATA.TXT\n" + out +
           "/disk2/EXTRAS/TIPS.TXT\nSETUP: Congratulations! All disks are successfully "
           "unpacked in " +
           out + "/. For install \"Test Product\" please run SETUP.EXE from " + out + "/disk1\\.\n",
       ""},
      {{"/P", program_, program_}, 0, "", program_ + ":\nPackage processing:"},
      {{"--json", "/P", program_, missing, program_},
       1,
       "floppyset: cannot open " + missing + ": No such file or directory\n",
       "{\"schema\": 1,\"file\": \"" + program_ + "\",\"ok\": true,"},
  };
  for (const Case& test : cases) {
    const Result result = Wait(Start("floppyset", test.args));
    EXPECT_EQ(result.status, test.status) << test.args[0] << result.err;
    EXPECT_EQ(result.err, test.err) << test.args[0];
    EXPECT_TRUE(Has(result.out, test.out)) << result.out;
    ExpectTempClean();
  }
  // One document per line, one line per file.
  const Result json = Wait(Start("floppyset", {"--json", program_, missing, program_}));
  EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 3) << json.out;
}

// The plain refusals say exactly why; a cut program file ends with 1 or 3 and says something.
TEST_F(FloppysetCli, ExitStatusesForScripts) {
  MakeSet();
  const std::string set = program_, text = (dir_ / "text.exe").string(),
                    missing = (dir_ / "missing").string();
  WriteFileText(text, "hello\n");
  struct Case {
    Args args;
    int status;         // -1: 1 or 3
    std::string shown;  // expected in stdout + stderr
    std::string program = "";
  };
  std::vector<Case> cases{
      {{"/X"}, 2, "Unknown command line parameter: /X.\n  Run " + program_ + " /? for help."},
      {{"--frobnicate"}, 2, "floppyset: unknown option --frobnicate"},
      {{"/?"}, 0, "Command line parameters:\n  /L    - List files in set\n"},
      {{"--help"}, 0, "  3        refused: not a setup program"},
      // Without a terminal the confirmation and the unpack question say no.
      {{}, 4, "OK or Cancel? Cancel (no terminal to ask)"},
      {{"--no"}, 4, "Yes or No? No (--no)"},
      {{"/D"}, 4, "Enter directory for image unpack: Cancel (give it with --dest=DIR)"},
      {{"/D", "--dest=" + (dir_ / "new").string()}, 4, "(--yes creates a missing directory)"},
      // A missing device is refused before the first question.
      {{"/F", "--yes", "--device=" + (dir_ / "no-such-device").string()},
       3,
       "SETUP: " + (dir_ / "no-such-device").string() + ": No such file or directory.\n"},
      {{"/P"}, 3, "floppyset: " + text + ": not a setup program", text},
      {{"/P"}, 1, "floppyset: cannot open " + missing + ": No such file or directory\n", missing},
      {{"/P"}, 1, "floppyset: " + dir_.string() + " is not a file\n", dir_.string()}};
  const std::vector<uint8_t> whole = ReadFileBytes(program_);
  for (const size_t cut :
       {size_t{0}, size_t{64}, size_t{400}, whole.size() / 2, whole.size() - 1}) {
    const std::string path = (dir_ / ("cut" + std::to_string(cut))).string();
    WriteFileBytes(path, {whole.begin(), whole.begin() + cut});
    cases.push_back({{"/P"}, -1, "", path});
  }
  for (const Case& test : cases) {
    program_ = test.program.empty() ? set : test.program;
    const Result result = Floppyset(test.args);
    const std::string shown = result.out + result.err;
    EXPECT_TRUE(test.status < 0 ? result.status == 1 || result.status == 3
                                : result.status == test.status)
        << test.shown << "\n"
        << shown;
    EXPECT_TRUE(Has(shown, test.shown)) << shown;
    EXPECT_TRUE(test.status == 0 || !result.err.empty()) << test.program;  // failures say why
    ExpectTempClean();
  }
  EXPECT_FALSE(fs::exists(dir_ / "new"));
}

// Nothing is written where no floppy is, a failed write or create names its cause and the file
// and ends with status 1 (also under ulimit -f and for a full standard output), and nothing
// half-written or made for it is left behind.
TEST_F(FloppysetCli, WriteFailuresAreNamedAndLeaveNothing) {
  MakeSet();
  const fs::path file = dir_ / "file.img";
  const std::string not_dir = ": Not a directory";
  struct Case {
    Args args;
    int status;
    std::string said;  // on standard error
    std::string out = "", limit = "";
  };
  const std::vector<Case> cases{
      {{"/F", "--drive=" + (file / "d").string()},
       1,
       "cannot create the directory " + (file / "d").string() + not_dir},
      {{"--images=" + (file / "i").string()}, 1, (file / "i").string() + not_dir},
      {{"/F", "--device=" + file.string()},
       3,
       file.string() + " is a file, not a floppy drive: image files are written with --drive=DIR"},
      {{"/C:1", "--device=" + file.string()}, 3, "is a file, not a floppy drive"},
      {{"/S", "--device=/dev/null"}, 3, "/dev/null is not a floppy drive (not a block device)"},
      // Under ulimit -f the copy of the package is cut short (images written short: the
      // in-process tests); a report keeps it in memory and needs no file at all.
      {{"/D", "--dest=" + (dir_ / "out").string()}, 3, "(File too large).", "", "64"},
      {{"/L"}, 0, "", "", "64"},
      {{"--json"},
       1,
       "floppyset: cannot write the standard output: No space left on device\n",
       "/dev/full"},
      {{"/L"},
       1,
       "floppyset: cannot write the standard output: No space left on device\n",
       "/dev/full"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back() + " " + c.out + c.limit);
    WriteFileText(file.string(), "precious");
    stdout_path_ = c.out;
    file_limit_ = c.limit.empty() ? RLIM_INFINITY : std::stoul(c.limit) * 1024;
    Args args = c.args;
    args.push_back("--yes");
    const Result result = Floppyset(args);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_TRUE(Has(result.err, c.said)) << result.err;
    EXPECT_TRUE(c.status != 3 || !Has(result.err, "OK or Cancel")) << "asked before refusing";
    EXPECT_EQ(ReadFileText(file), "precious");
    for (const char* made : {"d", "i"}) EXPECT_FALSE(fs::exists(dir_ / made)) << made;
    ExpectTempClean();
  }
  stdout_path_.clear(), file_limit_ = RLIM_INFINITY;
}

// Package texts reach the terminal with their C1 controls escaped in either kind of locale:
// as bytes in an 8-bit one (0x9B is CSI on the Linux console), as UTF-8 in a UTF-8 one, where
// code page 1252 makes 0x9B a printable character.
TEST_F(FloppysetCli, C1ControlsOfPackageTextsAreEscapedInEveryLocale) {
  // Code page 1252 stores U+203A as 0x9B and U+2026 as 0x85.
  MakeSet(
      {"--product=Evil\xe2\x80\xba"
       "2J\xe2\x80\xa6Name"});
  for (const auto& [locale, shown] : {std::pair{"C", "Evil\\x9b2J\\x85Name"},
                                      {"C.UTF-8",
                                       "Evil\xe2\x80\xba"
                                       "2J\xe2\x80\xa6Name"}}) {
    const Result result = Floppyset({"/P"}, {{"LC_ALL", locale}});
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(Has(result.out, std::string("Product name                  : ") + shown + "\n"))
        << locale << "\n"
        << result.out;
  }
}

// Every .exe and .dll of Wine and MinGW on this machine (a sample) and hand-made programs with
// a certificate table, an overlay or as a DLL are not setup programs: status 3 and their own
// message, never 536 nor a damaged set. Help and a bad switch are answered all the same; a
// set, odd or damaged, stays a setup program.
TEST_F(FloppysetCli, OtherProgramsAreNotSetupPrograms) {
  std::vector<std::string> found;
  std::vector<fs::path> roots{"/usr/lib/x86_64-linux-gnu/wine", "/usr/i686-w64-mingw32",
                              "/usr/x86_64-w64-mingw32"};
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/usr/lib/gcc", error)) {
    if (Has(entry.path().filename().string(), "mingw")) roots.push_back(entry.path());
  }
  for (const fs::path& root : roots) {
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      std::string name = it->path().filename().string();
      std::transform(name.begin(), name.end(), name.begin(), ::tolower);
      if ((name.ends_with(".exe") || name.ends_with(".dll")) && it->is_regular_file()) {
        found.push_back(it->path().string());
      }
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> programs;  // every n-th, at most about 150, and setx.exe
  for (size_t i = 0; i < found.size(); ++i) {
    if (i % (found.size() / 150 + 1) == 0 || found[i].ends_with("/setx.exe")) {
      programs.push_back(found[i]);
    }
  }
  if (programs.empty()) std::cerr << "no Wine or MinGW programs here: hand-made ones only\n";

  // A PE32 image of 0x3000 bytes with a certificate table behind it (where signing puts it),
  // with zeros or a zip behind it (an overlay), and a DLL that ends with its image.
  Bytes image = ProgramImage(0x3000, 0x4D2F);
  PutLe(image, 0x80 + 24, 0x10B, 2);      // PE32
  PutLe(image, 0x80 + 24 + 92, 16);       // data directories
  PutLe(image, 0x80 + 24 + 128, 0x3000);  // the certificate table
  PutLe(image, 0x80 + 24 + 132, 0x208);
  Bytes signed_program = image, zeros = image, zip = image, dll = image;
  Append(signed_program, Bytes{0x08, 0x02, 0, 0, 0, 0x02, 0x02, 0, 0x30, 0x82, 0x01, 0xF9, 0x06});
  signed_program.resize(0x3000 + 0x208, 0xA5);
  zeros.resize(0x3000 + 4096);
  Append(zip, std::string("PK\3\4\24\0\0\0\10\0setup.inf and more"), 300);
  PutLe(dll, 0x80 + 4 + 18, 0x2102, 2);  // DLL, executable, 32-bit
  for (const auto& [name, bytes] : {std::pair{"signed.exe", signed_program},
                                    {"zeros.exe", zeros},
                                    {"zip.exe", zip},
                                    {"library.dll", dll}}) {
    programs.push_back((dir_ / name).string());
    WriteFileBytes(programs.back(), bytes);
  }

  for (const std::string& program : programs) {
    program_ = program;
    const Result result = Floppyset({"--json"});
    EXPECT_EQ(result.status, 3) << program;
    EXPECT_EQ(result.out, "{\n  \"schema\": 1,\n  \"file\": \"" + program +
                              "\",\n  \"ok\": false,\n  \"setup\": false,\n  \"error\": \"not a "
                              "setup program\",\n  \"exit_status\": 3\n}\n")
        << program;
    EXPECT_EQ(result.err, "floppyset: " + program +
                              ": not a setup program (no setup package behind its executable "
                              "image)\n");
  }
  ExpectTempClean();
  for (const auto& [args, status, shown] :
       {std::tuple{Args{"/?"}, 0, "Command line parameters:\n"},
        {Args{"/P", "/X"}, 2, "SETUP: Unknown command line parameter: /X.\n"}}) {
    const Result result = Floppyset(args);
    EXPECT_EQ(result.status, status);
    EXPECT_TRUE(Has(result.out + result.err, shown)) << result.out << result.err;
    EXPECT_FALSE(Has(result.err, "authenticity") || Has(result.err, "not a setup")) << result.err;
  }
  // A set stays one, also when its package is damaged (536) or its header odd.
  program_ = (dir_ / "set.exe").string();
  for (const size_t damaged : {size_t{0}, size_t{1}}) {
    MakeSet({"--archive=lha", "--dialog-style=7"});
    Bytes bytes = ReadFileBytes(program_);
    bytes[bytes.size() - 30] ^= damaged;
    WriteFileBytes(program_, bytes);
    const Result result = Floppyset({"--json", "/P"});
    EXPECT_EQ(result.status, damaged ? 3 : 0) << result.err;
    EXPECT_TRUE(Has(result.out, damaged ? "\"ok\": false,\n  \"setup\": true,\n  \"error\": "
                                          "\"the package failed its integrity check\""
                                        : "\"ok\": true,\n  \"setup\": true,\n  \"product\""))
        << result.out;
    EXPECT_EQ(Has(result.err, "failed authenticity check"), damaged == 1) << result.err;
  }
}

// One byte of the first member damaged (the package checksum fixed, as a broken builder would
// do), or a DiskCount above the archive's images, in every mode: whatever is intact comes back,
// every loss is named with its disk, and no such run ends as a success or asks to write it.
TEST_F(FloppysetCli, ADamagedOrIncompleteSetGivesBackWhatIsIntact) {
  for (const std::string kind : {"apst", "lha"}) {
    SCOPED_TRACE(kind);
    MakeSet({"--archive=" + kind});
    const Bytes good = ReadFileBytes(program_);
    const uint32_t package = PackageOffset(good);
    const size_t archive = package + 54 + GetLe(good, package + 48, 2) +
                           GetLe(good, package + 50, 2) + GetLe(good, package + 52, 2);
    Bytes damaged = good, incomplete = good;
    damaged[archive + 100] ^= 0x5A;
    PutLe(damaged, package + 44, PackageSum(&damaged[archive], damaged.size() - archive));
    PutLe(incomplete, package + 22, 3, 2);
    const std::string lost1 = "Disk image 1 (image00.tii) is damaged: its data is damaged.",
                      lost3 = "Disk image 3 (image02.tii) is missing: not in the archive.";
    const auto at = [&](const std::string& name) { return (dir_ / name).string(); };
    const struct {
      const Bytes& program;
      Args args;
      int status;
      std::vector<std::string> said;  // on either stream
      std::vector<std::string> made = {}, absent = {};
    } cases[] = {
        {damaged, {"/L"}, 1, {lost1, "Disk image 2 (image01.tii) is missing: not extracted"}},
        {damaged, {"--salvage", "/L"}, 1, {lost1, "DATA.TXT"}},
        {damaged,
         {"--salvage", "/D", "--dest=" + at("s"), "--yes"},
         1,
         {lost1},
         {"s/disk2/DATA.TXT"},
         {"s/disk1"}},
        {damaged, {"--images=" + at("i1")}, 1, {lost1, "written: 0 of 2"}, {}, {"i1"}},
        {incomplete,
         {"/D", "--dest=" + at("u"), "--yes"},
         1,
         {lost3, "is incomplete"},
         {"u/disk1/README.TXT", "u/disk2/EXTRAS/TIPS.TXT"},
         {"u/disk3"}},
        {incomplete,
         {"--images=" + at("i2")},
         1,
         {lost3, "written: 2 of 3"},
         {"i2/disk1.img", "i2/disk2.img"},
         {"i2/disk3.img"}},
        {incomplete, {"/L"}, 1, {"Image 3:\n    *** " + lost3 + " ***", "TIPS.TXT"}},
        {incomplete,
         {"--json"},
         1,
         {"\"ok\": false", "\"condition\": \"intact\"", "\"condition\": \"missing\"",
          "\"reason\": \"not in the archive\""}},
        {incomplete, {"--test"}, 1, {lost3 + "\n", "not whole or not sound"}},
        {good, {"--test"}, 0, {"every disk image is whole and sound"}},
        {incomplete,
         {"/F", "--drive=" + at("f"), "--yes"},
         1,
         {"cannot be written to floppy disks", lost3},
         {},
         {"f/disk1.img"}},
        {incomplete, {"/E", "--yes"}, 1, {lost3, "Nothing was unpacked or started."}},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.args[0] + " " + c.args.back());
      WriteFileBytes(program_, c.program);
      const Result result = Floppyset(c.args);
      const std::string said = result.out + result.err;
      EXPECT_EQ(result.status, c.status) << said;
      for (const std::string& text : c.said) EXPECT_TRUE(Has(said, text)) << text << "\n" << said;
      EXPECT_FALSE(Has(said, "Congratulations")) << said;
      EXPECT_FALSE(Has(said, "floppy disks.\n")) << "the floppy question";
      for (const std::string& path : c.made) EXPECT_TRUE(fs::exists(dir_ / path)) << path;
      for (const std::string& path : c.absent) EXPECT_FALSE(fs::exists(dir_ / path)) << path;
      ExpectTempClean();
    }
    fs::remove_all(dir_ / "source");
  }
}

// Only the set's own installer is started, and only through the user's runner: no program of
// the host, nor a file of the set named like the runner. The start notice closes when the
// installer releases its semaphore.
TEST_F(FloppysetCli, AutostartStartsOnlyTheSetsOwnInstaller) {
  const std::pair<std::string, std::string> sh{"FLOPPYSET_RUNNER", "sh"};
  const std::string notice =
      "It may take several minutes. Please close all other tasks and "
      "wait.\nSetup: the installer has started; the notice is closed";
  const std::vector<std::tuple<std::string, Env, int, std::string, std::string>> cases{
      {"SETUP.SH", {}, 1, "", "Set FLOPPYSET_RUNNER to a program that can"},
      {"sh -c id", {sh}, 1, "", "The installer \"sh -c id\" is not in the set"},
      {"SETUP.SH", {{"FLOPPYSET_RUNNER", "no-such-runner"}}, 1, "", "could not be started"},
      {"SETUP.SH",
       {sh, {"SEM_HELPER", build_ + "/tests/posix/sem_post_helper"}},
       0,
       "installer in disk1 with README.TXT SETUP.SH \n",
       notice},
      // The set holds a file named like the runner.
      {"setup.sh",
       {sh, {"PATH", std::string(".:") + std::getenv("PATH")}},
       0,
       "installer in disk1 with README.TXT SETUP.SH SH \n",
       ""},
  };
  for (const auto& [installer, env, status, out, err] : cases) {
    if (installer == "setup.sh")
      WriteFileText((dir_ / "source/disk1/SH").string(), "echo hijack\n");
    MakeSet({"--installer=" + installer});
    const Result result = Floppyset({"/E", "/W"}, env);
    EXPECT_EQ(result.status, status) << installer << "\n" << result.err;
    EXPECT_EQ(result.out, out) << installer;
    EXPECT_TRUE(Has(result.err, err)) << installer << "\n" << result.err;
    ExpectTempClean();
  }
}

// Links planted in the places the tool writes to are never followed, and a destination in
// the temporary directory named like a workspace is the user's and stays.
TEST_F(FloppysetCli, WritesNeverFollowLinksOutOfTheirPlace) {
  MakeSet();
  const fs::path outside = dir_ / "outside", victim = outside / "victim.txt";
  const fs::path dest = dir_ / "dest", images = dir_ / "images-out", drive = dir_ / "floppies";
  const std::string unpack = "--dest=" + dest.string();
  const std::vector<std::tuple<fs::path, fs::path, Args>> cases{
      {dest / "disk1", outside, {"/D", unpack}},
      {dest / "disk2" / "EXTRAS", outside, {"/D", unpack}},
      {dest / "disk2" / "DATA.TXT", victim, {"/D", unpack}},
      {images / "disk1.img", victim, {"--images=" + images.string()}},
      {drive / "disk1.img", victim, {"/F", "--drive=" + drive.string()}},
  };
  const auto kept = fs::perms::owner_read;  // read-only: a refused file is not replaced
  for (const auto& [link, target, args] : cases) {
    for (const fs::path& d : {outside, dest, images, drive}) fs::remove_all(d);
    fs::create_directories(outside);
    WriteFileText(victim.string(), "precious");
    fs::permissions(victim, kept);
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
    Args all{"--yes"};
    all.insert(all.end(), args.begin(), args.end());
    Floppyset(all);
    EXPECT_EQ(ReadFileText(victim), "precious") << link;
    EXPECT_EQ(fs::status(victim).permissions(), kept) << link;
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1) << link;
    EXPECT_TRUE(fs::is_symlink(link)) << link;
    ExpectTempClean();
  }
  const fs::path in_temp = temp_ / "TII777";
  EXPECT_EQ(Floppyset({"/D", "--dest=" + in_temp.string(), "--yes"}).status, 0);
  EXPECT_EQ(ReadFileText(in_temp / "disk1" / "README.TXT"), "Read me first\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(temp_), fs::directory_iterator()), 1);
}

// A signal at any moment of a run ends it with the signal's status (unless the run was over
// first) and leaves nothing in the temporary directory.
TEST_F(FloppysetCli, ASignalAtAnyMomentEndsWithItsStatusAndLeavesNothing) {
  MakeSet();
  int signalled = 0;
  for (int delay = 0; delay < 20; ++delay) {
    const std::string where = dir_.string() + "/" + std::to_string(delay);
    const pid_t pid = Start("floppyset", {program_, "--yes", delay % 2 ? "/D" : "/F",
                                          (delay % 2 ? "--dest=" : "--drive=") + where});
    std::this_thread::sleep_for(std::chrono::microseconds(delay * 800));
    kill(pid, SIGTERM);
    const Result result = Wait(pid);
    signalled += result.status == 143 || result.status == -SIGTERM;
    EXPECT_TRUE(result.status == 0 || result.status == 143 || result.status == -SIGTERM)
        << delay << "\n"
        << result.err;
    ExpectTempClean();
  }
  EXPECT_GT(signalled, 0);
}

// A second writing run of the same program file is refused while the installer runs, also
// under another name of the file (the lock is the file's, not its name's), but a report is
// not; a termination removes the workspace and the unpacked set.
TEST_F(FloppysetCli, TerminationDuringARunRemovesTheWorkspace) {
  MakeSet();
  const fs::path pid_file = dir_ / "installer.pid";
  const pid_t pid = Start("floppyset", {program_, "/E", "/W"},
                          {{"FLOPPYSET_RUNNER", "sh"}, {"PID_FILE", pid_file.string()}});
  for (int i = 0; i < 1000 && !fs::exists(pid_file); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(fs::exists(pid_file)) << "the installer did not start";
  EXPECT_FALSE(fs::is_empty(temp_));
  const fs::path first_errors = dir_ / "first.stderr";
  fs::rename(dir_ / "stderr", first_errors);

  const fs::path first = program_, elsewhere = dir_ / "elsewhere" / first.filename();
  fs::create_hard_link(first, dir_ / "other-name.exe");
  fs::create_directory(elsewhere.parent_path());
  fs::copy_file(first, elsewhere);
  for (const auto& [path, args, status] :
       std::vector<std::tuple<fs::path, Args, int>>{{first, {"/D", "--no"}, 3},
                                                    {dir_ / "other-name.exe", {"/D", "--no"}, 3},
                                                    {first, {"/P", "-q"}, 0},
                                                    {elsewhere, {"/D", "--no", "-q"}, 4}}) {
    program_ = path;
    const Result result = Floppyset(args);
    EXPECT_EQ(result.status, status) << path;
    EXPECT_EQ(result.err,
              status == 3 ? "Error: Another instance of the program is already running\n" : "");
    EXPECT_FALSE(fs::is_empty(temp_));
  }
  const fs::path semaphore = "/dev/shm/sem.TavelotSetupSemaphore";
  EXPECT_TRUE(fs::exists(semaphore)) << "the start notice's semaphore";
  kill(pid, SIGTERM);
  const Result result = Wait(pid);
  kill(std::stoi(ReadFileText(pid_file)), SIGKILL);
  EXPECT_EQ(result.status, 143);
  EXPECT_TRUE(Has(ReadFileText(first_errors), "interrupted, temporary files removed"));
  ExpectTempClean();
  // Another test's run may hold the name for a moment.
  for (int i = 0; i < 100 && fs::exists(semaphore); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(fs::exists(semaphore)) << "left behind by the interrupted run";
}

}  // namespace
}  // namespace floppyset
