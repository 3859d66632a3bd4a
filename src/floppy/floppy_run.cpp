#include "floppy/floppy_run.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "base/bytes.h"
#include "floppy/drive_selection.h"
#include "image/disk_image.h"
#include "package/package_reader.h"
#include "ui/messages.h"

namespace floppyset {

namespace {

constexpr char kCaption[] = "SETUP";
// After this many cylinders of one disk needed a format, every further one is formatted
// before its first write.
constexpr uint32_t kFormatsBeforeFormatAlways = 5;

constexpr char kFlatImagesRefused[] =
    "The disk images of \"%s\" are made for unpacking to a hard disk only and cannot be "
    "written to floppy disks.\n\nPlease unpack them instead.";
constexpr char kGeometryRefused[] =
    "The disk image %s does not describe a floppy disk that can be written (its boot sector "
    "gives no usable sector size, track size or disk size).\n\nNo floppy disk was written.";

void ShowRefusal(Ui& ui, const std::string& text) {
  ui.ShowMessage({0, text, kCaption, Buttons::kOk, Icon::kStop, Owner::kMainWindow});
}

// What the boot sector at the start of the first chunk says about the disk.
struct Geometry {
  uint32_t total = 0;           // bytes to write
  uint32_t track_bytes = 0;     // one track
  uint32_t cylinder_bytes = 0;  // all heads of one cylinder
};

// Completes `geometry` from the boot sector; false when it cannot drive the cylinder loop:
// empty track or cylinder sizes, nothing to write, or tracks that do not fill a chunk
// exactly (the chunk is formatted as whole tracks).
bool ReadGeometry(const uint8_t* chunk, uint32_t got, Geometry& geometry) {
  constexpr uint32_t kBootFieldsEnd = 28;
  if (got < kBootFieldsEnd) return false;
  uint32_t bytes_per_sector = LoadLe16(chunk + 11);
  if (geometry.total == 0) geometry.total = uint32_t{LoadLe16(chunk + 19)} * bytes_per_sector;
  geometry.track_bytes = uint32_t{LoadLe16(chunk + 24)} * bytes_per_sector;
  geometry.cylinder_bytes = uint32_t{LoadLe16(chunk + 26)} * geometry.track_bytes;
  return geometry.total != 0 && geometry.track_bytes != 0 && geometry.cylinder_bytes != 0 &&
         geometry.track_bytes <= kCylinderBufferSize &&
         kCylinderBufferSize % geometry.track_bytes == 0;
}

// One disk in the drive: the device, the format bookkeeping and the user's answers.
class DiskWriter {
 public:
  DiskWriter(const RunState& state, Ui& ui, FloppyDevice* device)
      : state_(state), ui_(ui), device_(device) {}

  bool Open() {
    while (!device_ || !device_->Open()) {
      if (!ShowFloppyError(state_, ui_)) return false;
    }
    return true;
  }

  void Close() {
    if (device_) device_->Close();
  }

