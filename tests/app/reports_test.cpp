#include "report/reports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "app_fixture.h"
#include "base/bytes.h"
#include "workspace/workspace.h"

namespace floppyset::testing {
namespace {

constexpr char kBanner[] =
    "Package processing:\r\n=========================================================\r\n";
constexpr char kSeparator[] = "=========================================================\r\n";

const DiskFiles kTreeDisk = {
    {"SETUP.EXE", "installer"}, {"README", "r"}, {"EMPTY.TXT", ""}, {"A/ONE.TXT", "one"},
    {"A/B/TWO.DAT", "two.."},   {"A/C.D/", ""},  {"Z/Z.TXT", "z"}};
const DiskFiles kDataDisk = {{"DATA.BIN", std::string(3000, 'x')}};

constexpr char kTreeListing[] =
    "Image 1:\r\n"
    "03/02/2001 04:05               0 EMPTY.TXT\r\n"
    "03/02/2001 04:05               1 README.\r\n"
    "03/02/2001 04:05               9 SETUP.EXE\r\n"
    " A\\\r\n"
    "03/02/2001 04:05               3 ONE.TXT\r\n"
    " A\\B\\\r\n"
    "03/02/2001 04:05               5 TWO.DAT\r\n"
    " A\\C.D\\\r\n"
    " Z\\\r\n"
    "03/02/2001 04:05               1 Z.TXT\r\n";

class ReportsTest : public AppTest {
 protected:
  ReportsTest() {
    state.WorkspaceDir = root / "work/";
    std::filesystem::create_directories(state.WorkspaceDir);
    state.ProductName = "Demo Product";
    // 2001-02-03 04:05:06 UTC
    state.Header.CreationTime = CalendarTime{2001, 2, 6, 3, 4, 5, 6, 0};
  }

  // Disk images as start-up leaves them in the workspace (FAT12 unless flat).
  void PrepareImages(const std::vector<DiskFiles>& disks, bool flat = false) {
    ScopedTimeZone utc("UTC0");
    for (uint32_t i = 0; i < disks.size(); ++i) {
      WriteFileBytes(DiskImagePath(state, i), BuildImage(root / "scratch", disks[i], flat));
    }
    state.Header.DiskCount = static_cast<uint16_t>(disks.size());
    state.PackageUnpackMode = flat ? 1 : 0;
  }

