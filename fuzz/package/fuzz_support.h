// What both package fuzzers share: a Ui that shows nothing, a private temporary tree, and a
// check that nothing was written outside the workspace.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ui/ui.h"

namespace floppyset::fuzzing {

class SilentUi : public Ui {
 public:
  Answer ShowMessage(const MessageRequest&) override { return Answer::kOk; }
  void SetControlText(int, const std::string&) override {}
  void HideControl(int) override {}
  void SetProgressRange(int, int, int) override {}
  void SetProgressPosition(int, int) override {}
  void PumpOneMessage() override {}
  int RunWorkDialog(int, const std::function<int()>& work) override { return work(); }
  bool RunMainWindow(int, const std::function<void()>& worker) override {
    worker();
    return true;
  }
  void AppendReportText(const std::string&) override {}
  void ShowHelp() override {}
  std::optional<uint8_t> ChooseFloppyDrive(const std::vector<FloppyDriveChoice>&) override {
    return std::nullopt;
  }
  bool RunDestinationDialog(const std::function<bool(const std::string&)>&) override {
    return false;
  }
  void ShowStartDelayNotice() override {}
};

// A directory of this process holding "ws/" (the workspace) and nothing else; removed at
// exit (the path is never destroyed, so the exit handler can still use it).
inline const std::string& FuzzRoot() {
  static const std::string* const root = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "fuzz-package-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    std::filesystem::create_directory(pattern + "/ws");
    return new std::string(pattern);
  }();
  static const bool cleanup_registered = [] {
    return std::atexit([] {
             std::error_code error;
             std::filesystem::remove_all(*root, error);
           }) == 0;
  }();
  (void)cleanup_registered;
  return *root;
}

// Aborts when anything but "ws" and `allowed` is beside the workspace, or the workspace
// holds a directory; then empties the workspace.
inline void CheckAndClean(const std::string& allowed = "") {
  namespace fs = std::filesystem;
  for (const auto& entry : fs::directory_iterator(FuzzRoot())) {
    const std::string name = entry.path().filename().string();
    if (name != "ws" && name != allowed) {
      std::fprintf(stderr, "written outside the workspace: %s\n", name.c_str());
      std::abort();
    }
  }
  for (const auto& entry : fs::directory_iterator(FuzzRoot() + "/ws")) {
    if (entry.is_directory()) {
      std::fprintf(stderr, "directory made in the workspace\n");
      std::abort();
    }
    fs::remove(entry.path());
  }
}

}  // namespace floppyset::fuzzing
