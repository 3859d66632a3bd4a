#include "package/extraction.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <span>
#include <vector>

#include "base/bytes.h"
#include "base/path.h"
#include "base/time.h"
#include "codec/crc32.h"
#include "codec/explode.h"
#include "codec/lzh_reader.h"
#include "ui/messages.h"
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

// Where the extraction stopped, for the images it did not reach.
std::string StoppedAtText(const std::string& member, const std::string& why) {
  return member.empty() ? why : member + ": " + why;
}

// The literal-mode byte that starts the member's data (0 binary, 1 ASCII); -1 unread.
int LiteralModeByte(MemberCursor& cursor) {
  uint8_t mode = 0;
  if (!cursor.stream->Seek(cursor.data_position) || !ReadExactly(*cursor.stream, &mode, 1)) {
    return -1;
  }
  return mode;
}

// The stored name as far as it goes, for reports.
std::string MemberNameForReport(MemberCursor& cursor) {
  std::string stored;
  ApstReadMemberName(cursor, stored, kMemberNameCapacity);
  return stored.substr(0, stored.find('\0'));
}

// Stands for a member the hooks did not want; it is no failure.
constexpr int kExtractSkipped = -1;

// Finds the next member header at or after `from`: the "$PKF" magic, searched in blocks.
bool FindMemberHeader(MemberCursor& cursor, uint64_t from) {
  File& stream = *cursor.stream;
  std::vector<uint8_t> block(64 * 1024);
  for (uint64_t at = from;;) {
    if (!stream.Seek(at)) return false;
    const int64_t got = stream.Read(block.data(), block.size());
    if (got < 4) return false;
    const auto end = block.begin() + got;
    static constexpr uint8_t kMagic[] = {'$', 'P', 'K', 'F'};
    const auto found = std::search(block.begin(), end, std::begin(kMagic), std::end(kMagic));
    if (found != end) {
      cursor.next_position = at + static_cast<uint64_t>(found - block.begin());
      if (ApstNextMember(cursor)) return true;
      at = cursor.header_position + 1;
      continue;
    }
    at += static_cast<uint64_t>(got) - 3;  // a magic may straddle two blocks
  }
}

// What an extraction failure means for the members behind it.
bool EndsExtraction(int code, bool salvage) {
  if (code == 0 || code == kExtractSkipped || code == kExtractBadName) return false;
  // The workspace cannot take the images: nothing further can be written either.
  if (code == kExtractCannotCreate || code == kExtractWriteFailed || code == kExtractPathTooLong) {
    return true;
  }
  return !salvage;
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
  std::string path = destination;
  if (destination.empty() || EndsWithSeparator(destination)) {
    std::string stored;
    if (!ApstReadMemberName(cursor, stored, kMemberNameCapacity)) return kExtractReadFailed;
    const std::string name = TerminatedName(stored);
    if (!IsPlainFileName(name)) return kExtractBadName;
    path += name;
  }
  if (path.size() >= kOutputPathCapacity) return kExtractPathTooLong;
  std::unique_ptr<File> output = host.CreateForWrite(path);
  if (!output) return kExtractCannotCreate;
  if (!cursor.stream->Seek(cursor.data_position)) return kExtractReadFailed;
  uint32_t crc = 0;
  int result = ExplodeFile(*cursor.stream, *output, crc, progress, progress_param, limit);
  if (result == kExtractTooLarge) {
    // What was written is no image: nobody may take its first part for one.
    output.reset();
    host.RemoveFile(path);
  }
  if (result == kExplodeBadMode && LiteralModeByte(cursor) == 1) result = kExtractAsciiMode;
  if (result != 0) return result;
  if (crc != cursor.header.MemberCrc) return kExtractCrcMismatch;
  // The data is complete, so the stored time is the one the file keeps.
  output->SetTimes(FileTime{}, host.Now(), UnixSecondsToFileTime(cursor.header.ModifiedTime));
  return 0;
}

