#include "image/flat_image.h"

#include <cstring>

#include "base/codepage.h"
#include "base/path.h"
#include "ui/messages.h"

namespace floppyset {

std::string_view FlatRecord::RelativePath() const {
  const char* path = reinterpret_cast<const char*>(raw + 32);
  const void* nul = std::memchr(path, '\0', kFlatPathSize);
  return {path, nul ? static_cast<size_t>(static_cast<const char*>(nul) - path) : kFlatPathSize};
}

bool IsWritableRecordPath(std::string_view relative, size_t directory_length) {
  return relative.size() < kFlatPathSize && IsSafeRelativePath(relative) &&
         directory_length + relative.size() < kMaxPath;
}

FlatImage::FlatImage(Host& host, const std::string& path)
    : host_(host), mapping_(host.MapForRead(path)) {}

FlatImage::~FlatImage() = default;

// The record at `offset`, when its header and data lie inside the file and its path does not
// start with NUL (the terminating record).
const FlatRecord* FlatImage::RecordAt(size_t offset) const {
  if (!IsReady()) return nullptr;
  const size_t size = mapping_->size();
  if (offset > size || size - offset < kFlatHeaderSize) return nullptr;
  const auto* record = reinterpret_cast<const FlatRecord*>(mapping_->data() + offset);
  if (record->RelativePath().empty()) return nullptr;
  if (record->DataSize() > size - offset - kFlatHeaderSize) return nullptr;
  return record;
}

const uint8_t* FlatImage::data() const {
  return mapping_ ? mapping_->data() : nullptr;
}
size_t FlatImage::size() const {
  return mapping_ ? mapping_->size() : 0;
}

const FlatRecord* FlatImage::FirstRecord() const {
  return RecordAt(0);
}

const FlatRecord* FlatImage::NextRecord(const FlatRecord* record) const {
  if (!IsReady() || !record) return nullptr;
  const size_t offset = static_cast<size_t>(record->raw - mapping_->data());
  return RecordAt(offset + kFlatHeaderSize + record->DataSize());
}

std::string FlatImage::ListDamage() const {
  if (!IsReady()) return "";
  size_t end = 0;
  for (const FlatRecord* record = FirstRecord(); record; record = NextRecord(record)) {
    end = static_cast<size_t>(record->raw - data()) + kFlatHeaderSize + record->DataSize();
  }
  const uint8_t* rest = data() + end;
  const size_t left = size() - end;
  if (left >= kFlatHeaderSize) {
    const std::string_view path = reinterpret_cast<const FlatRecord*>(rest)->RelativePath();
    if (path.empty()) return "";  // the terminator
    return FormatMessageId(kMsgFlatRecordPastEnd, std::string(path).c_str());
  }
  // A header cut short: harmless when it holds nothing (a terminator cut short).
  for (size_t i = 0; i < left; ++i) {
    if (rest[i] != 0) return LoadMessage(kMsgFlatHeaderCut);
  }
  return "";
}

std::string FlatImage::HostPath(std::string_view stored) const {
  return name_code_page_ == 0 ? std::string(stored) : CodePageToUtf8(stored, name_code_page_);
}

bool FlatImage::ExtractAll(const std::string& directory) {
  if (!IsReady()) return false;
  report_.damage = ListDamage();
  const std::string base = WithTrailingSeparator(directory);
  if (!CreateRecordDirectories(base)) return false;
  return WriteRecordFiles(base);
}

bool FlatImage::CreateRecordDirectories(const std::string& directory) {
  for (const FlatRecord* record = FirstRecord(); record; record = NextRecord(record)) {
    const std::string_view relative = record->RelativePath();
    // A path that could leave the directory, or is too long, is not unpacked at all.
    if (!IsWritableRecordPath(relative, directory.size())) continue;
    const size_t last = relative.rfind('\\');
    if (last == std::string_view::npos) continue;
    const std::string chain = HostPath(relative.substr(0, last));
    if (!CreateDirectoryChain(host_, directory, chain)) {
      report_.Skip(directory + ToHostSeparators(chain));
      return false;
    }
  }
  return true;
}

bool FlatImage::WriteRecordFiles(const std::string& directory) {
  for (const FlatRecord* record = FirstRecord(); record; record = NextRecord(record)) {
    const std::string_view relative = record->RelativePath();
    const std::string path = directory + ToHostSeparators(HostPath(relative));
    if (!IsWritableRecordPath(relative, directory.size())) {
      report_.Skip(path);
      continue;
    }
    std::unique_ptr<File> file = CreateReplacing(host_, path);
    if (!file) {
      report_.Skip(path);
      continue;
    }
    if (!file->Write(record->Data(), record->DataSize())) {
      file.reset();  // part of a file is not kept under its name
      host_.RemoveFile(path);
      report_.Cut(path);
      continue;
    }
    file->SetTimes(record->CreatedTime(), record->AccessedTime(), record->WrittenTime());
    file.reset();
    // After closing, so that a read-only file is complete first.
    host_.SetAttributes(path, record->Attributes());
  }
  return report_.clean();
}

bool CreateDirectoryChain(Host& host, const std::string& base, const std::string& relative) {
  if (!IsSafeRelativePath(relative) || base.size() + relative.size() + 1 >= kMaxPath) {
    return false;
  }
  std::string path = WithTrailingSeparator(base);
  size_t start = 0;
  while (true) {
    const size_t end = relative.find('\\', start);
    path += relative.substr(start, end - start);
    if (host.MakeDirectory(path) == CreateDirectoryResult::kFailed) return false;
    if (end == std::string::npos) return true;
    path += kPathSeparator;
    start = end + 1;
  }
}

}  // namespace floppyset
