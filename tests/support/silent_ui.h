// A Ui nobody watches, for fuzzers and benchmarks: OK to every question, drive A: when asked,
// no destination, nothing shown.
#pragma once

#include "ui/ui.h"

namespace floppyset::testing {

class SilentUi : public Ui {
 public:
  Answer ShowMessage(const MessageRequest&) override { return Answer::kOk; }
  void SetControlText(int, const std::string&) override {}
  void HideControl(int) override {}
  void SetProgressRange(int, int, int) override {}
  void SetProgressPosition(int, int) override {}
  void PumpOneMessage() override {}
  int RunWorkDialog(int, const std::function<int()>& work) override { return work(); }
  bool RunMainWindow(int, const std::function<void()>& worker) override { return worker(), true; }
  void AppendReportText(const std::string&) override {}
  void ShowHelp() override {}
  std::optional<uint8_t> ChooseFloppyDrive(const std::vector<FloppyDriveChoice>&) override {
    return 0;
  }
  bool RunDestinationDialog(const std::function<bool(const std::string&)>&) override {
    return false;
  }
  void ShowStartDelayNotice() override {}
};

}  // namespace floppyset::testing
