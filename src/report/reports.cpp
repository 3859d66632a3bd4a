#include "report/reports.h"

#include <vector>

#include "base/codepage.h"
#include "image/disk_image.h"
#include "image/flat_image.h"
#include "ui/messages.h"
#include "workspace/workspace.h"

namespace floppyset {
namespace {

// A text of the package as the front end wants it (see RunState::TextAnsiCodePage).
std::string Shown(const std::string& text, int code_page) {
  return code_page == 0 ? text : CodePageToUtf8(text, code_page);
}

const char* Verdict(bool matches) {
  return matches ? "OK" : "Failed";
}

// Message 534 for one file. A date the calendar cannot hold shows as zeros.
std::string FileLine(const std::optional<CalendarTime>& when, uint32_t size,
                     const std::string& name) {
  const CalendarTime t = when.value_or(CalendarTime{});
  return FormatMessageId(kMsgFileLine, unsigned{t.day}, unsigned{t.month}, unsigned{t.year},
                         unsigned{t.hour}, unsigned{t.minute}, static_cast<unsigned long>(size),
                         name.c_str());
}

// The directory line's form of an entry name: its trailing dot (no extension) becomes '\',
// otherwise '\' is appended, as the program shows paths.
std::string DirectoryLineName(const DirectoryEntry& entry) {
  std::string name = FormatEntryName(entry);
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name + '\\';
}

// Files of a directory, then each subdirectory's line and listing, depth first. A directory
// that leads back into the tree is listed by its line alone.
class TreeListing : public FatTreeVisitor {
 public:
  TreeListing(int oem, Ui& ui) : oem_(oem), ui_(ui) {}
  void File(const DirectoryEntry& file) override {
    ui_.AppendReportText(FileLine(DosDateTimeToCalendar(file.date(), file.time()), file.size(),
                                  Shown(FormatEntryName(file), oem_)));
  }
  bool Directory(const DirectoryEntry& directory, WalkBlock block) override {
    const std::string path =
        (prefixes_.empty() ? "" : prefixes_.back()) + DirectoryLineName(directory);
    ui_.AppendReportText(FormatMessageId(kMsgDirectoryLine, Shown(path, oem_).c_str()));
    if (block != WalkBlock::kNone) return false;
    prefixes_.push_back(path);
    return true;
  }
  void Leave(const DirectoryEntry&) override { prefixes_.pop_back(); }

 private:
  const int oem_;
  Ui& ui_;
  std::vector<std::string> prefixes_;  // the line of each directory entered
};

void ListFlatImage(const FlatImage& image, int ansi, Ui& ui) {
  for (const FlatRecord* record = image.FirstRecord(); record; record = image.NextRecord(record)) {
    ui.AppendReportText(FileLine(FileTimeToCalendar(record->WrittenTime()), record->DataSize(),
                                 Shown(std::string(record->RelativePath()), ansi)));
  }
}

}  // namespace

void AuthenticityReport(const RunState& state, Ui& ui) {
  ui.AppendReportText(
      FormatMessageId(kMsgAuthReport, Verdict(state.Header.ExpectedExeChecksum == state.PeCheckSum),
                      Verdict(state.Header.ExpectedPackageChecksum == state.PackageChecksum)));
}

void PackageInfoReport(const RunState& state, Host& host, Ui& ui) {
  // Where the time zone cannot convert it, the stored UTC time is shown.
  const CalendarTime t =
      host.UtcToLocal(state.Header.CreationTime).value_or(state.Header.CreationTime);
  ui.AppendReportText(
      FormatMessageId(kMsgProductReport, Shown(state.ProductName, state.TextAnsiCodePage).c_str(),
                      unsigned{state.Header.DiskCount}, unsigned{t.day}, unsigned{t.month},
                      unsigned{t.year}, unsigned{t.hour}, unsigned{t.minute}));
}

void FileListReport(const RunState& state, Host& host, Ui& ui) {
  const uint32_t disk_count = state.Header.DiskCount;
  for (uint32_t index = 0; index < disk_count; ++index) {
    const std::string path = DiskImagePath(state.WorkspaceDir, index);
    ui.AppendReportText(FormatMessageId(kMsgImageHeading, unsigned{index + 1}));
    if (!state.ImageIntact(index)) {
      // Only the intact images are read; the others are marked under their headings.
      ui.AppendReportText(FormatMessageId(kMsgReportImageLost,
                                          DescribeLostImage(index, state.Images[index]).c_str()));
    } else if (state.PackageUnpackMode != 0) {
      FlatImage image(host, path);
      ListFlatImage(image, state.TextAnsiCodePage, ui);
    } else {
      DiskImage image(host, path);
      TreeListing listing(state.TextOemCodePage, ui);
      image.WalkTree(listing);
    }
    if (index < state.Images.size()) {
      for (const std::string& fault : state.Images[index].faults) {
        ui.AppendReportText(FormatMessageId(kMsgReportImageLost, fault.c_str()));
      }
    }
    if (index + 1 < disk_count) ui.AppendReportText("\r\n");
  }
}

void ReportThread(const RunState& state, Host& host, Ui& ui) {
  const std::string separator = LoadMessage(kMsgReportSeparator);
  ui.AppendReportText(LoadMessage(kMsgReportBanner));
  if (state.ReportFlags & kFlagAuth) {
    AuthenticityReport(state, ui);
    ui.AppendReportText(separator);
  }
  if (state.ReportFlags & kFlagProduct) {
    PackageInfoReport(state, host, ui);
    ui.AppendReportText(separator);
  }
  if (state.ReportFlags & kFlagList) {
    FileListReport(state, host, ui);
    ui.AppendReportText(separator);
  }
}

}  // namespace floppyset
