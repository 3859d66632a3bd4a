#include "report/reports.h"

#include <algorithm>

#include "app_fixture.h"
#include "base/bytes.h"

namespace floppyset::testing {
namespace {

constexpr char kSeparator[] = "=========================================================\r\n";

// The 16-bit field at `offset` of the directory slot named `name11` (8.3, blank-padded) in
// image 1; `value` replaces it when given.
uint16_t Slot(App& app, const char* name11, size_t offset, std::optional<uint16_t> value = {}) {
  std::vector<uint8_t> image = ReadFileBytes(DiskImagePath(app.state.WorkspaceDir, 0));
  const auto at = std::search(image.begin(), image.end(), name11, name11 + 11);
  EXPECT_NE(at, image.end()) << name11;
  if (at == image.end()) return 0;
  if (value) StoreLe16(&*at + offset, *value);
  WriteFileBytes(DiskImagePath(app.state.WorkspaceDir, 0), image);
  return LoadLe16(&*at + offset);
}

TEST(Reports, AllThreeReportsInFixedOrderByteForByte) {
  App app;
  app.PrepareImages({{{"SETUP.EXE", "installer"},
                      {"README", "r"},
                      {"EMPTY.TXT", ""},
                      {"A/ONE.TXT", "one"},
                      {"A/B/TWO.DAT", "two.."},
                      {"A/C.D/", ""},
                      {"BIG.BIN", std::string(3000, 'x')}}});
  app.state.Header.CreationTime = CalendarTime{2001, 2, 6, 3, 4, 5, 6, 0};
  app.state.ReportFlags = kFlagList | kFlagProduct | kFlagAuth;
  app.state.Header.ExpectedExeChecksum = app.state.PeCheckSum = 0x1234;
  app.state.Header.ExpectedPackageChecksum = 7;
  app.state.PackageChecksum = 8;
  SetTimeZone("UTC0");
  ReportThread(app.state, app.host, app.ui);
  const std::string t = "03/02/2001 04:05               ";
  EXPECT_EQ(app.ui.ReportText(),
            std::string("Package processing:\r\n") + kSeparator +
                "Executable file authenticity  : OK\r\nEmbedded package authenticity : Failed\r\n" +
                kSeparator + "Product name                  : Demo Product\r\n" +
                "Number of disks               : 1\r\n" +
                "Data of creation of the setup : 03/02/2001 04:05\r\n" + kSeparator +
                "Image 1:\r\n03/02/2001 04:05            3000 BIG.BIN\r\n" + t + "0 EMPTY.TXT\r\n" +
                t + "1 README.\r\n" + t + "9 SETUP.EXE\r\n A\\\r\n" + t +
                "3 ONE.TXT\r\n A\\B\\\r\n" + t + "5 TWO.DAT\r\n A\\C.D\\\r\n" + kSeparator);
  // One append per message or line: the window gets whole lines.
  for (const std::string& append : app.ui.Field(&UiEvent::text, UiEventKind::kReportText)) {
    EXPECT_EQ(append.substr(append.size() - 2), "\r\n");
  }
}

TEST(Reports, CreationTimeIsShownInLocalTimeElseAsStored) {
  App app;
  app.state.Header.CreationTime = CalendarTime{2026, 12, 4, 31, 23, 30, 0, 0};
  SetTimeZone("CET-1");
  PackageInfoReport(app.state, app.host, app.ui);
  EXPECT_TRUE(Has(app.ui.ReportText(), "Data of creation of the setup : 01/01/2027 00:30\r\n"));
  app.ui = ScriptedUi();
  app.host.FailUtcToLocal();
  PackageInfoReport(app.state, app.host, app.ui);
  EXPECT_TRUE(Has(app.ui.ReportText(), ": 31/12/2026 23:30\r\n"));
}

// Listings of images that are not as mkfloppyset makes them.
TEST(Reports, OddImagesAreListedSafely) {
  const std::string line = "03/02/2001 04:05               ";
  const struct {
    const char* name;
    std::vector<DiskFiles> disks;
    bool flat;
    std::function<void(App&)> damage;
    std::string listing;
  } cases[] = {
      {"an invalid date is zeros",
       {{{"README", "r"}}},
       false,
       [](App& a) { Slot(a, "README     ", 22, 0), Slot(a, "README     ", 24, 0); },
       "Image 1:\r\n00/00/0000 00:00               1 README.\r\n"},
      {"a subdirectory back to its parent is not listed again",
       {{{"A/ONE.TXT", "one"}, {"A/B/TWO.DAT", "two"}}},
       false,
       [](App& a) { Slot(a, "B          ", 26, Slot(a, "A          ", 26)); },
       "Image 1:\r\n A\\\r\n" + line + "3 ONE.TXT\r\n A\\B\\\r\n"},
      {"a missing image has only its heading",
       {{{"A.TXT", "a"}}, {{"B.TXT", "b"}}},
       false,
       [](App& a) { fs::remove(DiskImagePath(a.state.WorkspaceDir, 0)); },
       "Image 1:\r\n\r\nImage 2:\r\n" + line + "1 B.TXT\r\n"},
      {"flat images list relative paths in stored time",
       {{{"SETUP.EXE", "installer"}, {"DOCS/GUIDE.TXT", ""}}},
       true,
       [](App&) {},
       "Image 1:\r\n" + line + "0 DOCS\\GUIDE.TXT\r\n" + line + "9 SETUP.EXE\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    App app;
    app.PrepareImages(c.disks, c.flat);
    c.damage(app);
    SetTimeZone("CET-1");  // flat times are shown as stored, without a zone
    FileListReport(app.state, app.host, app.ui);
    EXPECT_EQ(app.ui.ReportText(), c.listing);
  }
}

}  // namespace
}  // namespace floppyset::testing
