// Flat disk images: file records laid end to end (a 292-byte header, then the data), ending
// at a record whose path starts with NUL. Records are views into the read-only mapping.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "host/host.h"
#include "image/unpack_report.h"

namespace floppyset {

inline constexpr size_t kFlatHeaderSize = 292;
inline constexpr size_t kFlatPathSize = 260;

// One record header, viewed in place (unaligned).
struct FlatRecord {
  uint8_t raw[kFlatHeaderSize];

  uint32_t Attributes() const { return LoadLe32(raw); }
  FileTime CreatedTime() const { return FileTime{LoadLe64(raw + 4)}; }
  FileTime AccessedTime() const { return FileTime{LoadLe64(raw + 12)}; }
  FileTime WrittenTime() const { return FileTime{LoadLe64(raw + 20)}; }
  uint32_t DataSize() const { return LoadLe32(raw + 28); }
  // The stored path up to its NUL (all 260 bytes when it has none).
  std::string_view RelativePath() const;
  const uint8_t* Data() const { return raw + kFlatHeaderSize; }
};
static_assert(sizeof(FlatRecord) == kFlatHeaderSize);

class FlatImage {
 public:
  FlatImage(Host& host, const std::string& path);
  virtual ~FlatImage();
  FlatImage(const FlatImage&) = delete;
  FlatImage& operator=(const FlatImage&) = delete;

  bool IsReady() const { return mapping_ != nullptr; }
  // The whole mapped image (null and 0 when not ready).
  const uint8_t* data() const;
  size_t size() const;

  // Records whose header and data lie wholly inside the file; null at the end of the list.
  const FlatRecord* FirstRecord() const;
  const FlatRecord* NextRecord(const FlatRecord* record) const;
  // Why the records do not reach their terminator or the exact end of the image (a record or
  // header that runs past the end: the records from there on are lost), in words; empty when
  // they do or when the image is not ready.
  std::string ListDamage() const;

  // Creates the directories of all records, then writes all files, below `directory`.
  // False when a directory could not be made (no file is then written), any record was
  // skipped or cut, or the list is cut short (see unpack_report(); the records before the cut
  // are written).
  bool ExtractAll(const std::string& directory);
  const UnpackReport& unpack_report() const { return report_; }
  // Paths of written files and directories are read in this code page and written as UTF-8
  // (0, the default: the bytes as stored).
  void SetNameCodePage(int code_page) { name_code_page_ = code_page; }
  // `directory` ends in a separator in both passes.
  bool CreateRecordDirectories(const std::string& directory);
  bool WriteRecordFiles(const std::string& directory);

 private:
  const FlatRecord* RecordAt(size_t offset) const;
  std::string HostPath(std::string_view stored) const;

  Host& host_;
  std::unique_ptr<MappedFile> mapping_;
  UnpackReport report_;
  int name_code_page_ = 0;
};

// Creates every directory of `relative` ('\' between components) below `base`, which ends in
// a separator. True when all of them exist afterwards; false for an unsafe or too long path.
bool CreateDirectoryChain(Host& host, const std::string& base, const std::string& relative);

// True when a record's path may be written below a directory of `directory_length` characters:
// a safe relative path whose full host path stays within the 260-byte limit.
bool IsWritableRecordPath(std::string_view relative, size_t directory_length);

}  // namespace floppyset
