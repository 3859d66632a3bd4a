// End-to-end runs of the built floppyset on sets made by mkfloppyset: what a script sees
// (standard output, standard error, exit status) and what is left in the temporary directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <thread>

#include "package/integrity.h"
#include "package/package_header.h"
#include "package/package_reader.h"
#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;
using testing::WriteFileText;

struct Result {
  int status = -1;  // exit status, or -signal when killed
  std::string out;
  std::string err;
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
    if (!build || !fs::exists(std::string(build) + "/floppyset")) {
      GTEST_SKIP() << "FLOPPYSET_BUILD_DIR does not hold floppyset";
    }
    build_ = build;
    temp_ = dir_ / "tmp";
    fs::create_directory(temp_);
    // A program file name of its own: the single-instance lock is named after it.
    program_ =
        dir_ /
        (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".exe");
  }

  // Starts a binary of the build with TMPDIR and TZ set, standard input from /dev/null.
  pid_t Start(const std::string& binary, const std::vector<std::string>& args,
              const std::vector<std::pair<std::string, std::string>>& env = {}) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setenv("TMPDIR", temp_.c_str(), 1);
    setenv("TZ", "UTC", 1);
    unsetenv("FLOPPYSET_RUNNER");
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open((dir_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open((dir_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    const std::string path = build_ + "/" + binary;
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
    _exit(127);
  }

  // Waits at most a minute: a run that hangs is a failure, not a stuck test.
  Result Wait(pid_t pid) {
    Result result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "the run did not end within a minute";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    result.out = ReadText(dir_ / "stdout");
    result.err = ReadText(dir_ / "stderr");
    return result;
  }

  Result Floppyset(std::vector<std::string> args,
                   const std::vector<std::pair<std::string, std::string>>& env = {}) {
    return Wait(Start("floppyset", args, env));
  }

  static std::string ReadText(const fs::path& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path.string());
    return std::string(bytes.begin(), bytes.end());
  }

  // A file with a fixed last-write time (2001-02-03 04:05:06 UTC), so listings are stable.
  static void WriteFixedFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    WriteFileText(path.string(), text);
    std::tm tm{};
    tm.tm_year = 101;
    tm.tm_mon = 1;
    tm.tm_mday = 3;
    tm.tm_hour = 4;
    tm.tm_min = 5;
    tm.tm_sec = 6;
    const timespec times[2] = {{timegm(&tm), 0}, {timegm(&tm), 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }

  // The two-disk test set: FAT12 images of disk1 (README.TXT, SETUP.SH) and disk2 (DATA.TXT,
  // EXTRAS\TIPS.TXT), packed into program_ with the given mkfloppyset options.
  void MakeSet(const std::vector<std::string>& options = {}) {
    const fs::path source = dir_ / "source";
    WriteFixedFile(source / "disk1" / "README.TXT", "Read me first\n");
    WriteFixedFile(source / "disk1" / "SETUP.SH", kSetupScript);
    WriteFixedFile(source / "disk2" / "DATA.TXT", "0123456789");
    WriteFixedFile(source / "disk2" / "EXTRAS" / "TIPS.TXT", "tip\n");
    ASSERT_EQ(Wait(Start("mkfloppyset", {"--fat12", "-o", (dir_ / "images").string(),
                                         (source / "disk1").string(), (source / "disk2").string()}))
                  .status,
              0);
    std::vector<std::string> args{"-o",
                                  program_.string(),
                                  "--product=Test Product",
                                  "--created=2003-12-31T23:30:00",
                                  "--installer=SETUP.SH",
                                  "--archive=lha"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back((dir_ / "images" / "disk1.img").string());
    args.push_back((dir_ / "images" / "disk2.img").string());
    const Result made = Wait(Start("mkfloppyset", args));
    ASSERT_EQ(made.status, 0) << made.err;
  }

  // Damages one byte of the archive at `offset` and fixes the package checksum, as a
  // broken builder would: the package passes its checks, the extraction fails.
  void DamageArchive(size_t offset, bool from_end = false) {
    PosixHost host;
    PeFields fields;
    ASSERT_TRUE(ReadPeFields(*host.OpenForRead(program()), fields));
    std::vector<uint8_t> bytes = ReadFileBytes(program());
    uint8_t raw[kPackageHeaderSize];
    std::copy_n(bytes.begin() + fields.SizeOfImage, kPackageHeaderSize, raw);
    PackageHeader header = DecodePackageHeader(raw);
    const size_t archive = fields.SizeOfImage + kPackageHeaderSize + header.ProductNameLength +
                           header.FinalMessageLength + header.InstallerNameLength;
    ASSERT_LT(archive + offset, bytes.size());
    bytes[from_end ? bytes.size() - 1 - offset : archive + offset] ^= 0x5A;
    header.ExpectedPackageChecksum = PackageSum(&bytes[archive], bytes.size() - archive);
    const auto encoded = EncodePackageHeader(header);
    std::copy(encoded.begin(), encoded.end(), bytes.begin() + fields.SizeOfImage);
    WriteFileBytes(program(), bytes);
  }

  void ExpectTempClean() {
    EXPECT_TRUE(fs::is_empty(temp_))
        << "left in the temporary directory: " << fs::directory_iterator(temp_)->path();
  }

  std::string program() const { return program_.string(); }

  TempDir scratch_;
  fs::path dir_ = scratch_.path();
  std::string build_;
  fs::path temp_;
  fs::path program_;
};

const std::string kReport =
    "Package processing:\n"
    "=========================================================\n"
    "Product name                  : Test Product\n"
    "Number of disks               : 2\n"
    "Data of creation of the setup : 31/12/2003 23:30\n"
    "=========================================================\n"
    "Image 1:\n"
    "03/02/2001 04:05              14 README.TXT\n"
    "03/02/2001 04:05             " +
    std::to_string(sizeof kSetupScript - 1) +
    " SETUP.SH\n"
    "\n"
    "Image 2:\n"
    "03/02/2001 04:05              10 DATA.TXT\n"
    " EXTRAS\\\n"
    "03/02/2001 04:05               4 TIPS.TXT\n"
    "=========================================================\n";

TEST_F(FloppysetCli, ReportsAreByteExactInEverySpellingAndArchiveKind) {
  for (const std::string kind : {"apst", "lha"}) {
    MakeSet({"--archive=" + kind});
    for (const std::vector<std::string>& switches : std::vector<std::vector<std::string>>{
             {"/P", "/L"}, {"/l", "/p"}, {"--list", "--product"}, {"/List", "/Product"}}) {
      std::vector<std::string> args{program()};
      args.insert(args.end(), switches.begin(), switches.end());
      const Result result = Floppyset(args);
      EXPECT_EQ(result.status, 0) << kind << " " << switches[0] << "\n" << result.err;
      EXPECT_EQ(result.out, kReport) << kind << " " << switches[0];
      EXPECT_EQ(result.err, "");
      ExpectTempClean();
    }
  }
}

TEST_F(FloppysetCli, UnpacksIntoTheGivenDestination) {
  MakeSet();
  const fs::path out = dir_ / "out";
  Result result = Floppyset({program(), "/D", "--dest=" + out.string()});
  EXPECT_EQ(result.status, 4) << "a missing destination is created only when confirmed";
  EXPECT_NE(result.err.find("was not accepted (--yes creates a missing directory)"),
            std::string::npos)
      << result.err;
  EXPECT_FALSE(fs::exists(out));

  result = Floppyset({program(), "--unpack", "--dest=" + out.string(), "--yes"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadText(out / "disk1" / "README.TXT"), "Read me first\n");
  EXPECT_EQ(ReadText(out / "disk2" / "EXTRAS" / "TIPS.TXT"), "tip\n");
  EXPECT_NE(result.err.find("Congratulations! All disks are successfully unpacked in " +
                            out.string() + "/."),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.out, "");
  ExpectTempClean();
}

TEST_F(FloppysetCli, WritesTheDiskImagesOnRequest) {
  MakeSet();
  const fs::path images = dir_ / "exported";
  Result result = Floppyset({program(), "--images=" + images.string()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(result.out.starts_with("Package processing:\n")) << result.out;
  EXPECT_NE(result.err.find("Disk images written: 2 of 2 in " + images.string()),
            std::string::npos);
  EXPECT_EQ(ReadFileBytes((images / "disk1.img").string()),
            ReadFileBytes((dir_ / "images" / "disk1.img").string()));
  EXPECT_EQ(ReadFileBytes((images / "disk2.img").string()),
            ReadFileBytes((dir_ / "images" / "disk2.img").string()));
  ExpectTempClean();
}

TEST_F(FloppysetCli, WritesFloppiesIntoImageFiles) {
  MakeSet();
  const fs::path drive = dir_ / "floppies";
  const Result result = Floppyset({program(), "/F", "--drive=" + drive.string(), "--yes"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("Congratulations! All disks were successfully created."),
            std::string::npos)
      << result.err;
  EXPECT_EQ(ReadFileBytes((drive / "disk1.img").string()),
            ReadFileBytes((dir_ / "images" / "disk1.img").string()));
  EXPECT_EQ(ReadFileBytes((drive / "disk2.img").string()),
            ReadFileBytes((dir_ / "images" / "disk2.img").string()));
  ExpectTempClean();
}

TEST_F(FloppysetCli, ExitStatusesForScripts) {
  MakeSet();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string shown;  // expected in stdout + stderr
  };
  const std::vector<Case> cases{
      {{"/X"}, 2, "Unknown command line parameter: /X.\n  Run " + program() + " /? for help."},
      {{"/L", "/C:9"}, 2, "Incorrect disk number: 9"},
      {{"--frobnicate"}, 2, "floppyset: unknown option --frobnicate"},
      {{"/?"}, 0, "Command line parameters:\n  /L    - List files in set\n"},
      {{"--help"}, 0, "  3        refused: no setup package"},
      // Floppy mode without a terminal: the confirmation and the unpack question say no.
      {{}, 4, "OK or Cancel? Cancel (no terminal to ask)"},
      {{"--no"}, 4, "Yes or No? No (--no)"},
      {{"/D"}, 4, "Enter directory for image unpack: Cancel (give it with --dest=DIR)"},
      // A floppy that always fails does not make --yes loop for ever.
      {{"/F", "--yes", "--device=" + (dir_ / "no-such-device").string()},
       4,
       "OK or Cancel? Cancel (--yes, asked once too often)"},
  };
  for (const Case& test : cases) {
    std::vector<std::string> args{program()};
    args.insert(args.end(), test.args.begin(), test.args.end());
    const Result result = Floppyset(args);
    const std::string shown = result.out + result.err;
    EXPECT_EQ(result.status, test.status) << args.back() << "\n" << shown;
    EXPECT_NE(shown.find(test.shown), std::string::npos) << args.back() << "\n" << shown;
    ExpectTempClean();
  }
  EXPECT_NE(Floppyset({program()}).err.find("standard input is not a terminal"), std::string::npos);
  EXPECT_EQ(Floppyset({"--version"}).out, "floppyset 1.0.0\n");
}

TEST_F(FloppysetCli, BadProgramFilesEndWithAClearMessage) {
  MakeSet();
  const std::vector<uint8_t> whole = ReadFileBytes(program());
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files{
      {"text.exe", {'h', 'e', 'l', 'l', 'o', '\n'}},
      {"empty.exe", {}},
  };
  std::vector<uint8_t> garbage(20000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 7919 >> 3);
  garbage[0] = 'M';
  garbage[1] = 'Z';
  files.emplace_back("garbage.exe", garbage);
  for (const size_t cut : {size_t{64}, size_t{400}, whole.size() / 2, whole.size() - 1}) {
    files.emplace_back("cut" + std::to_string(cut) + ".exe",
                       std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
  }
  for (const auto& [name, bytes] : files) {
    WriteFileBytes((dir_ / name).string(), bytes);
    const Result result = Floppyset({(dir_ / name).string(), "/P"});
    EXPECT_TRUE(result.status == 1 || result.status == 3) << name << ": " << result.status;
    EXPECT_NE(result.err, "") << name;
    ExpectTempClean();
  }
  Result result = Floppyset({(dir_ / "text.exe").string(), "/P"});
  EXPECT_EQ(result.status, 3);
  EXPECT_NE(result.err.find("floppyset: no setup package found in " + (dir_ / "text.exe").string()),
            std::string::npos)
      << result.err;

  result = Floppyset({(dir_ / "missing.exe").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "floppyset: cannot open " + (dir_ / "missing.exe").string() +
                            ": No such file or directory\n");
  result = Floppyset({dir_.string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "floppyset: " + dir_.string() + " is not a file\n");
  ExpectTempClean();
}

TEST_F(FloppysetCli, ADiskImageThatCannotBeExtractedIsNamed) {
  for (const std::string kind : {"apst", "lha"}) {
    MakeSet({"--archive=" + kind});
    const std::vector<uint8_t> whole = ReadFileBytes(program());
    DamageArchive(100);  // inside the first member
    Result result = Floppyset({program(), "/L", "--images=" + (dir_ / "img").string()});
    EXPECT_EQ(result.status, 1) << kind << result.err;
    EXPECT_NE(result.err.find("floppyset: disk image 1 (image00.tii) could not be extracted"),
              std::string::npos)
        << kind << result.err;
    EXPECT_NE(result.err.find("Disk images written: 0 of 2"), std::string::npos) << result.err;
    ExpectTempClean();

    WriteFileBytes(program(), whole);
    DamageArchive(20, true);  // inside the last member
    result = Floppyset({program(), "/L"});
    EXPECT_EQ(result.status, 1) << kind << result.err;
    EXPECT_NE(result.err.find("floppyset: disk image 2 (image01.tii) could not be extracted"),
              std::string::npos)
        << kind << result.err;
    ExpectTempClean();
  }
}

TEST_F(FloppysetCli, AutostartRunsTheInstallerAndTheNoticeClosesOnItsSemaphore) {
  MakeSet();
  const Result result = Floppyset(
      {program(), "/E", "/W"},
      {{"FLOPPYSET_RUNNER", "sh"}, {"SEM_HELPER", build_ + "/tests/posix/sem_post_helper"}});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "installer in disk1 with README.TXT SETUP.SH \n");
  EXPECT_NE(result.err.find("Setup: There may by very long delay with setup starting on the some "
                            "platforms. It may take several minutes. Please close all other "
                            "tasks and wait.\n"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("the installer has started; the notice is closed"), std::string::npos)
      << result.err;
  ExpectTempClean();
}

// Only the set's own installer is started, and only through the user's runner: no program of
// the host, nor a file of the set named like the runner.
TEST_F(FloppysetCli, AutostartStartsOnlyTheSetsOwnInstaller) {
  const std::string path = std::string(".:") + std::getenv("PATH");
  const std::pair<std::string, std::string> sh{"FLOPPYSET_RUNNER", "sh"};
  struct Case {
    std::string installer;
    std::vector<std::pair<std::string, std::string>> env;
    int status;
    std::string out, err;
  };
  const std::vector<Case> cases{
      {"SETUP.SH", {}, 1, "", "Set FLOPPYSET_RUNNER to a program that can"},
      {"id", {sh}, 1, "", "The installer \"id\" is not in the set"},
      {"sh SETUP.SH", {sh}, 1, "", "is not in the set"},
      {"sh -c id", {sh}, 1, "", "is not in the set"},
      {"SETUP.SH", {{"FLOPPYSET_RUNNER", "no-such-runner"}}, 1, "", "could not be started"},
      {"setup.sh",
       {sh, {"PATH", path}},
       0,
       "installer in disk1 with README.TXT SETUP.SH SH \n",
       ""},
  };
  for (const Case& test : cases) {
    // The last case has a file of the set named like the runner.
    if (&test == &cases.back()) WriteFixedFile(dir_ / "source" / "disk1" / "SH", "echo hijacked\n");
    MakeSet({"--installer=" + test.installer});
    const Result result = Floppyset({program(), "/E"}, test.env);
    EXPECT_EQ(result.status, test.status) << test.installer << "\n" << result.err;
    EXPECT_EQ(result.out, test.out) << test.installer;
    EXPECT_NE(result.err.find(test.err), std::string::npos) << test.installer << "\n" << result.err;
    ExpectTempClean();
  }
}

// Links planted in the places the tool writes to are never followed, and a destination in
// the temporary directory named like a workspace is the user's and stays.
TEST_F(FloppysetCli, WritesNeverFollowLinksOutOfTheirPlace) {
  MakeSet();
  const fs::path outside = dir_ / "outside", victim = outside / "victim.txt";
  const fs::path dest = dir_ / "dest", images = dir_ / "images-out", drive = dir_ / "floppies";
  struct Case {
    std::string name;
    fs::path link;  // made to point at `victim`, or at `outside` when it ends in a directory
    bool to_directory;
    std::vector<std::string> args;
  };
  const std::vector<Case> cases{
      {"disk1 -> outside", dest / "disk1", true, {"/D", "--dest=" + dest.string()}},
      {"EXTRAS -> outside", dest / "disk2" / "EXTRAS", true, {"/D", "--dest=" + dest.string()}},
      {"DATA.TXT -> victim", dest / "disk2" / "DATA.TXT", false, {"/D", "--dest=" + dest.string()}},
      {"disk1.img -> victim", images / "disk1.img", false, {"--images=" + images.string()}},
      {"drive disk1.img -> victim",
       drive / "disk1.img",
       false,
       {"/F", "--drive=" + drive.string()}},
  };
  for (const Case& test : cases) {
    for (const fs::path& d : {outside, dest, images, drive}) fs::remove_all(d);
    fs::create_directories(outside);
    WriteFileText(victim.string(), "precious");
    fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directories(test.link.parent_path());
    fs::create_symlink(test.to_directory ? outside : victim, test.link);
    std::vector<std::string> args{program(), "--yes"};
    args.insert(args.end(), test.args.begin(), test.args.end());
    const Result result = Floppyset(args);
    EXPECT_EQ(ReadText(victim), "precious") << test.name;
    EXPECT_EQ(fs::status(victim).permissions(), fs::perms::owner_read | fs::perms::owner_write)
        << test.name;
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1)
        << test.name;
    EXPECT_TRUE(fs::is_symlink(test.link)) << test.name;
    ExpectTempClean();
  }

  const fs::path in_temp = temp_ / "TII777";
  const Result result = Floppyset({program(), "/D", "--dest=" + in_temp.string(), "--yes"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadText(in_temp / "disk1" / "README.TXT"), "Read me first\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(temp_), fs::directory_iterator()), 1);
}

// A signal at any moment of a run ends it with the signal's status (unless the run was over
// first) and leaves nothing in the temporary directory.
TEST_F(FloppysetCli, ASignalAtAnyMomentEndsWithItsStatusAndLeavesNothing) {
  MakeSet();
  int signalled = 0;
  for (int delay = 0; delay < 20; ++delay) {
    const std::string mode =
        delay % 2 ? "--dest=" + (dir_ / "d").string() : "--drive=" + (dir_ / "f").string();
    const pid_t pid = Start("floppyset", {program(), delay % 2 ? "/D" : "/F", mode, "--yes"});
    std::this_thread::sleep_for(std::chrono::microseconds(delay * 800));
    kill(pid, SIGTERM);
    const Result result = Wait(pid);
    if (result.status == 143 || result.status == -SIGTERM) {
      ++signalled;
    } else {
      EXPECT_EQ(result.status, 0) << delay << "\n" << result.err;
    }
    ExpectTempClean();
  }
  EXPECT_GT(signalled, 0);
}

TEST_F(FloppysetCli, TerminationDuringARunRemovesTheWorkspace) {
  MakeSet();
  const fs::path pid_file = dir_ / "installer.pid";
  const pid_t pid = Start("floppyset", {program(), "/E"},
                          {{"FLOPPYSET_RUNNER", "sh"}, {"PID_FILE", pid_file.string()}});
  for (int i = 0; i < 1000 && !fs::exists(pid_file); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(fs::exists(pid_file)) << "the installer did not start";
  EXPECT_FALSE(fs::is_empty(temp_));  // the workspace and the unpacked set

  // A second start of the same program file is refused and leaves the first one's files.
  const fs::path first_errors = dir_ / "first.stderr";
  fs::rename(dir_ / "stderr", first_errors);
  const Result second = Floppyset({program(), "/P"});
  EXPECT_EQ(second.status, 3);
  EXPECT_EQ(second.err, "Error: Another instance of the program is already running\n");
  EXPECT_FALSE(fs::is_empty(temp_));
  // The lock belongs to the file, not to its name: another name of it is refused, another
  // file of the same name is not.
  fs::create_hard_link(program_, dir_ / "other-name.exe");
  EXPECT_EQ(Floppyset({(dir_ / "other-name.exe").string(), "/P"}).status, 3);
  fs::create_directory(dir_ / "elsewhere");
  fs::copy_file(program_, dir_ / "elsewhere" / program_.filename());
  EXPECT_EQ(Floppyset({(dir_ / "elsewhere" / program_.filename()).string(), "/P"}).status, 0);

  kill(pid, SIGTERM);
  const Result result = Wait(pid);
  kill(std::stoi(ReadText(pid_file)), SIGKILL);
  EXPECT_EQ(result.status, 143);
  EXPECT_NE(ReadText(first_errors).find("interrupted, temporary files removed"), std::string::npos);
  ExpectTempClean();
}

}  // namespace
}  // namespace floppyset
