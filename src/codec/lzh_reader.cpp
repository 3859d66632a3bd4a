#include "codec/lzh_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <vector>

#include "base/bytes.h"
#include "base/path.h"
#include "codec/crc16.h"
#include "codec/lh5_decoder.h"

namespace floppyset {
namespace {

constexpr size_t kReadBlockSize = 64 * 1024;
// Output is decoded and written 8192 bytes at a time, which keeps progress steps small.
constexpr size_t kOutputChunk = 8192;

// The fields before the name (from the method id to the name length) and after it (CRC-16,
// operating system id, extended header size).
constexpr size_t kNameOffset = 20;
constexpr size_t kFieldsAfterName = 5;
constexpr size_t kMinHeaderSize = kNameOffset + kFieldsAfterName;
constexpr size_t kLevelOffset = 18;

// Internal: the header reader met the 0 byte or the end of the file.
constexpr int kEndOfArchive = 8;

struct MemberHeader {
  char method = 0;  // the fourth character of the method id
  uint32_t compressed_size = 0;
  uint32_t original_size = 0;
  uint16_t stored_crc = 0;
  std::string name;
};

}  // namespace

struct LzhReader::State : Lh5Source {
  State(ByteSource* source, MemberHooks h, LzhProgressFn fn, void* p, uint64_t limit)
      : archive(source), hooks(std::move(h)), progress(fn), param(p), member_limit(limit) {}

  ByteSource* archive;
  MemberHooks hooks;
  LzhProgressFn progress;
  void* param;
  uint64_t member_limit;
  bool stopped = false;
  std::string stop_member;
  int stop_code = kLzhOk;

  uint64_t archive_size = 0;
  uint16_t last_percentage = 0;
  std::string member_name;

  // Buffered archive input: buffer[0] is at file offset buffer_offset.
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kReadBlockSize);
  uint64_t buffer_offset = 0;
  size_t buffer_used = 0;
  size_t buffer_length = 0;
  // Compressed bytes of the current member not yet handed to the decoder.
  uint64_t member_left = 0;
  bool read_failed = false;

  Lh5Decoder decoder;
  std::unique_ptr<ByteSink> output;
  uint16_t crc = 0;
  bool write_failed = false;

  uint64_t Position() const { return buffer_offset + buffer_used; }
  bool FillBuffer();
  std::span<const uint8_t> Take(uint64_t limit);
  size_t Read(uint8_t* destination, size_t count);
  void SeekTo(uint64_t position);
  void ReportProgress(uint64_t position);

  std::span<const uint8_t> NextBlock() override;

  int ReadHeader(MemberHeader& header);
  bool SoundHeaderAt(uint64_t position);
  bool FindNextHeader(uint64_t position);
  int ExtractMember(const MemberHeader& header, const std::string& file);
  void Done(const std::string& file, int result) {
    if (hooks.member_done) hooks.member_done(member_name, file, result);
  }
  void CopyStored(uint32_t size);
  bool Decompress(uint32_t size, uint64_t data_start, uint32_t compressed_size);
  void Write(std::span<const uint8_t> bytes);
};

bool LzhReader::State::FillBuffer() {
  buffer_offset += buffer_length;
  buffer_used = buffer_length = 0;
  const int64_t got = archive->Read(buffer.data(), buffer.size());
  if (got < 0) read_failed = true;  // ends the input like the end of the file
  if (got <= 0) return false;
  buffer_length = static_cast<size_t>(got);
  return true;
}

// Up to `limit` bytes from the buffer, refilling it when empty; empty at the end of the file.
std::span<const uint8_t> LzhReader::State::Take(uint64_t limit) {
  if (buffer_used == buffer_length && !FillBuffer()) return {};
  const size_t n = static_cast<size_t>(std::min<uint64_t>(limit, buffer_length - buffer_used));
  const std::span<const uint8_t> block(buffer.data() + buffer_used, n);
  buffer_used += n;
  return block;
}

size_t LzhReader::State::Read(uint8_t* destination, size_t count) {
  size_t done = 0;
  while (done < count) {
    const std::span<const uint8_t> block = Take(count - done);
    if (block.empty()) break;
    std::memcpy(destination + done, block.data(), block.size());
    done += block.size();
  }
  return done;
}