ExtractionResult ApstExtractAll(Host& host, Ui* ui, const std::string& archive_path,
                                const std::string& destination_dir, uint64_t limit,
                                const MemberHooks& hooks, bool salvage) {
  ExtractionResult result;
  std::unique_ptr<File> stream = ApstOpen(host, kApstMagic, archive_path);
  if (!stream) {
    result.code = kExtractNoArchive;
    result.stopped = true;
    result.stopped_at = ExtractionFailureText(result.code);
    return result;
  }
  ExtractionProgress progress;
  progress.ui = ui;
  progress.total = static_cast<uint32_t>(stream->Size().value_or(0));
  MemberCursor cursor;
  if (!ApstFirstMember(cursor, *stream)) {
    result.code = kExtractNoMembers;
    result.stopped = true;
    result.stopped_at = ExtractionFailureText(result.code);
    return result;
  }
  for (bool more = true; more;) {
    progress.done += static_cast<uint32_t>(cursor.data_position - cursor.header_position);
    const std::string name = MemberNameForReport(cursor);
    std::string file;
    int code = 0;
    if (!IsPlainFileName(name) || name.size() >= kMemberNameCapacity) {
      code = kExtractBadName;
    } else {
      file = hooks.output_name ? hooks.output_name(name) : name;
      if (file.empty()) code = kExtractSkipped;
    }
    if (code == 0) {
      // A destination without a trailing separator is the one output file.
      const bool directory = destination_dir.empty() || EndsWithSeparator(destination_dir);
      code = ApstExtractMember(cursor, host, directory ? destination_dir + file : destination_dir,
                               ArchiveProgressStep, &progress, limit);
    }
    if (hooks.member_done) hooks.member_done(name, code == kExtractSkipped ? "" : file, code);
    if (code != 0 && code != kExtractSkipped && result.code == 0) {
      result.code = code;
      result.failed_member = name;
    }
    if (EndsExtraction(code, salvage)) {
      result.stopped = true;
      result.stopped_at = StoppedAtText(name, ExtractionFailureText(code));
      return result;
    }
    const uint64_t failed_at = cursor.header_position;
    more = ApstNextMember(cursor);
    // A damaged member's sizes may be wrong too: look for the next header behind it.
    if (!more && salvage && code != 0 && code != kExtractSkipped) {
      more = FindMemberHeader(cursor, failed_at + 1);
    }
  }
  result.complete = ApstClose(std::move(stream)) && result.code == 0;
  return result;
}

std::function<std::unique_ptr<ByteSink>(const std::string&)> FilesIn(Host& host,
                                                                     const std::string& dir) {
  return [&host, dir](const std::string& file) -> std::unique_ptr<ByteSink> {
    return host.CreateForWrite(JoinPath(dir, file));
  };
}

uint64_t ImageSizeLimit(uint16_t package_unpack_mode) {
  return package_unpack_mode != 0 ? kMaxFlatImageBytes : kMaxFloppyImageBytes;
}

std::string ExtractionFailureText(int code, bool lha) {
  struct Why {
    int code;
    int message;
  };
  static constexpr Why kLha[] = {{kLzhCannotOpenArchive, kMsgWhyArchiveUnreadable},
                                 {kLzhBadHeader, kMsgWhyHeaderDamaged},
                                 {kLzhBadMethod, kMsgWhyMethodUnsupported},
                                 {kLzhBadLevel, kMsgWhyLevelUnsupported},
                                 {kLzhUnsafeHeader, kMsgWhyUnsafeName},
                                 {kLzhCannotCreate, kMsgWhyCannotCreate},
                                 {kLzhTooLarge, kMsgWhyTooLarge}};
  static constexpr Why kApst[] = {
      {kExtractNoArchive, kMsgWhyArchiveUnreadable}, {kExtractNoMembers, kMsgWhyNoMembers},
      {kExtractBadName, kMsgWhyUnsafeName},          {kExtractCannotCreate, kMsgWhyCannotCreate},
      {kExtractWriteFailed, kMsgWhyCannotWrite},     {kExtractTooLarge, kMsgWhyTooLarge},
      {kExtractPathTooLong, kMsgWhyPathTooLong},     {kExtractNoWorkspace, kMsgWhyNoWorkspace},
      {kExtractAsciiMode, kMsgWhyAsciiMode}};
  // Anything else the decoders report is damage in the data.
  int message = kMsgWhyDataDamaged;
  for (const Why& why : lha ? std::span<const Why>(kLha) : std::span<const Why>(kApst)) {
    if (why.code == code) message = why.message;
  }
  return LoadMessage(message);
}

namespace {

// Follows the members of one extraction and keeps the account of the set's images.
class ImageLedger {
 public:
  ImageLedger(const ExtractionPlan& plan, Host& host) : plan_(plan), host_(host) {
    images_.resize(plan.disk_count);
    extracted_.resize(plan.disk_count, false);
  }

  MemberHooks Hooks() {
    MemberHooks hooks;
    hooks.output_name = [this](const std::string& stored) { return OutputName(stored); };
    hooks.member_done = [this](const std::string& stored, const std::string& file, int code) {
      MemberDone(stored, file, code);
    };
    return hooks;
  }

