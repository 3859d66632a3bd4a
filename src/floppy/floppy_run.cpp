#include "floppy/floppy_run.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "base/bytes.h"
#include "floppy/drive_selection.h"
#include "image/disk_image.h"
#include "ui/messages.h"
#include "workspace/workspace.h"

namespace floppyset {

namespace {

constexpr char kCaption[] = "SETUP";
// After this many cylinders of one disk needed a format, every further one is formatted
// before its first write.
constexpr uint32_t kFormatsBeforeFormatAlways = 5;

// The only layout the devices can write: they format for it and write at its offsets, so
// another geometry would have a format land on cylinders already written.
constexpr uint32_t kSectorBytes = 512;
constexpr uint32_t kSectorsPerTrack = 18;
constexpr uint32_t kHeads = 2;
constexpr uint32_t kDiskSectors = 2880;
constexpr uint32_t kTrackBytes = kSectorsPerTrack * kSectorBytes;
constexpr uint32_t kCylinderBytes = kHeads * kTrackBytes;
constexpr uint32_t kDiskBytes = kDiskSectors * kSectorBytes;
static_assert(kCylinderBytes == kCylinderBufferSize);

void ShowRefusal(Ui& ui, const std::string& text) {
  ui.ShowMessage({0, text, kCaption, Buttons::kOk, Icon::kStop, Owner::kMainWindow});
}

// Checks that disk image `index` can be written as a whole; sets `total` to the bytes to
// write. Returns the refusal naming the disk, or an empty text.
std::string CheckDiskImage(const RunState& state, Host& host, uint32_t index, uint32_t& total) {
  const char* product = state.ProductName.c_str();
  const std::string path = DiskImagePath(state.WorkspaceDir, index);
  DiskImage image(host, path);
  if (!image.IsOpen()) {
    return FormatMessageId(host.Attributes(path) ? kMsgImageShortRefused : kMsgImageMissingRefused,
                           index + 1, product);
  }
  if (image.size() < kSectorBytes)
    return FormatMessageId(kMsgImageShortRefused, index + 1, product);
  const uint8_t* boot = image.data();
  if (LoadLe16(boot + 11) != kSectorBytes || LoadLe16(boot + 24) != kSectorsPerTrack ||
      LoadLe16(boot + 26) != kHeads || LoadLe16(boot + 19) != kDiskSectors) {
    return FormatMessageId(kMsgImageGeometryRefused, index + 1, product);
  }
  // The leading bytes that hold data; 0 means the whole disk.
  total = image.UsedImageSize();
  if (total == 0 || total > kDiskBytes) total = kDiskBytes;
  // The run writes whole cylinders.
  const uint32_t cylinders = (total + kCylinderBytes - 1) / kCylinderBytes;
  if (image.size() < uint64_t{cylinders} * kCylinderBytes)
    return FormatMessageId(kMsgImageShortRefused, index + 1, product);
  return "";
}

// The disks of the run: all, or only disk n with /C:n.
void RunRange(const RunState& state, uint32_t& first, uint32_t& end) {
  const bool single_disk = (state.ReportFlags & kFlagSingleDisk) != 0;
  first = single_disk ? state.SingleDiskNumber - 1u : 0;
  end = single_disk ? state.SingleDiskNumber : state.Header.DiskCount;
}

// Said under a refusal at the run's first disk only: later ones follow written disks.
std::string NothingWrittenNote(uint32_t index, uint32_t first) {
  return index == first ? "\n\n" + LoadMessage(kMsgNoFloppyWritten) : "";
}

// Refuses the run before its first question when any of its images cannot be written;
// returns the refusal shown, or an empty text.
std::string CheckFloppySet(const RunState& state, Host& host, Ui& ui, FloppyDrives& drives) {
  std::string refusal = FloppySetRefusal(state, host);
  // Silent mode writes to A: without asking: it must be a floppy drive, not a hard disk.
  if (refusal.empty() && state.SilentMode && !drives.IsFloppyDrive(0))
    refusal = LoadMessage(kMsgNoDriveA);
  if (!refusal.empty()) ShowRefusal(ui, refusal);
  return refusal;
}

}  // namespace

std::string FloppySetRefusal(const RunState& state, Host& host) {
  if (state.PackageUnpackMode != 0) {
    return FormatMessageId(kMsgFlatImagesRefused, state.ProductName.c_str());
  }
  // A floppy set is written whole or not at all.
  if (!state.SetWhole()) {
    return FormatMessageId(kMsgSetNotWritable, state.ProductName.c_str(),
                           DescribeLostImages(state.Images).c_str());
  }
  uint32_t first = 0, end = 0;
  RunRange(state, first, end);
  for (uint32_t i = first; i < end; ++i) {
    uint32_t total = 0;
    std::string refusal = CheckDiskImage(state, host, i, total);
    if (!refusal.empty()) return refusal + "\n\n" + LoadMessage(kMsgNoFloppyWritten);
  }
  return "";
}

namespace {

// One disk in the drive: the device, the format bookkeeping and the user's answers.
class DiskWriter {
 public:
  DiskWriter(const RunState& state, Ui& ui, FloppyDevice* device)
      : state_(state), ui_(ui), device_(device) {}