void LzhReader::State::SeekTo(uint64_t position) {
  if (position >= buffer_offset && position <= buffer_offset + buffer_length) {
    buffer_used = static_cast<size_t>(position - buffer_offset);
    return;
  }
  buffer_offset = position;
  buffer_used = buffer_length = 0;
  if (!archive->Seek(position)) buffer_offset = archive_size;  // reads then meet the end
}

void LzhReader::State::ReportProgress(uint64_t position) {
  if (archive_size == 0 || progress == nullptr) return;
  const uint64_t percentage = position * 100 / archive_size;
  if (percentage >= last_percentage + 1u) {
    last_percentage = static_cast<uint16_t>(percentage);
    progress(param, last_percentage);
  }
}

std::span<const uint8_t> LzhReader::State::NextBlock() {
  const std::span<const uint8_t> block = Take(member_left);
  member_left -= block.size();
  return block;
}

int LzhReader::State::ReadHeader(MemberHeader& header) {
  member_name.clear();
  uint8_t size_and_sum[2];
  if (Read(size_and_sum, 1) != 1 || size_and_sum[0] == 0) return kEndOfArchive;
  const size_t size = size_and_sum[0];
  std::array<uint8_t, 255> bytes{};
  if (Read(size_and_sum + 1, 1) != 1 || Read(bytes.data(), size) != size) return kLzhBadHeader;
  ReportProgress(Position());

  // Level 0 keeps no operating system and extension fields behind the name, level 2 no
  // checksum in the second byte: neither is read as level 1 would be.
  if (size > kLevelOffset && bytes[kLevelOffset] != 1) return kLzhBadLevel;
  uint8_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  if (sum != size_and_sum[1]) return kLzhBadHeader;
  if (size < kMinHeaderSize) return kLzhBadHeader;
  const size_t name_length = bytes[kNameOffset - 1];
  if (kNameOffset + name_length > size - kFieldsAfterName) return kLzhBadHeader;

  header.method = static_cast<char>(bytes[3]);
  header.compressed_size = LoadLe32(bytes.data() + 5);
  header.original_size = LoadLe32(bytes.data() + 9);
  header.stored_crc = LoadLe16(bytes.data() + size - 5);
  header.name.assign(reinterpret_cast<const char*>(bytes.data() + kNameOffset), name_length);
  member_name = header.name;
  // Extended headers (LHa for UNIX keeps modes and times there) lie between the header and
  // the data and count in the compressed size: stepped over, else they would be taken as data.
  for (size_t next = LoadLe16(bytes.data() + size - 2); next != 0;) {
    if (next < 3 || next > header.compressed_size) return kLzhBadHeader;
    std::vector<uint8_t> extension(next);
    if (Read(extension.data(), next) != next) return kLzhBadHeader;
    header.compressed_size -= static_cast<uint32_t>(next);
    next = LoadLe16(extension.data() + next - 2);
  }
  if (!IsPlainFileName(header.name)) return kLzhUnsafeHeader;
  return kLzhOk;
}

// True when a sound level-1 header starts at `position`: a method id of the form "-l??-",
// a checksum that matches, and a name that fits the header.
bool LzhReader::State::SoundHeaderAt(uint64_t position) {
  SeekTo(position);
  uint8_t prefix[2];
  if (Read(prefix, 2) != 2 || prefix[0] < kMinHeaderSize) return false;
  std::array<uint8_t, 255> bytes{};
  const size_t size = prefix[0];
  if (Read(bytes.data(), size) != size) return false;
  if (bytes[0] != '-' || bytes[1] != 'l' || bytes[4] != '-' || bytes[kLevelOffset] != 1) {
    return false;
  }
  uint8_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum == prefix[1] && kNameOffset + bytes[kNameOffset - 1] <= size - kFieldsAfterName;
}

// Moves to the first sound header after `position`; false when there is none.
bool LzhReader::State::FindNextHeader(uint64_t position) {
  for (uint64_t at = position + 1; at + 2 + kMinHeaderSize <= archive_size; ++at) {
    if (SoundHeaderAt(at)) {
      SeekTo(at);
      return true;
    }
  }
  return false;
}

void LzhReader::State::Write(std::span<const uint8_t> bytes) {
  if (write_failed || bytes.empty()) return;
  if (!output->Write(bytes.data(), bytes.size())) {
    write_failed = true;
    return;
  }
  crc = Crc16Update(bytes.data(), bytes.size(), crc);
}