  // The 32-byte directory slot named `name11` (blank-padded 8.3) in image `index`.
  void PatchSlot(uint32_t index, const char* name11, size_t offset, uint16_t value) {
    std::vector<uint8_t> image = ReadFileBytes(DiskImagePath(state, index));
    const auto at = std::search(image.begin(), image.end(), name11, name11 + 11);
    ASSERT_NE(at, image.end()) << name11;
    StoreLe16(&*at + offset, value);
    WriteFileBytes(DiskImagePath(state, index), image);
  }
  uint16_t SlotValue(uint32_t index, const char* name11, size_t offset) {
    const std::vector<uint8_t> image = ReadFileBytes(DiskImagePath(state, index));
    const auto at = std::search(image.begin(), image.end(), name11, name11 + 11);
    return at == image.end() ? 0 : LoadLe16(&*at + offset);
  }
};

TEST_F(ReportsTest, AllThreeReportsInFixedOrderByteForByte) {
  PrepareImages({kTreeDisk, kDataDisk});
  state.ReportFlags = kFlagList | kFlagProduct | kFlagAuth;
  state.Header.ExpectedExeChecksum = 0x1234;
  state.PeCheckSum = 0x1234;
  state.Header.ExpectedPackageChecksum = 7;
  state.PackageChecksum = 8;
  ScopedTimeZone utc("UTC0");
  ReportThread(state, host, ui);
  EXPECT_EQ(ui.ReportText(), std::string(kBanner) +
                                 "Executable file authenticity  : OK\r\n"
                                 "Embedded package authenticity : Failed\r\n" +
                                 kSeparator +
                                 "Product name                  : Demo Product\r\n"
                                 "Number of disks               : 2\r\n"
                                 "Data of creation of the setup : 03/02/2001 04:05\r\n" +
                                 kSeparator + kTreeListing +
                                 "\r\n"
                                 "Image 2:\r\n"
                                 "03/02/2001 04:05            3000 DATA.BIN\r\n" +
                                 kSeparator);
  // One append per message or line: the window gets whole lines.
  for (const std::string& append : ui.ReportAppends()) {
    EXPECT_TRUE(append.size() >= 2 && append.substr(append.size() - 2) == "\r\n") << append;
  }
}

TEST_F(ReportsTest, ProductReportAloneIsSixLines) {
  state.ReportFlags = kFlagProduct;
  state.Header.DiskCount = 3;
  ScopedTimeZone utc("UTC0");
  ReportThread(state, host, ui);
  const std::string text = ui.ReportText();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
  EXPECT_NE(text.find("Number of disks               : 3\r\n"), std::string::npos);
}

TEST_F(ReportsTest, CreationTimeIsShownInLocalTimeAcrossNewYear) {
  state.Header.CreationTime = CalendarTime{2026, 12, 4, 31, 23, 30, 0, 0};
  {
    ScopedTimeZone ahead("CET-1");
    PackageInfoReport(state, host, ui);
  }
  EXPECT_NE(ui.ReportText().find("Data of creation of the setup : 01/01/2027 00:30\r\n"),
            std::string::npos)
      << ui.ReportText();

  // Where the time zone cannot convert it, the stored UTC time is shown.
  ui = ScriptedUi();
  host.FailUtcToLocal();
  PackageInfoReport(state, host, ui);
  EXPECT_NE(ui.ReportText().find(": 31/12/2026 23:30\r\n"), std::string::npos);
}

TEST_F(ReportsTest, InvalidFileDateIsListedAsZeros) {
  PrepareImages({{{"README", "r"}}});
  PatchSlot(0, "README     ", 22, 0);  // time
  PatchSlot(0, "README     ", 24, 0);  // date
  FileListReport(state, host, ui);
  EXPECT_EQ(ui.ReportText(), "Image 1:\r\n00/00/0000 00:00               1 README.\r\n");
}

TEST_F(ReportsTest, SubdirectoryLeadingBackToItsParentIsNotListedAgain) {
  PrepareImages({{{"A/ONE.TXT", "one"}, {"A/B/TWO.DAT", "two"}}});
  const uint16_t a_cluster = SlotValue(0, "A          ", 26);
  ASSERT_NE(a_cluster, 0);
  PatchSlot(0, "B          ", 26, a_cluster);  // A\B is A itself
  FileListReport(state, host, ui);
  EXPECT_EQ(ui.ReportText(),
            "Image 1:\r\n"
            " A\\\r\n"
            "03/02/2001 04:05               3 ONE.TXT\r\n"
            " A\\B\\\r\n");
}

TEST_F(ReportsTest, FlatImagesListWholeRelativePathsInStoredTime) {
  PrepareImages({{{"SETUP.EXE", "installer"}, {"DOCS/GUIDE.TXT", ""}}}, /*flat=*/true);
  ScopedTimeZone ahead("CET-1");  // flat times are shown as stored, without a zone
  FileListReport(state, host, ui);
  const std::string text = ui.ReportText();
  EXPECT_NE(text.find("03/02/2001 04:05               0 DOCS\\GUIDE.TXT\r\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("03/02/2001 04:05               9 SETUP.EXE\r\n"), std::string::npos);
}

TEST_F(ReportsTest, MissingImageListsOnlyItsHeading) {
  PrepareImages({{{"A.TXT", "a"}}, {{"B.TXT", "b"}}});
  std::filesystem::remove(DiskImagePath(state, 0));
  FileListReport(state, host, ui);
  EXPECT_EQ(ui.ReportText(),
            "Image 1:\r\n\r\nImage 2:\r\n03/02/2001 04:05               1 B.TXT\r\n");
}

}  // namespace
}  // namespace floppyset::testing
