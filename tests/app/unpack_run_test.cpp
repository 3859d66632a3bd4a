#include "unpack/unpack_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app_fixture.h"
#include "workspace/workspace.h"
#include "ui/messages.h"

namespace floppyset::testing {
namespace {

class UnpackRunTest : public AppTest {
 protected:
  bool Accept(const std::string& typed) { return AcceptDestination(state, host, ui, typed); }

  // Puts FAT12 images of `disks` into a workspace, as start-up leaves them.
  void PrepareWorkspace(const std::vector<DiskFiles>& disks) {
    state.WorkspaceDir = root / "work/";
    std::filesystem::create_directories(state.WorkspaceDir);
    for (uint32_t i = 0; i < disks.size(); ++i) {
      WriteFileBytes(DiskImagePath(state, i), BuildImage(root / "scratch", disks[i], false));
    }
    state.Header.DiskCount = static_cast<uint16_t>(disks.size());
    state.ProductName = "Demo Product";
  }
};

TEST_F(UnpackRunTest, ExistingDirectoryIsTakenWithOneTrailingSeparator) {
  EXPECT_TRUE(Accept(root.path()));
  EXPECT_EQ(state.DestinationDir, root.path() + "/");
  EXPECT_TRUE(Accept(root.path() + "/"));
  EXPECT_EQ(state.DestinationDir, root.path() + "/");
  EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(UnpackRunTest, MissingPathIsCreatedWithItsParentsAfterYes) {
  const std::string typed = root / "A/B";
  ui.Expect(kMsgCreateDirectory, Answer::kYes);
  EXPECT_TRUE(Accept(typed)) << ui.Transcript();
  EXPECT_TRUE(IsDirectory(typed));
  EXPECT_EQ(state.DestinationDir, typed + "/");
  const MessageRequest m = ui.LastMessage();
  EXPECT_EQ(m.text, "The directory:\n'" + typed +
                        "'\ndoes not exist. Do you want the directory to be created?");
  EXPECT_EQ(m.caption, "SETUP");
  EXPECT_EQ(m.buttons, Buttons::kYesNo);
  EXPECT_EQ(m.icon, Icon::kQuestion);
  EXPECT_EQ(m.owner, Owner::kDialog);

  // Typed with its separator, it is made and taken at the first OK as well.
  ui.Expect(kMsgCreateDirectory, Answer::kYes);
  EXPECT_TRUE(Accept(root / "C/D/"));
  EXPECT_EQ(state.DestinationDir, root / "C/D/");
}

TEST_F(UnpackRunTest, NoKeepsTheDialogOpenAndCreatesNothing) {
  ui.Expect(kMsgCreateDirectory, Answer::kNo);
  EXPECT_FALSE(Accept(root / "never"));
  EXPECT_FALSE(IsDirectory(root / "never"));
  EXPECT_TRUE(state.DestinationDir.empty());
}

TEST_F(UnpackRunTest, UncreatablePathsShow542AfterYes) {
  WriteFileText(root / "plain-file", "x");
  host.FailCreateUnder(root / "locked");
  const std::string cases[] = {"", "bare-name", root / "plain-file", root / "locked/sub"};
  for (const std::string& typed : cases) {
    SCOPED_TRACE(typed);
    ui = ScriptedUi();
    ui.Expect(kMsgCreateDirectory, Answer::kYes);
    EXPECT_FALSE(Accept(typed));
    ASSERT_EQ(ui.MessageIds(), (std::vector<int>{kMsgCreateDirectory, kMsgCannotCreateDirectory}));
    EXPECT_EQ(ui.Messages()[0].text.substr(0, 17 + typed.size()),
              "The directory:\n'" + typed + "'");
    const MessageRequest m = ui.LastMessage();
    EXPECT_EQ(m.text,
              "Can't create specified directory.\nIt is invalid, incomplete or write "
              "protected.\nPlease type full path with drive letter;\nFor example "
              "'C:\\VORIXSETUP'.");
    EXPECT_EQ(m.icon, Icon::kExclamation);
    EXPECT_EQ(m.owner, Owner::kDialog);
  }
  EXPECT_FALSE(IsDirectory(root / "locked"));
}

TEST_F(UnpackRunTest, PathWithoutRoomForItsSeparatorIsRefused) {
  // 259 characters fill DestinationDir; the separator would not fit.
  std::string typed = root.path() + "/";
  typed += std::string(259 - typed.size(), 'd');
  ASSERT_EQ(typed.size(), 259u);
  EXPECT_FALSE(Accept(typed));
  EXPECT_EQ(ui.MessageIds(), std::vector<int>{kMsgCannotCreateDirectory});
  EXPECT_FALSE(std::filesystem::exists(typed));

  typed.pop_back();  // 258 + separator fits
  ui.Expect(kMsgCreateDirectory, Answer::kYes);
  EXPECT_TRUE(Accept(typed));
  EXPECT_EQ(state.DestinationDir.size(), 259u);
}

TEST_F(UnpackRunTest, SpaceShortageShows544WithRootAndSizes) {
  state.DestinationDir = root.path() + "/";
  host.SetVolumeRoot("/data");
  host.SetFreeBytes("/data", 1536);
  EXPECT_FALSE(CheckDestinationSpace(state, host, ui, 7213936));
  EXPECT_EQ(state.UnpackFailed, 1);
  const MessageRequest m = ui.LastMessage();
  EXPECT_EQ(m.text,
            "Setup requires at least 6.88 MB of free disk space on on drive /data to unpack "
            "files. You have only 1.50 KB on this drive. Please free more disk space and run "
            "the installation again");
  EXPECT_EQ(m.icon, Icon::kStop);
  EXPECT_EQ(m.owner, Owner::kMainWindow);

  // A volume that cannot be asked passes, and so does one with just enough room.
  RunState fresh;
  host.FailFreeSpaceQueries();
  EXPECT_TRUE(CheckDestinationSpace(fresh, host, ui, 7213936));
  host.FailFreeSpaceQueries(false);
  EXPECT_TRUE(CheckDestinationSpace(fresh, host, ui, 1536));
  EXPECT_EQ(fresh.UnpackFailed, 0);
}

TEST_F(UnpackRunTest, RunRelabelsUnpacksEveryDiskAndLeaves509) {
  PrepareWorkspace({{{"A.TXT", "a"}}, {{"B.TXT", "b"}}, {{"C.TXT", "c"}}});
  const std::string destination = root / "dest";
  std::filesystem::create_directories(destination + "/disk2");  // reused without complaint
  ui.TypeDestinations({destination});
  UnpackRun(state, host, ui);

  EXPECT_EQ(ui.ControlTexts(kControlBannerTitle), std::vector<std::string>{"Images processing..."});
  EXPECT_EQ(ui.ControlTexts(kControlPlainTitle), std::vector<std::string>{"Images processing..."});
  EXPECT_EQ(ui.ControlTexts(kControlBannerText),
            std::vector<std::string>{
                "Please wait while setup copies installation files. This may take a few minutes."});
  EXPECT_EQ(ui.ControlTexts(kControlDiskText), std::vector<std::string>{"Images"});
  EXPECT_TRUE(ui.WasHidden(kControlTrackText));
  EXPECT_TRUE(ui.WasHidden(kControlTrackBar));
  EXPECT_EQ(ui.ProgressRange(kControlDiskBar), std::make_pair(0, 3));
  EXPECT_EQ(ui.ProgressPositions(kControlDiskBar), (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(IsFile(destination + "/disk1/A.TXT"));
  EXPECT_TRUE(IsFile(destination + "/disk2/B.TXT"));
  EXPECT_TRUE(IsFile(destination + "/disk3/C.TXT"));
  EXPECT_EQ(state.CompletionMessage,
            "Congratulations! All disks are successfully unpacked in " + destination +
                "/. For install \"Demo Product\" please run SETUP.EXE from " + destination +
                "/disk1\\.");
  EXPECT_FALSE(state.RunFailed);
}

TEST_F(UnpackRunTest, CancelledDialogEndsTheRunWithoutText) {
  PrepareWorkspace({{{"A.TXT", "a"}}});
  ui.Expect(kMsgCreateDirectory, Answer::kNo);
  ui.TypeDestinations({root / "nope"});
  UnpackRun(state, host, ui);
  EXPECT_EQ(ui.DestinationDialogsShown(), 1);
  EXPECT_TRUE(state.RunCancelled);
  EXPECT_TRUE(state.CompletionMessage.empty());
  EXPECT_FALSE(ui.ProgressRange(kControlDiskBar));
}

// Whatever was not unpacked as the image says is counted and named in place of 509; an
// unpack into the same destination again replaces what is there.
TEST_F(UnpackRunTest, WhatWasNotUnpackedIsNamedInPlaceOf509) {
  PrepareWorkspace(
      {{{"A.TXT", std::string(5000, 'a')}, {"SUB/INNER.TXT", "inner"}}, {{"B.TXT", "b"}}});
  struct Case {
    const char* name;
    std::function<void(FaultHost&, const std::string& dest)> arrange;
    std::vector<std::string> said;  // empty: success
  };
  const std::vector<Case> cases = {
      {"again into the same destination",
       [&](FaultHost& fault, const std::string& dest) {
         RunState first = state;
         ScriptedUi quiet;
         quiet.TypeDestinations({dest});
         UnpackRun(first, fault, quiet);
         WriteFileText(dest + "/disk1/SUB/INNER.TXT", "stale");
       },
       {}},
      {"an image missing",
       [&](FaultHost& fault, const std::string&) { fault.FailOpen(DiskImagePath(state, 1)); },
       {"Disk image 2 (image01.tii) could not be read."}},
      {"a full disk",
       [](FaultHost& fault, const std::string&) { fault.SetDiskRoom(1000); },
       {"3 file(s) written short", "/disk1/A.TXT"}},
      {"disk1 is a file",
       [](FaultHost&, const std::string& dest) { WriteFileText(dest + "/disk1", "x"); },
       {"1 file(s) or directories not written", "a file/disk1"}},
      {"a directory that cannot be made",
       [](FaultHost& fault, const std::string& dest) {
         fault.FailCreateUnder(dest + "/disk1/SUB");
       },
       {"1 file(s) or directories not written", "/disk1/SUB"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dest = root / c.name;
    std::filesystem::create_directories(dest);
    FaultHost fault;
    c.arrange(fault, dest);
    RunState run = state;
    ui = ScriptedUi();
    ui.TypeDestinations({dest});
    UnpackRun(run, fault, ui);
    EXPECT_EQ(run.RunFailed, !c.said.empty());
    EXPECT_EQ(run.CompletionMessage.empty(), !c.said.empty());
    for (const std::string& text : c.said) {
      EXPECT_NE(run.FailureMessage.find(text), std::string::npos) << run.FailureMessage;
    }
    if (c.said.empty()) {
      EXPECT_EQ(ReadFileBytes(dest + "/disk1/SUB/INNER.TXT").size(), 5u);
    }
  }
}

}  // namespace
}  // namespace floppyset::testing
