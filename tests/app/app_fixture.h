// Shared set-up of the app behaviour tests: a temp tree with its own temporary directory,
// the fault-injecting host, the scripted Ui, image-file floppy drives, and setup program
// files built with mkfloppyset's pieces from small file trees.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/run_state.h"
#include "floppy/image_file_drive.h"
#include "mkfloppyset/package_writer.h"
#include "support/fault_host.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

namespace floppyset::testing {

// One disk's files: path ('/' between components) -> content. A path ending in '/' is an
// empty directory.
using DiskFiles = std::map<std::string, std::string>;

// 2001-02-03 04:05:06 UTC: the last-write time every fixture file gets.
inline constexpr int64_t kFixtureFileTime = 981173106;

// Writes the files below `dir`, each with kFixtureFileTime as its last-write time.
void WriteTree(const std::string& dir, const DiskFiles& files);
// A FAT12 (or flat) image of the files; fails the test when it cannot be built.
std::vector<uint8_t> BuildImage(const std::string& scratch, const DiskFiles& files, bool flat);
// Sorted entry names of a directory ("" when it is missing).
std::vector<std::string> Entries(const std::string& dir);
bool IsDirectory(const std::string& path);
bool IsFile(const std::string& path);
// Sets TZ and re-reads it; restores the old value when destroyed.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz);
  ~ScopedTimeZone();

 private:
  std::string old_;
  bool had_old_ = false;
};

class AppTest : public ::testing::Test {
 protected:
  AppTest();

  // A package recipe for `product` with the defaults: floppy set, no final message,
  // installer "SETUP.EXE", LHA archive (stored members).
  static PackageRecipe Recipe(const std::string& product = "Demo Product");
  // Builds root/setup.exe: one image per disk, flat when the recipe's UnpackMode is set.
  void MakeProgram(const PackageRecipe& recipe, const std::vector<DiskFiles>& disks);
  // Runs the whole program with `switches` after the program path.
  ProgramOutcome Run(const std::string& switches = "");
  // Names left in the host's temporary directory.
  std::vector<std::string> TempLeftovers() const { return Entries(temp_dir); }

  TempDir root;
  std::string temp_dir;      // the host's temporary directory
  std::string program_path;  // root/setup.exe
  std::string floppy_dir;    // where the image-file drive writes disk<n>.img
  FaultHost host;
  ScriptedUi ui;
  ImageFileDrives drives;
  RunState state;
};

}  // namespace floppyset::testing
