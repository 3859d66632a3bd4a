// The app behaviour tests' world: a temp tree with its own temporary directory, the fault host,
// the scripted Ui, image-file floppy drives, and setup programs built with mkfloppyset's pieces.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
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

namespace fs = std::filesystem;

// One disk's files: path -> content; a path ending in '/' is an empty directory.
using DiskFiles = std::map<std::string, std::string>;

// Writes the files below `dir`, all last written 2001-02-03 04:05:06 UTC.
void WriteTree(const std::string& dir, const DiskFiles& files);
// A FAT12 (or flat) image of the files, their times taken as UTC.
std::vector<uint8_t> BuildImage(const std::string& scratch, const DiskFiles& files, bool flat);
std::vector<std::string> Entries(const std::string& dir);  // sorted; none when missing
inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}
// Sets TZ for the rest of the test (each test runs in a process of its own).
void SetTimeZone(const char* tz);

struct App {
  App();
  // Floppy set of `product`, LHA archive, installer SETUP.EXE, no autostart.
  static PackageRecipe Recipe();
  // root/setup.exe with one image per disk, flat when the recipe unpacks.
  void MakeProgram(const PackageRecipe& recipe, const std::vector<DiskFiles>& disks);
  ProgramOutcome Run(const std::string& switches = "") {
    return RunProgram(state, host, ui, drives, program_path + " " + switches);
  }
  std::vector<std::string> TempLeftovers() const { return Entries(temp_dir); }

  TempDir root;
  std::string temp_dir = root / "tmp", program_path = root / "setup.exe",
              floppy_dir = root / "floppies";
  FaultHost host;
  ScriptedUi ui;
  ImageFileDrives drives{host, floppy_dir};
  RunState state;
};

}  // namespace floppyset::testing