  // The images never met: not in the archive, or behind the point where extraction stopped.
  SetAccount Finish(bool stopped, const std::string& stopped_at) {
    for (uint32_t index = 0; index < plan_.disk_count; ++index) {
      if (extracted_[index]) continue;
      images_[index].condition = ImageCondition::kMissing;
      images_[index].reason = stopped ? FormatMessageId(kMsgWhyNotReached, stopped_at.c_str())
                                      : LoadMessage(kMsgWhyNotInArchive);
    }
    return images_;
  }

  std::vector<std::string> skipped_members;

 private:
  // The set's disks are the members named "image00.tii" ...; the name is matched without
  // regard to case, as the file systems the sets were made on did.
  std::string OutputName(const std::string& stored) {
    current_ = plan_.disk_count;
    for (uint32_t index = 0; index < plan_.disk_count; ++index) {
      const std::string name = DiskImageName(index);
      if (!std::equal(name.begin(), name.end(), stored.begin(), stored.end(),
                      [](char a, char b) { return AsciiLower(a) == AsciiLower(b); })) {
        continue;
      }
      if (extracted_[index]) {
        skipped_members.push_back(FormatMessageId(kMsgMemberDuplicate, stored.c_str()));
        return "";
      }
      current_ = index;
      return name;
    }
    skipped_members.push_back(FormatMessageId(kMsgMemberNotAnImage, stored.c_str()));
    return "";
  }

  void MemberDone(const std::string& stored, const std::string& file, int code) {
    if (file.empty() && stored.empty() && IsFailure(code)) {
      // A member whose header is too damaged to name it stands, as far as anyone can tell,
      // where the next disk of the set belongs: that disk is named for it.
      for (uint32_t index = 0; index < plan_.disk_count; ++index) {
        if (extracted_[index]) continue;
        extracted_[index] = true;
        images_[index] =
            MakeAccount(ImageCondition::kDamaged, ExtractionFailureText(code, !plan_.apst));
        unnamed_disk_ = DiskImageName(index);
        return;
      }
    }
    if (file.empty()) {
      if (IsFailure(code)) {
        skipped_members.push_back(FormatMessageId(
            kMsgMemberUnusable, stored.c_str(), ExtractionFailureText(code, !plan_.apst).c_str()));
      }
      return;
    }
    if (current_ >= plan_.disk_count) return;
    extracted_[current_] = true;
    ImageAccount& image = images_[current_];
    if (code == 0) {
      image = MakeAccount(ImageCondition::kIntact, "");
      return;
    }
    image = MakeAccount(ImageCondition::kDamaged, ExtractionFailureText(code, !plan_.apst));
    // What was written of a damaged member is no image: nothing may take it for one.
    host_.RemoveFile(plan_.workspace_dir + file);
  }

  static char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
  static bool IsFailure(int code) {
    return code != 0 && code != kExtractSkipped && code != kLzhSkipped;
  }

 public:
  // The disk named for the last member whose header named none; "" while there was none.
  std::string unnamed_disk_;

 private:
  const ExtractionPlan& plan_;
  Host& host_;
  SetAccount images_;
  std::vector<bool> extracted_;
  uint32_t current_ = 0;
};

}  // namespace

ExtractionResult ExtractPackageImages(const ExtractionPlan& plan, Host& host, Ui& ui) {
  ExtractionResult result;
  if (plan.workspace_dir.empty()) {
    result.code = kExtractNoWorkspace;
    result.images.assign(plan.disk_count,
                         MakeAccount(ImageCondition::kMissing, ExtractionFailureText(result.code)));
    return result;
  }
  ImageLedger ledger(plan, host);
  if (plan.apst) {
    result = ApstExtractAll(host, &ui, plan.archive_path, plan.workspace_dir, plan.limit,
                            ledger.Hooks(), plan.salvage);
  } else {
    const std::unique_ptr<File> archive = host.OpenForRead(plan.archive_path);
    MemberHooks hooks = ledger.Hooks();
    hooks.create = FilesIn(host, plan.workspace_dir);
    LzhReader reader(archive.get(), std::move(hooks), SetExtractionProgress, &ui, plan.limit);
    result.code = reader.ExtractAll(plan.salvage);
    result.failed_member = reader.CurrentMemberName();
    result.stopped = reader.Stopped();
    if (result.stopped) {
      const std::string member =
          reader.StopMember().empty() ? ledger.unnamed_disk_ : reader.StopMember();
      result.stopped_at = StoppedAtText(member, ExtractionFailureText(reader.StopCode(), true));
    }
  }
  result.images = ledger.Finish(result.stopped, result.stopped_at);
  result.skipped_members = std::move(ledger.skipped_members);
  result.complete = IsWhole(result.images);
  return result;
}

}  // namespace floppyset