  bool Open() {
    while (!device_ || !device_->Open()) {
      if (!ShowFloppyError(state_, ui_, Cause())) return false;
    }
    return true;
  }

  // After every disk write: the device completes its medium.
  bool Finish() {
    while (!device_->Finish()) {
      if (!ShowFloppyError(state_, ui_, Cause())) return false;
    }
    return true;
  }

  // Why the last failed call failed, as the device says it; empty when it cannot tell.
  const std::string& cause() const { return cause_; }

  void Close() {
    if (device_) device_->Close();
  }

  // Writes `count` bytes as the chunk at byte offset `done` of the disk, formatting where
  // the disk refuses; false when the user cancelled.
  bool WriteChunk(const uint8_t* data, uint32_t count, uint32_t done, uint32_t& written) {
    const uint32_t saved = device_->Position();
    const uint32_t cylinder = done / kCylinderBytes;
    const Track track{static_cast<uint16_t>(cylinder),
                      static_cast<uint16_t>((done - cylinder * kCylinderBytes) / kTrackBytes),
                      static_cast<uint16_t>(kCylinderBufferSize / kTrackBytes)};
    while (!TryWrite(data, count, track, written)) {
      if (!ShowFloppyError(state_, ui_, Cause())) return false;
      device_->SetPosition(saved);
    }
    return true;
  }

  // Reads back what the last write put at `position`; true when it matches `data`.
  bool Verify(uint32_t position, const uint8_t* data, uint32_t count) {
    device_->SetPosition(position);
    uint32_t got = 0;
    return device_->Read(read_back_.data(), count, got) && got == count &&
           std::memcmp(read_back_.data(), data, count) == 0;
  }

 private:
  struct Track {
    uint16_t cylinder;
    uint16_t head;
    uint16_t count;
  };

  bool TryWrite(const uint8_t* data, uint32_t count, const Track& track, uint32_t& written) {
    if (format_always_ && !Format(track)) return false;
    if (device_->Write(data, count, written)) return true;
    if (format_always_) return false;
    if (!Format(track) || !device_->Write(data, count, written)) return false;
    if (format_counter_++ > kFormatsBeforeFormatAlways) format_always_ = true;
    return true;
  }

  const std::string& Cause() {
    cause_ = device_ ? device_->FailureText() : "";
    return cause_;
  }

  bool Format(const Track& track) {
    ui_.SetControlText(kControlTrackText, LoadMessage(kMsgTrackFormatting));
    return device_->FormatTracks(track.cylinder, track.head, track.count);
  }

