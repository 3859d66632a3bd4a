#include "package/extraction.h"

#include <algorithm>
#include <new>

#include "base/bytes.h"
#include "base/path.h"
#include "base/time.h"
#include "codec/crc32.h"
#include "codec/explode.h"
#include "codec/lzh_reader.h"
#include "workspace/workspace.h"

namespace floppyset {
namespace {

bool ReadExactly(File& file, void* buffer, size_t count) {
  return file.Read(buffer, count) == static_cast<int64_t>(count);
}

ApstMemberHeader DecodeMemberHeader(const uint8_t (&b)[kMemberHeaderSize]) {
  ApstMemberHeader h;
  h.Magic = LoadLe32(b + 0);
  h.MemberCrc = LoadLe32(b + 4);
  h.NameLength = LoadLe16(b + 10);
  h.PackedSize = LoadLe32(b + 12);
  h.FileAttributes = LoadLe32(b + 16);
  h.ModifiedTime = LoadLe32(b + 20);
  return h;
}

// The member's name when it is NUL-terminated within the bytes read; "" otherwise.
std::string TerminatedName(const std::string& stored) {
  const size_t end = stored.find('\0');
  return end == std::string::npos ? std::string() : stored.substr(0, end);
}

// The stored name as far as it goes, for reports.
std::string MemberNameForReport(MemberCursor& cursor) {
  std::string stored;
  ApstReadMemberName(cursor, stored, kMemberNameCapacity);
  return stored.substr(0, stored.find('\0'));
}

// The output file of the current member, or a failure code.
int OutputPath(MemberCursor& cursor, const std::string& destination, std::string& path) {
  if (!destination.empty() && !EndsWithSeparator(destination)) {
    path = destination;  // a file name: the member is written there
    return 0;
  }
  std::string stored;
  if (!ApstReadMemberName(cursor, stored, kMemberNameCapacity)) return kExtractReadFailed;
  const std::string name = TerminatedName(stored);
  if (!IsPlainFileName(name)) return kExtractBadName;
  path = destination + name;
  return path.size() < kOutputPathCapacity ? 0 : kExtractPathTooLong;
}

}  // namespace

// --- progress ---------------------------------------------------------------------------

void ArchiveProgressStep(void* context, uint16_t direction, uint32_t count) {
  auto& progress = *static_cast<ExtractionProgress*>(context);
  if (direction != 1 || progress.total == 0) return;
  progress.done += count;
  // 64-bit so that archives above 42 MB do not wrap the percentage back to 0.
  const uint64_t percent = uint64_t{progress.done} * 100 / progress.total;
  if (!progress.ui) return;
  progress.ui->SetProgressPosition(kControlExtractionBar, static_cast<uint16_t>(percent));
  progress.ui->PumpOneMessage();
}

void SetExtractionProgress(void* ui, uint16_t percentage) {
  auto* target = static_cast<Ui*>(ui);
  if (!target) return;
  target->SetProgressPosition(kControlExtractionBar, percentage);
  target->PumpOneMessage();
}

// --- the APST archive -------------------------------------------------------------------

std::unique_ptr<File> ApstOpen(Host& host, uint32_t magic, const std::string& path) {
  std::unique_ptr<File> stream = host.OpenForRead(path);
  uint8_t header[kApstHeaderSize];
  if (!stream || !ReadExactly(*stream, header, sizeof header) || LoadLe32(header) != magic) {
    return nullptr;
  }
  return stream;
}

bool ApstClose(std::unique_ptr<File> stream) {
  return stream != nullptr;
}

bool ApstFirstMember(MemberCursor& cursor, File& stream) {
  cursor.stream = &stream;
  cursor.next_position = kApstHeaderSize;
  return stream.Seek(kApstHeaderSize) && ApstNextMember(cursor);
}

bool ApstNextMember(MemberCursor& cursor) {
  File& stream = *cursor.stream;
  cursor.header_position = cursor.next_position;
  uint8_t bytes[kMemberHeaderSize];
  if (!stream.Seek(cursor.header_position) || !ReadExactly(stream, bytes, sizeof bytes)) {
    return false;
  }
  const ApstMemberHeader header = DecodeMemberHeader(bytes);
  if (header.Magic != kMemberMagic) return false;
  cursor.header = header;
  cursor.name_position = cursor.header_position + kMemberHeaderSize;
  cursor.data_position = cursor.name_position + header.NameLength;
  cursor.next_position = cursor.data_position + header.PackedSize;
  return true;
}

bool ApstReadMemberName(MemberCursor& cursor, std::string& name, size_t capacity) {
  const size_t count = std::min<size_t>(cursor.header.NameLength, capacity);
  name.assign(count, '\0');
  return cursor.stream->Seek(cursor.name_position) &&
         ReadExactly(*cursor.stream, name.data(), count);
}

uint32_t ReadArchiveBlock(uint8_t* buffer, uint32_t* size, void* param) {
  auto& context = *static_cast<ExplodeContext*>(param);
  if (context.too_large) return 0;  // ends the decoder: nothing more is wanted
  const int64_t got = context.input->Read(buffer, *size);
  const uint32_t count = got > 0 ? static_cast<uint32_t>(got) : 0;
  if (context.progress) context.progress(context.progress_param, 1, count);
  return count;
}

void WriteOutputBlock(uint8_t* buffer, uint32_t* size, void* param) {
  auto& context = *static_cast<ExplodeContext*>(param);
  if (context.too_large || context.write_failed) return;
  if (*size > context.limit - context.written) {
    context.too_large = true;
    return;
  }
  context.written += *size;
  if (!context.output->Write(buffer, *size)) context.write_failed = true;
  if (context.progress) context.progress(context.progress_param, 0, *size);
  context.crc = Crc32Update(buffer, *size, context.crc);
}

int ExplodeFile(File& input, File& output, uint32_t& crc, ArchiveProgressFn progress,
                void* progress_param, uint64_t limit) {
  const std::unique_ptr<ExplodeWorkArea> work(new (std::nothrow) ExplodeWorkArea());
  if (!work) return kExtractWriteFailed;
  ExplodeContext context;
  context.input = &input;
  context.output = &output;
  context.progress = progress;
  context.progress_param = progress_param;
  context.limit = limit;
  const uint32_t result = Explode(ReadArchiveBlock, WriteOutputBlock, work.get(), &context);
  if (context.too_large) return kExtractTooLarge;
  if (context.write_failed) return kExtractWriteFailed;
  if (result != 0) return static_cast<int>(result);
  crc = context.crc ^ 0xFFFFFFFF;
  return 0;
}

int ApstExtractMember(MemberCursor& cursor, Host& host, const std::string& destination,
                      ArchiveProgressFn progress, void* progress_param, uint64_t limit) {
  std::string path;
  if (const int refused = OutputPath(cursor, destination, path); refused != 0) return refused;
  std::unique_ptr<File> output = host.CreateForWrite(path);
  if (!output) return kExtractCannotCreate;
  if (!cursor.stream->Seek(cursor.data_position)) return kExtractReadFailed;
  uint32_t crc = 0;
  const int result = ExplodeFile(*cursor.stream, *output, crc, progress, progress_param, limit);
  if (result == kExtractTooLarge) {
    // What was written is no image: nobody may take its first part for one.
    output.reset();
    host.RemoveFile(path);
  }
  if (result != 0) return result;
  if (crc != cursor.header.MemberCrc) return kExtractCrcMismatch;
  // The data is complete, so the stored time is the one the file keeps.
  output->SetTimes(FileTime{}, host.Now(), UnixSecondsToFileTime(cursor.header.ModifiedTime));
  return 0;
}

ExtractionResult ApstExtractAll(Host& host, Ui* ui, const std::string& archive_path,
                                const std::string& destination_dir, uint64_t limit) {
  ExtractionResult result;
  std::unique_ptr<File> stream = ApstOpen(host, kApstMagic, archive_path);
  if (!stream) {
    result.code = kExtractNoArchive;
    return result;
  }
  ExtractionProgress progress;
  progress.ui = ui;
  progress.total = static_cast<uint32_t>(stream->Size().value_or(0));
  MemberCursor cursor;
  if (!ApstFirstMember(cursor, *stream)) {
    result.code = kExtractNoMembers;
    return result;
  }
  do {
    progress.done += static_cast<uint32_t>(cursor.data_position - cursor.header_position);
    const int code =
        ApstExtractMember(cursor, host, destination_dir, ArchiveProgressStep, &progress, limit);
    if (code != 0) {
      result.code = code;
      result.failed_member = MemberNameForReport(cursor);
      return result;
    }
  } while (ApstNextMember(cursor));
  result.complete = ApstClose(std::move(stream));
  return result;
}

uint64_t ImageSizeLimit(const RunState& state) {
  return state.PackageUnpackMode != 0 ? kMaxFlatImageBytes : kMaxFloppyImageBytes;
}

std::string ExtractionFailureText(int code) {
  switch (code) {
    case kExtractNoArchive:
      return "the archive is missing or unreadable";
    case kExtractNoMembers:
      return "the archive holds no member";
    case kExtractBadName:
    case kLzhUnsafeHeader:
      return "its name is not a plain file name";
    case kExtractCannotCreate:
    case kLzhCannotCreate:
      return "its file cannot be created";
    case kExtractWriteFailed:
      return "its file cannot be written (disk full?)";
    case kExtractTooLarge:
    case kLzhTooLarge:
      return "it is larger than a disk image may be (2,949,120 bytes, 64 MiB when flat)";
    case kExtractPathTooLong:
      return "its path is too long";
    case kExtractNoWorkspace:
      return "there is no temporary directory";
    default:
      return "its data is damaged";
  }
}

ExtractionResult ExtractPackageImages(RunState& state, Host& host, Ui& ui) {
  if (state.WorkspaceDir.empty()) {
    ExtractionResult result;
    result.code = kExtractNoWorkspace;
    return result;
  }
  if (state.Header.ArchiveKind != 0) {
    return ApstExtractAll(host, &ui, ArchivePath(state), state.WorkspaceDir, ImageSizeLimit(state));
  }
  LzhReader reader(host, ArchivePath(state), state.WorkspaceDir, SetExtractionProgress, &ui,
                   ImageSizeLimit(state));
  ExtractionResult result;
  result.code = reader.ExtractAll();
  result.complete = result.code == 0;
  if (!result.complete) result.failed_member = reader.CurrentMemberName();
  return result;
}

}  // namespace floppyset
