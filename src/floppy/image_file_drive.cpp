#include "floppy/image_file_drive.h"

#include "base/path.h"

namespace floppyset {

namespace {

constexpr uint16_t kCylinders = 80;
constexpr uint16_t kHeads = 2;

// One image file standing for the disk in the drive. Opening makes a fresh blank disk of
// the full size; positions are byte offsets.
class ImageFileDevice : public FloppyDevice {
 public:
  ImageFileDevice(Host& host, std::string path) : host_(host), path_(std::move(path)) {}

  bool Open() override {
    Close();
    file_ = host_.CreateForWrite(path_);
    if (file_ && file_->Truncate(kFloppyDiskBytes)) return true;
    file_.reset();
    return false;
  }
  void Close() override { file_.reset(); }
  uint32_t Position() const override { return position_; }
  void SetPosition(uint32_t position) override { position_ = position; }

  bool Read(uint8_t* buffer, uint32_t count, uint32_t& done) override {
    if (!Fits(count) || !file_->Seek(position_)) return false;
    int64_t got = file_->Read(buffer, count);
    if (got != static_cast<int64_t>(count)) return false;
    return Advance(count, done);
  }

  bool Write(const uint8_t* data, uint32_t count, uint32_t& done) override {
    if (!Fits(count) || !file_->Seek(position_) || !file_->Write(data, count)) return false;
    return Advance(count, done);
  }

  // The file is blank already; formatting only checks that the tracks exist.
  bool FormatTracks(uint16_t cylinder, uint16_t head, uint16_t tracks) override {
    uint32_t first_track = uint32_t{cylinder} * kHeads + head;
    return file_ && head < kHeads && first_track + tracks <= uint32_t{kCylinders} * kHeads;
  }

 private:
  bool Fits(uint32_t count) const {
    return file_ && position_ <= kFloppyDiskBytes && count <= kFloppyDiskBytes - position_;
  }
  bool Advance(uint32_t count, uint32_t& done) {
    position_ += count;
    done = count;
    return true;
  }

  Host& host_;
  std::string path_;
  std::unique_ptr<File> file_;
  uint32_t position_ = 0;
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