  const RunState& state_;
  Ui& ui_;
  FloppyDevice* device_;
  std::string cause_;
  uint32_t format_counter_ = 1;
  bool format_always_ = false;
  std::vector<uint8_t> read_back_ = std::vector<uint8_t>(kCylinderBufferSize);
};

uint32_t Percent(uint32_t done, uint32_t total) {
  return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{done} * 100 / total, 100));
}

}  // namespace

bool ShowFloppyError(const RunState& state, Ui& ui, const std::string& reason) {
  if (state.SilentMode) return false;
  std::string text = LoadMessage(kMsgFloppyError);
  if (!reason.empty()) text += "\n\n" + reason;
  MessageRequest request{kMsgFloppyError,       text,        kCaption,
                         Buttons::kRetryCancel, Icon::kStop, Owner::kMainWindow};
  return ui.ShowMessage(request) == Answer::kRetry;
}

Answer AskFloppyConfirmation(const RunState& state, Ui& ui) {
  const bool one = state.Header.DiskCount == 1;
  std::string text = one ? FormatMessageId(kMsgConfirmDisk, state.ProductName.c_str())
                         : FormatMessageId(kMsgConfirmDisks, state.ProductName.c_str(),
                                           int{state.Header.DiskCount});
  return ui.ShowMessage({one ? kMsgConfirmDisk : kMsgConfirmDisks, std::move(text), kCaption,
                         Buttons::kOkCancel, Icon::kInformation, Owner::kMainWindow});
}

DiskWrite CreateOneFloppy(RunState& state, Host& host, Ui& ui, FloppyDrives& drives, uint32_t index,
                          uint32_t first, std::string& refusal) {
  // The run checked the image before its first question; check again, since the user may
  // have taken long enough at the prompt for it to change.
  uint32_t total = 0;
  refusal = CheckDiskImage(state, host, index, total);
  std::unique_ptr<File> image;
  if (refusal.empty()) image = host.OpenForRead(DiskImagePath(state.WorkspaceDir, index));
  if (!image) {
    if (refusal.empty())
      refusal = FormatMessageId(kMsgImageMissingRefused, index + 1, state.ProductName.c_str());
    ShowRefusal(ui, refusal + NothingWrittenNote(index, first));
    return DiskWrite::kRefused;
  }

  drives.BeginDisk(index + 1);
  std::unique_ptr<FloppyDevice> device = drives.MakeDevice(state.SelectedFloppyDrive);
  DiskWriter writer(state, ui, device.get());
  // Why the disk was not written, for the run's end when the user gives up on it.
  auto not_written = [&](const std::string& cause) {
    refusal = FormatMessageId(kMsgDiskNotWritten, index + 1, state.ProductName.c_str(),
                              cause.empty() ? LoadMessage(kMsgFloppyError).c_str() : cause.c_str());
    return DiskWrite::kAgain;
  };
  if (!writer.Open()) return not_written(writer.cause());

  ui.SetProgressRange(kControlTrackBar, 0, 100);
  ui.SetProgressPosition(kControlTrackBar, 0);
  DiskWrite result = DiskWrite::kWritten;
  std::vector<uint8_t> chunk(kCylinderBufferSize);
  uint32_t done = 0;
  while (done < total) {
    const int64_t got = image->Read(chunk.data(), chunk.size());
    if (got <= 0) {
      // A disk with only part of its image on it is not a written disk.
      refusal = FormatMessageId(kMsgImageShortRefused, index + 1, state.ProductName.c_str());
      ShowRefusal(ui, refusal + NothingWrittenNote(index, first));
      result = DiskWrite::kRefused;
      break;
    }
    const uint32_t count = static_cast<uint32_t>(got);
    const uint32_t position = device->Position();
    uint32_t written = 0;
    if (!writer.WriteChunk(chunk.data(), count, done, written)) {
      result = not_written(writer.cause());
      break;
    }
    if (state.Header.VerifyAfterWrite && !writer.Verify(position, chunk.data(), written)) {
      result = not_written(LoadMessage(kMsgVerifyFailed));
      ui.ShowMessage({kMsgVerifyFailed, LoadMessage(kMsgVerifyFailed), kCaption, Buttons::kOk,
                      Icon::kStop, Owner::kMainWindow});
      break;
    }
    done += written;
    const uint32_t percent = Percent(done, total);
    ui.SetProgressPosition(kControlTrackBar, static_cast<int>(percent));
    ui.SetProgressPosition(kControlDiskBar, static_cast<int>((index - first) * 100 + percent));
    ui.SetControlText(kControlTrackText, FormatMessageId(kMsgTrackWrite, done / kCylinderBytes,
                                                         total / kCylinderBytes + 1));
  }

  if (result == DiskWrite::kWritten && !writer.Finish()) result = not_written(writer.cause());
  // A disk left unfinished is closed as such: an image file of it is removed.
  writer.Close();
  return result;
}

