#include "floppy/image_file_drive.h"

#include <algorithm>

#include "base/path.h"
#include "ui/messages.h"
#include "workspace/workspace.h"

namespace floppyset {

namespace {

constexpr uint16_t kCylinders = 80;
constexpr uint16_t kHeads = 2;

// One image file standing for the disk in the drive, positions as byte offsets. Opening
// starts a fresh blank disk (and makes the drive's directory); finishing brings the file to
// the full disk size, zero where nothing was written (and such places read as zeros before
// that); closing an unfinished disk removes its file.
class ImageFileDevice : public FloppyDevice {
 public:
  ImageFileDevice(Host& host, ImageFileDrives& drives, std::string path)
      : host_(host), drives_(drives), path_(std::move(path)) {}

  bool Open() override {
    Close();
    if (!drives_.MakeDirectory(failure_)) return false;
    file_ = host_.CreateForWrite(path_);
    file_offset_ = 0;
    finished_ = false;
    if (!file_) {
      failure_ = FormatMessageId(kMsgCannotCreateFile, path_.c_str(), HostCause(host_).c_str());
      drives_.RemoveMadeDirectories();
    }
    return file_ != nullptr;
  }
  bool Finish() override {
    if (!file_) return false;
    std::optional<uint64_t> size = file_->Size();
    if (size && *size >= kFloppyDiskBytes) return finished_ = true;
    if (!file_->Truncate(kFloppyDiskBytes)) return Failed();
    return finished_ = true;
  }
  void Close() override {
    if (!file_) return;
    file_.reset();
    if (finished_) return;
    host_.RemoveFile(path_);
    drives_.RemoveMadeDirectories();
  }
  ~ImageFileDevice() override { Close(); }
  uint32_t Position() const override { return position_; }
  void SetPosition(uint32_t position) override { position_ = position; }
  std::string FailureText() const override { return failure_; }

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
    if (!file_->Write(data, count)) return Failed();
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
    if (!file_->Seek(position_)) return Failed();
    file_offset_ = position_;
    return true;
  }
  // After a failed call the file's offset is unknown.
  bool Lost() {
    file_offset_ = kUnknownOffset;
    return false;
  }
  bool Failed() {
    failure_ = FormatMessageId(kMsgCannotWriteFile, path_.c_str(), HostCause(host_).c_str());
    return Lost();
  }
  bool Advance(uint32_t count, uint32_t& done) {
    position_ += count;
    file_offset_ = position_;
    done = count;
    return true;
  }

  Host& host_;
  ImageFileDrives& drives_;
  std::string path_;
  std::unique_ptr<File> file_;
  std::string failure_;
  bool finished_ = false;
  static constexpr uint64_t kUnknownOffset = ~uint64_t{0};
  uint32_t position_ = 0;
  uint64_t file_offset_ = kUnknownOffset;
};

}  // namespace

std::string HostCause(Host& host) {
  std::string cause = host.ErrorText();
  return cause.empty() ? LoadMessage(kMsgUnknownCause) : cause;
}

ImageFileDrives::ImageFileDrives(Host& host, std::string directory)
    : host_(host), directory_(WithoutTrailingSeparators(std::move(directory))) {}

std::string ImageFileDrives::Label(uint8_t /*drive*/) {
  return directory_;
}

std::string ImageFileDrives::DiskPath(uint32_t disk_number) const {
  return JoinPath(directory_, "disk" + std::to_string(disk_number) + ".img");
}

std::unique_ptr<FloppyDevice> ImageFileDrives::MakeDevice(uint8_t drive) {
  if (drive != 0) return nullptr;
  return std::make_unique<ImageFileDevice>(host_, *this, DiskPath(disk_number_));
}

bool ImageFileDrives::MakeDirectory(std::string& failure) {
  // The missing directories, innermost first.
  std::vector<std::string> missing;
  for (std::string path = directory_; !path.empty() && !host_.Attributes(path);) {
    missing.push_back(path);
    const size_t cut = path.find_last_of('/');
    if (cut == std::string::npos || cut == 0) break;
    path.resize(cut);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    const CreateDirectoryResult made = host_.MakeDirectory(*it);
    if (made == CreateDirectoryResult::kFailed) {
      failure = FormatMessageId(kMsgCannotMakeDirectory, it->c_str(), HostCause(host_).c_str());
      RemoveMadeDirectories();
      return false;
    }
    if (made == CreateDirectoryResult::kCreated) made_.push_back(*it);
  }
  const std::optional<uint32_t> attributes = host_.Attributes(directory_);
  if (!attributes || (*attributes & kAttrDirectory) == 0) {
    failure = FormatMessageId(kMsgCannotMakeDirectory, directory_.c_str(), "Not a directory");
    return false;
  }
  return true;
}

void ImageFileDrives::RemoveMadeDirectories() {
  while (!made_.empty() && host_.RemoveEmptyDirectory(made_.back())) made_.pop_back();
}

bool WriteImageFile(Host& host, const std::string& source, const std::string& target,
                    std::string& failure) {
  const std::unique_ptr<File> in = host.OpenForRead(source);
  if (!in) {
    failure = FormatMessageId(kMsgCannotReadFile, source.c_str(), HostCause(host).c_str());
    return false;
  }
  std::unique_ptr<File> out = host.CreateForWrite(target);
  if (!out) {
    failure = FormatMessageId(kMsgCannotCreateFile, target.c_str(), HostCause(host).c_str());
    return false;
  }
  std::vector<uint8_t> buffer(1 << 16);
  for (;;) {
    const int64_t got = in->Read(buffer.data(), buffer.size());
    if (got == 0) return true;
    if (got < 0) {
      failure = FormatMessageId(kMsgCannotReadFile, source.c_str(), HostCause(host).c_str());
      break;
    }
    if (!out->Write(buffer.data(), static_cast<size_t>(got))) {
      failure = FormatMessageId(kMsgCannotWriteFile, target.c_str(), HostCause(host).c_str());
      break;
    }
  }
  out.reset();
  host.RemoveFile(target);
  return false;
}

ImageExport ExportIntactImages(Host& host, const std::string& workspace, const SetAccount& images,
                               const std::string& directory) {
  ImageExport done;
  ImageFileDrives folder(host, directory);
  host.AddWriteRoot(directory);
  for (uint32_t index = 0; index < images.size(); ++index) {
    if (images[index].condition != ImageCondition::kIntact) continue;
    std::string failure;
    if (!folder.MakeDirectory(failure)) {
      done.failures.push_back(failure);
      break;
    }
    if (WriteImageFile(host, DiskImagePath(workspace, index), folder.DiskPath(index + 1),
                       failure)) {
      ++done.written;
    } else {
      done.failures.push_back(failure);
    }
  }
  if (done.written == 0) folder.RemoveMadeDirectories();
  return done;
}

}  // namespace floppyset
