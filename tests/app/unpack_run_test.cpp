#include "unpack/unpack_run.h"

#include "app_fixture.h"
#include "ui/messages.h"

namespace floppyset::testing {
namespace {

// What the destination dialog's OK takes: existing directories with one separator, missing
// ones created with their parents after Yes, and nothing it cannot create or hold.
TEST(UnpackRun, DestinationDialogTakesOnlyWhatItCanCreate) {
  App app;
  const std::string root = app.root.path();
  WriteFileText(root + "/plain-file", "x");
  app.host.FailCreateUnder(root + "/locked");
  const std::string long_path = root + "/" + std::string(258 - root.size() - 1, 'd');
  const struct {
    std::string typed;
    std::optional<Answer> create;  // the answer to 540, if it is asked
    std::string taken;             // DestinationDir after OK, "" when refused
  } cases[] = {
      {root, std::nullopt, root + "/"},
      {root + "/", std::nullopt, root + "/"},
      {root + "/A/B", Answer::kYes, root + "/A/B/"},
      {root + "/never", Answer::kNo, ""},
      {"", Answer::kYes, ""},
      {"bare-name", Answer::kYes, ""},
      {root + "/plain-file", Answer::kYes, ""},
      {root + "/locked/sub", Answer::kYes, ""},
      {long_path + "d", std::nullopt, ""},  // 259 characters leave no room for the separator
      {long_path, Answer::kYes, long_path + "/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    app.ui = ScriptedUi();
    app.state.DestinationDir.clear();
    if (c.create) app.ui.Expect(kMsgCreateDirectory, *c.create);
    EXPECT_EQ(AcceptDestination(app.state, app.host, app.ui, c.typed), !c.taken.empty());
    EXPECT_EQ(app.state.DestinationDir, c.taken);
    EXPECT_EQ(fs::is_directory(c.typed), !c.taken.empty());
    std::vector<int> ids;
    if (c.create) ids.push_back(kMsgCreateDirectory);
    if (c.taken.empty() && c.create != Answer::kNo) ids.push_back(kMsgCannotCreateDirectory);
    EXPECT_EQ(app.ui.MessageIds(), ids);
    EXPECT_TRUE(!c.create || Has(app.ui.Messages()[0].text, "'" + c.typed + "'\n"));
  }
  EXPECT_FALSE(fs::is_directory(root + "/locked"));
}

TEST(UnpackRun, SpaceShortageSaysTheRootAndBothSizes) {
  App app;
  app.state.DestinationDir = app.root.path() + "/";
  app.host.SetVolumeRootFor("", "/data");
  app.host.SetFreeBytes("/data", 1536);
  EXPECT_FALSE(CheckDestinationSpace(app.state, app.host, app.ui, 7213936));
  EXPECT_EQ(app.state.UnpackFailed, 1);
  EXPECT_TRUE(Has(app.ui.LastMessage().text,
                  "at least 6.88 MB of free disk space on on drive "
                  "/data to unpack files. You have only 1.50 KB"));
  // A volume that cannot be asked passes, and so does one with just enough room.
  RunState fresh;
  app.host.FailFreeSpaceQueries();
  EXPECT_TRUE(CheckDestinationSpace(fresh, app.host, app.ui, 7213936));
  app.host.FailFreeSpaceQueries(false);
  EXPECT_TRUE(CheckDestinationSpace(fresh, app.host, app.ui, 1536));
  EXPECT_EQ(fresh.UnpackFailed, 0);
}

// Every disk unpacked into disk<n> with the progress per disk and 509 kept for the end;
// whatever was not unpacked as the image says is counted and named in its place; an unpack
// into the same destination again replaces what is there; a cancelled dialog says nothing.
TEST(UnpackRun, WhatWasNotUnpackedIsNamedInPlaceOf509) {
  App app;
  RunState& state = app.state;
  app.PrepareImages(
      {{{"A.TXT", std::string(5000, 'a')}, {"SUB/INNER.TXT", "inner"}}, {{"B.TXT", "b"}}});
  using Arrange = std::function<void(FaultHost&, ScriptedUi&, const std::string& dest)>;
  using S = const std::string;
  const struct {
    const char* name;
    Arrange arrange;
    std::vector<std::string> said;  // empty: success
  } cases[] = {
      // clang-format off
      {"fresh", [](FaultHost&, ScriptedUi&, const std::string&) {}, {}},
      {"again into the same destination", [&](FaultHost& host, ScriptedUi&, S& dest) {
         RunState first = state;
         ScriptedUi quiet;
         quiet.TypeDestinations({dest});
         UnpackRun(first, host, quiet);
         WriteFileText(dest + "/disk1/SUB/INNER.TXT", "stale"); }, {}},
      {"an image missing", [&](FaultHost& host, ScriptedUi&, const std::string&) {
         host.FailOpen(DiskImagePath(state.WorkspaceDir, 1)); },
       {"Disk image 2 (image01.tii) is damaged: it cannot be read."}},
      {"a full disk", [](FaultHost& host, ScriptedUi&, const std::string&) {
         host.SetDiskRoom(1000); }, {"3 file(s) written short", "/disk1/A.TXT"}},
      {"disk1 is a file", [](FaultHost&, ScriptedUi&, const std::string& dest) {
         WriteFileText(dest + "/disk1", "x"); },
       {"1 file(s) or directories not written", "a file/disk1"}},
      {"a directory that cannot be made", [](FaultHost& host, ScriptedUi&, S& dest) {
         host.FailCreateUnder(dest + "/disk1/SUB"); },
       {"1 file(s) or directories not written", "/disk1/SUB"}},
      {"cancelled", [](FaultHost&, ScriptedUi& ui, const std::string&) {
         ui.TypeDestinations({}); }, {}},
      // Last: it damages the second image for good.
      {"an image without a layout", [&](FaultHost&, ScriptedUi&, const std::string&) {
         std::vector<uint8_t> bytes = ReadFileBytes(DiskImagePath(state.WorkspaceDir, 1));
         std::fill_n(bytes.begin(), 512, 0);
         WriteFileBytes(DiskImagePath(state.WorkspaceDir, 1), bytes); },
       {"Disk image 2 (image01.tii) is damaged: no FAT12 layout in its boot sector",
        "; nothing of it was unpacked."}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dest = app.root / c.name;
    fs::create_directories(dest + "/disk2");  // reused without complaint
    FaultHost host;
    ScriptedUi ui;
    ui.TypeDestinations({dest});
    c.arrange(host, ui, dest);
    RunState run = state;
    const RunOutcome outcome = UnpackRun(run, host, ui);
    const bool cancelled = c.name == std::string("cancelled");
    EXPECT_EQ(outcome.ending == RunEnding::kCancelled, cancelled);
    EXPECT_EQ(outcome.ending == RunEnding::kFailed, !c.said.empty());
    EXPECT_EQ(Has(outcome.reason, "it cannot be read"), c.name == std::string("an image missing"));
    for (const std::string& text : c.said) {
      EXPECT_TRUE(Has(outcome.reason, text)) << outcome.reason;
    }
    if (!c.said.empty() || cancelled) {
      EXPECT_TRUE(run.CompletionMessage.empty());
      continue;
    }
    EXPECT_EQ(run.CompletionMessage,
              "Congratulations! All disks are successfully unpacked in " + dest +
                  "/. For install \"Demo Product\" please run SETUP.EXE from " + dest +
                  "/disk1\\.");
    EXPECT_EQ(ui.Of(UiEventKind::kProgressRange, kControlDiskBar).back().high, 2);
    EXPECT_EQ(ui.ProgressPositions(kControlDiskBar), (std::vector<int>{1, 2}));
    EXPECT_EQ(ReadFileBytes(dest + "/disk1/SUB/INNER.TXT").size(), 5u);
    EXPECT_TRUE(fs::is_regular_file(dest + "/disk2/B.TXT"));
  }
}

}  // namespace
}  // namespace floppyset::testing