  // Writes `count` bytes as the chunk at byte offset `done` of the disk, formatting where
  // the disk refuses; false when the user cancelled.
  bool WriteChunk(const uint8_t* data, uint32_t count, uint32_t done, const Geometry& geometry,
                  uint32_t& written) {
    const uint32_t saved = device_->Position();
    const uint32_t cylinder = done / geometry.cylinder_bytes;
    const Track track{
        static_cast<uint16_t>(cylinder),
        static_cast<uint16_t>((done - cylinder * geometry.cylinder_bytes) / geometry.track_bytes),
        static_cast<uint16_t>(kCylinderBufferSize / geometry.track_bytes)};
    while (!TryWrite(data, count, track, written)) {
      if (!ShowFloppyError(state_, ui_)) return false;
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

  bool Format(const Track& track) {
    ui_.SetControlText(kControlTrackText, LoadMessage(kMsgTrackFormatting));
    return device_->FormatTracks(track.cylinder, track.head, track.count);
  }

  const RunState& state_;
  Ui& ui_;
  FloppyDevice* device_;
  uint32_t format_counter_ = 1;
  bool format_always_ = false;
  std::vector<uint8_t> read_back_ = std::vector<uint8_t>(kCylinderBufferSize);
};

// The leading bytes of the image that hold data; 0 means the whole disk.
uint32_t MeasureImage(Host& host, const std::string& path) {
  DiskImage image(host, path);
  return image.UsedImageSize();
}

uint32_t Percent(uint32_t done, uint32_t total) {
  return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{done} * 100 / total, 100));
}

}  // namespace

bool ShowFloppyError(const RunState& state, Ui& ui) {
  if (state.SilentMode) return false;
  MessageRequest request{kMsgFloppyError, LoadMessage(kMsgFloppyError),
                         kCaption,        Buttons::kRetryCancel,
                         Icon::kStop,     Owner::kMainWindow};
  return ui.ShowMessage(request) == Answer::kRetry;
}

bool CreateOneFloppy(RunState& state, Host& host, Ui& ui, FloppyDrives& drives, uint32_t index,
                     uint32_t first) {
  const std::string image_path = DiskImagePath(state, index);
  Geometry geometry;
  geometry.total = MeasureImage(host, image_path);

  std::unique_ptr<File> image = host.OpenForRead(image_path);
  if (!image) return true;

  drives.BeginDisk(index + 1);
  std::unique_ptr<FloppyDevice> device = drives.MakeDevice(state.SelectedFloppyDrive);
  DiskWriter writer(state, ui, device.get());
  if (!writer.Open()) return false;

  bool result = true;
  std::vector<uint8_t> chunk(kCylinderBufferSize);
  uint32_t done = 0;
  bool first_pass = true;
  do {
    int64_t got = image->Read(chunk.data(), chunk.size());
    if (got <= 0) break;
    const uint32_t count = static_cast<uint32_t>(got);
    if (first_pass) {
      first_pass = false;
      if (!ReadGeometry(chunk.data(), count, geometry)) {
        ShowRefusal(ui, FormatText(kGeometryRefused, image_path.c_str()));
        state.FloppyRunFailed = true;
        result = false;
        break;
      }
      ui.SetProgressRange(kControlTrackBar, 0, 100);
      ui.SetProgressPosition(kControlTrackBar, 0);
    }
    const uint32_t position = device->Position();
    uint32_t written = 0;
    if (!writer.WriteChunk(chunk.data(), count, done, geometry, written)) {
      result = false;
      break;
    }
    if (state.Header.VerifyAfterWrite && !writer.Verify(position, chunk.data(), written)) {
      result = false;
      ui.ShowMessage({kMsgVerifyFailed, LoadMessage(kMsgVerifyFailed), kCaption, Buttons::kOk,
                      Icon::kStop, Owner::kMainWindow});
      break;
    }
    done += written;
    const uint32_t percent = Percent(done, geometry.total);
    ui.SetProgressPosition(kControlTrackBar, static_cast<int>(percent));
    ui.SetProgressPosition(kControlDiskBar, static_cast<int>((index - first) * 100 + percent));
    ui.SetControlText(kControlTrackText,
                      FormatMessageId(kMsgTrackWrite, done / geometry.cylinder_bytes,
                                      geometry.total / geometry.cylinder_bytes + 1));
  } while (done < geometry.total);

  writer.Close();
  return result;
}

void CreateFloppySet(RunState& state, Host& host, Ui& ui, FloppyDrives& drives) {
  if (state.PackageUnpackMode != 0) {
    ShowRefusal(ui, FormatText(kFlatImagesRefused, state.ProductName.c_str()));
    state.FloppyRunFailed = true;
    return;
  }
  if (!state.SilentMode && !SelectFloppyDrive(state, drives) &&
      !ChooseFloppyDrive(state, ui, drives)) {
    state.RunCancelled = true;
    return;
  }

  const bool single_disk = (state.ReportFlags & kFlagSingleDisk) != 0;
  const uint32_t disk_count = state.Header.DiskCount;
  const uint32_t first = single_disk ? state.SingleDiskNumber - 1u : 0;
  const uint32_t end = single_disk ? state.SingleDiskNumber : disk_count;
  const uint32_t disks_in_run = end - first;
  ui.SetProgressRange(kControlDiskBar, 0, static_cast<uint16_t>(disks_in_run * 100));
  ui.SetProgressPosition(kControlDiskBar, 0);

  for (uint32_t i = first; i < end;) {
    std::string prompt = FormatMessageId(kMsgInsertDisk, state.ProductName.c_str(), i + 1,
                                         disk_count, 'A' + state.SelectedFloppyDrive);
    if (ui.ShowMessage({kMsgInsertDisk, prompt, kCaption, Buttons::kOkCancel, Icon::kInformation,
                        Owner::kMainWindow}) != Answer::kOk) {
      state.RunCancelled = true;  // also in silent mode, which leaves no completion text
      return;
    }
    ui.SetControlText(kControlDiskText,
                      FormatMessageId(kMsgFloppyWrite, i - first + 1, disks_in_run));
    if (CreateOneFloppy(state, host, ui, drives, i, first)) {
      ++i;
    } else if (state.FloppyRunFailed) {
      return;
    }
  }

  if (state.SilentMode) return;
  if (single_disk) {
    state.CompletionMessage =
        FormatMessageId(kMsgDiskCreated, state.ProductName.c_str(), end, disk_count);
  } else {
    state.CompletionMessage =
        FormatMessageId(state.Header.BootDisk ? kMsgBootDiskCreated : kMsgSetCreated,
                        state.ProductName.c_str(), state.ProductName.c_str(), disk_count);
  }
}

}  // namespace floppyset