RunOutcome CreateFloppySet(RunState& state, Host& host, Ui& ui, FloppyDrives& drives) {
  const bool single_disk = (state.ReportFlags & kFlagSingleDisk) != 0;
  const uint32_t disk_count = state.Header.DiskCount;
  uint32_t first = 0, end = 0;
  RunRange(state, first, end);
  if (std::string refusal = CheckFloppySet(state, host, ui, drives); !refusal.empty()) {
    return Ended(RunEnding::kFailed, std::move(refusal));
  }
  if (std::string refusal = drives.Refusal(); !refusal.empty()) {
    ShowRefusal(ui, refusal);
    return Ended(RunEnding::kRefused, std::move(refusal));
  }
  // The other runs were confirmed before they came here (RunModeWorker).
  if (state.SilentMode && drives.ConfirmsEveryRun() &&
      AskFloppyConfirmation(state, ui) != Answer::kOk) {
    return Ended(RunEnding::kCancelled);
  }
  if (!state.SilentMode && !SelectFloppyDrive(state, drives) &&
      !ChooseFloppyDrive(state, ui, drives)) {
    return Ended(RunEnding::kCancelled);
  }

  const uint32_t disks_in_run = end - first;
  ui.SetProgressRange(kControlDiskBar, 0, static_cast<uint16_t>(disks_in_run * 100));
  ui.SetProgressPosition(kControlDiskBar, 0);

  // Why the disk in hand was not written: giving up on it then is a failure, not a cancel.
  std::string failure;
  for (uint32_t i = first; i < end;) {
    std::string prompt = FormatMessageId(kMsgInsertDisk, state.ProductName.c_str(), i + 1,
                                         disk_count, 'A' + state.SelectedFloppyDrive);
    if (ui.ShowMessage({kMsgInsertDisk, prompt, kCaption, Buttons::kOkCancel, Icon::kInformation,
                        Owner::kMainWindow}) != Answer::kOk) {
      // Also in silent mode.
      if (failure.empty()) return Ended(RunEnding::kCancelled);
      return Ended(RunEnding::kFailed, std::move(failure), false);
    }
    ui.SetControlText(kControlDiskText,
                      FormatMessageId(kMsgFloppyWrite, i - first + 1, disks_in_run));
    std::string refusal;
    switch (CreateOneFloppy(state, host, ui, drives, i, first, refusal)) {
      case DiskWrite::kWritten:
        ++i;
        failure.clear();
        break;
      case DiskWrite::kAgain:
        failure = std::move(refusal);
        break;
      case DiskWrite::kRefused:
        return Ended(RunEnding::kFailed, std::move(refusal));
    }
  }

  if (state.SilentMode) return {};
  if (single_disk) {
    state.CompletionMessage =
        FormatMessageId(kMsgDiskCreated, state.ProductName.c_str(), end, disk_count);
  } else {
    state.CompletionMessage =
        FormatMessageId(state.Header.BootDisk ? kMsgBootDiskCreated : kMsgSetCreated,
                        state.ProductName.c_str(), state.ProductName.c_str(), disk_count);
  }
  return {};
}

}  // namespace floppyset
