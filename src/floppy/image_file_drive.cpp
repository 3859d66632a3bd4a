#include "floppy/image_file_drive.h"

#include <algorithm>

#include "base/path.h"

namespace floppyset {

namespace {

constexpr uint16_t kCylinders = 80;
constexpr uint16_t kHeads = 2;

// One image file standing for the disk in the drive, positions as byte offsets. Opening
// starts a fresh blank disk: a file of the full disk size, zero where nothing was written.
class ImageFileDevice : public FloppyDevice {
 public:
  ImageFileDevice(Host& host, std::string path) : host_(host), path_(std::move(path)) {}

  bool Open() override {
    Close();
    file_ = host_.CreateForWrite(path_);
    file_offset_ = 0;
    // Full size from the start: a disk file that could not be sized is no disk at all.
    if (file_ && !file_->Truncate(kFloppyDiskBytes)) Discard();
    return file_ != nullptr;
  }
  void Close() override { file_.reset(); }
  void Discard() override {
    if (!file_) return;
    file_.reset();
    host_.RemoveFile(path_);
  }
  ~ImageFileDevice() override { Close(); }
  uint32_t Position() const override { return position_; }
  void SetPosition(uint32_t position) override { position_ = position; }

  bool Read(uint8_t* buffer, uint32_t count, uint32_t& done) override {
    if (!Fits(count) || !SeekToPosition()) return false;
    int64_t got = file_->Read(buffer, count);
    if (got < 0) return Lost();
    std::fill(buffer + got, buffer + count, 0);  // behind the file's end the disk is blank
    Advance(count, done);
    if (got < count) file_offset_ = kUnknownOffset;
    return true;
  }

  bool Write(const uint8_t* data, uint32_t count, uint32_t& done) override {
    if (!Fits(count) || !SeekToPosition()) return false;
    if (!file_->Write(data, count)) return Lost();
    return Advance(count, done);
  }

  // Image files need no formatting: a format only checks that the tracks exist.
  bool FormatTracks(uint16_t cylinder, uint16_t head, uint16_t tracks) override {
    uint32_t first_track = uint32_t{cylinder} * kHeads + head;
    return file_ && head < kHeads && first_track + tracks <= uint32_t{kCylinders} * kHeads;
  }

 private:
  bool Fits(uint32_t count) const {
    return file_ && position_ <= kFloppyDiskBytes && count <= kFloppyDiskBytes - position_;
  }
  // The file's own offset follows the position; a seek is needed only after SetPosition.
  bool SeekToPosition() {
    if (file_offset_ == position_) return true;
    if (!file_->Seek(position_)) return Lost();
    file_offset_ = position_;
    return true;
  }
  // After a failed call the file's offset is unknown.
  bool Lost() {
    file_offset_ = kUnknownOffset;
    return false;
  }
  bool Advance(uint32_t count, uint32_t& done) {
    position_ += count;
    file_offset_ = position_;
    done = count;
    return true;
  }

  Host& host_;
  std::string path_;
  std::unique_ptr<File> file_;
  static constexpr uint64_t kUnknownOffset = ~uint64_t{0};
  uint32_t position_ = 0;
  uint64_t file_offset_ = kUnknownOffset;
};

}  // namespace

ImageFileDrives::ImageFileDrives(Host& host, std::string directory)
    : host_(host), directory_(std::move(directory)) {}

std::string ImageFileDrives::Label(uint8_t /*drive*/) {
  return directory_;
}

std::string ImageFileDrives::DiskPath(uint32_t disk_number) const {
  return JoinPath(directory_, "disk" + std::to_string(disk_number) + ".img");
}

std::unique_ptr<FloppyDevice> ImageFileDrives::MakeDevice(uint8_t drive) {
  if (drive != 0) return nullptr;
  return std::make_unique<ImageFileDevice>(host_, DiskPath(disk_number_));
}

}  // namespace floppyset