// Stored data cut short by the end of the archive fails the CRC check.
void LzhReader::State::CopyStored(uint32_t size) {
  uint64_t left = size;
  while (left > 0 && !write_failed) {
    const std::span<const uint8_t> block = Take(std::min<uint64_t>(member_left, kOutputChunk));
    member_left -= block.size();
    if (block.empty()) return;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    Write(block.first(n));
    left -= n;
    ReportProgress(Position());
  }
}

bool LzhReader::State::Decompress(uint32_t size, uint64_t data_start, uint32_t compressed_size) {
  decoder.Start(*this);
  uint64_t left = size;
  while (left > 0 && !write_failed) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kOutputChunk));
    const bool decoded = decoder.Decode(n);
    Write(decoder.output());
    // Short data decodes on from zero bits, but only as far as a complete stream could need
    // them: a damaged size must not make the reader write gigabytes of nothing.
    if (!decoded || decoder.overran_input()) return false;
    left -= n;
    ReportProgress(data_start + std::min<uint64_t>(decoder.consumed(), compressed_size));
  }
  return true;
}

int LzhReader::State::ExtractMember(const MemberHeader& header, const std::string& file) {
  // The stored size is not covered by any checksum: it must not make us write gigabytes.
  if (header.original_size > member_limit) return kLzhTooLarge;
  output = hooks.create ? hooks.create(file) : nullptr;
  if (!output) return kLzhCannotCreate;
  const bool stored = header.method == '0';
  if (!stored && header.method != '4' && header.method != '5') {
    output.reset();
    return kLzhBadMethod;
  }
  crc = 0;
  write_failed = false;
  const uint64_t data_start = Position();
  member_left = header.compressed_size;
  bool intact = true;
  if (stored) {
    CopyStored(header.original_size);
  } else {
    intact = Decompress(header.original_size, data_start, header.compressed_size);
  }
  output.reset();
  if (!intact || write_failed || crc != header.stored_crc) return kLzhBadData;
  return kLzhOk;
}

LzhReader::LzhReader(ByteSource* archive, MemberHooks hooks, LzhProgressFn progress, void* param,
                     uint64_t member_limit)
    : state_(std::make_unique<State>(archive, std::move(hooks), progress, param, member_limit)) {
  if (archive) state_->archive_size = archive->Size().value_or(0);
}

LzhReader::~LzhReader() = default;

int LzhReader::ExtractAll(bool salvage) {
  State& s = *state_;
  const auto stop = [&s](int code) {
    s.stopped = true;
    s.stop_member = s.member_name;
    s.stop_code = code;
  };
  if (!s.archive) {
    stop(kLzhCannotOpenArchive);
    return kLzhCannotOpenArchive;
  }
  int first_failure = kLzhOk;
  MemberHeader header;
  for (;;) {
    const uint64_t header_start = s.Position();
    int result = s.ReadHeader(header);
    if (result == kEndOfArchive) {
      if (!s.read_failed) return first_failure;
      stop(kLzhCannotOpenArchive);
      return kLzhCannotOpenArchive;
    }
    if (result != kLzhOk && result != kLzhUnsafeHeader) {
      // Without a sound header nothing says where the next member starts.
      s.Done("", result);
      if (first_failure == kLzhOk) first_failure = result;
      if (!salvage || !s.FindNextHeader(header_start)) {
        stop(result);
        return first_failure;
      }
      continue;
    }
    // The next header follows the member's data, however much of it the decoder used.
    const uint64_t next = s.Position() + header.compressed_size;
    std::string file;
    if (result == kLzhOk) {
      file = s.hooks.output_name ? s.hooks.output_name(header.name) : header.name;
      if (file.empty()) result = kLzhSkipped;
    }
    if (result == kLzhOk) result = s.ExtractMember(header, file);
    s.Done(result == kLzhSkipped || result == kLzhUnsafeHeader ? "" : file, result);
    s.SeekTo(next);
    if (result == kLzhOk || result == kLzhSkipped) continue;
    if (first_failure == kLzhOk) first_failure = result;
    if (result == kLzhUnsafeHeader) continue;
    // A member that cannot be created says the destination is unusable: nothing more can be.
    if (!salvage || result == kLzhCannotCreate) {
      stop(result);
      return first_failure;
    }
  }
}

bool LzhReader::Stopped() const {
  return state_->stopped;
}

const std::string& LzhReader::StopMember() const {
  return state_->stop_member;
}

int LzhReader::StopCode() const {
  return state_->stop_code;
}

const std::string& LzhReader::CurrentMemberName() const {
  return state_->member_name;
}

}  // namespace floppyset
