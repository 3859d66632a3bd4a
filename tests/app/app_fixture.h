// The app behaviour tests' world: a temp tree with its own temporary directory, the fault host,
// the scripted Ui, image-file floppy drives, and setup sets from the shared builder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/program.h"
#include "app/run_state.h"
#include "floppy/image_file_drive.h"
#include "support/fault_host.h"
#include "support/scripted_ui.h"
#include "support/set_builder.h"
#include "support/temp_dir.h"
#include "workspace/workspace.h"

namespace floppyset::testing {

namespace fs = std::filesystem;

struct App {
  App() {
    fs::create_directories(temp_dir);
    fs::create_directories(floppy_dir);
    host.SetTempDirectory(temp_dir);
    host.SetFreeBytes(uint64_t{1} << 40);
    state.ProgramPath = program_path;
  }
  void MakeProgram(const PackageRecipe& recipe, const std::vector<DiskFiles>& disks) {
    WriteProgram(program_path, recipe, disks, root / "scratch");
  }
  // Start-up's leavings: the disk images in a workspace (FAT12 unless flat).
  void PrepareImages(const std::vector<DiskFiles>& disks, bool flat = false) {
    state.WorkspaceDir = root / "work/";
    fs::create_directories(state.WorkspaceDir);
    for (uint32_t i = 0; i < disks.size(); ++i) {
      WriteFileBytes(DiskImagePath(state.WorkspaceDir, i),
                     BuildImage(root / "scratch", disks[i], flat));
    }
    state.Header.DiskCount = static_cast<uint16_t>(disks.size());
    state.PackageUnpackMode = flat ? 1 : 0;
    state.ProductName = "Demo Product";
  }
  RunEnding Run(const std::string& switches = "") {
    return RunProgram(state, host, ui, drives, program_path + " " + switches).ending;
  }

  TempDir root;
  std::string temp_dir = root / "tmp", program_path = root / "setup.exe",
              floppy_dir = root / "floppies";
  FaultHost host;
  ScriptedUi ui;
  ImageFileDrives drives{host, floppy_dir};
  RunState state;
};

}  // namespace floppyset::testing
