// A table-driven implode decoder. The bits sit in a 64-bit buffer refilled eight bytes at a time,
// every code is resolved with one 256-entry lookup, and repetitions are copied in 8-byte chunks.
// Observable behaviour (read and write sizes, results, what is written before a failure) is that
// of the format's reference decoder, which keeps 8 bits of look-ahead after every code.

#include "codec/explode.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "codec/explode_tables.h"

namespace floppyset {
namespace {

using namespace implode_format;

// Entry of the length lookup, indexed by the 8 bits after the repetition flag:
// bits 0-3 flag + code length, bits 4-7 extra-bit count, bits 8-17 length base.
constexpr std::array<uint32_t, 256> MakeLengthLookup() {
  std::array<uint32_t, 256> lookup{};
  for (int code = kLengthCodeCount - 1; code >= 0; --code) {
    const uint32_t entry =
        (1u + kLenBits[code]) | uint32_t{kExLenBits[code]} << 4 | uint32_t{kLenBase[code]} << 8;
    for (int i = kLenCode[code]; i < 256; i += 1 << kLenBits[code]) lookup[i] = entry;
  }
  return lookup;
}

// Entry of the distance lookup, indexed by the next 8 bits: position code << 4 | code length.
constexpr std::array<uint16_t, 256> MakeDistanceLookup() {
  std::array<uint16_t, 256> lookup{};
  for (int code = kDistanceCodeCount - 1; code >= 0; --code) {
    const auto entry = static_cast<uint16_t>(code << 4 | kDistBits[code]);
    for (int i = kDistCode[code]; i < 256; i += 1 << kDistBits[code]) lookup[i] = entry;
  }
  return lookup;
}

constexpr std::array<uint32_t, 256> kLengthLookup = MakeLengthLookup();
constexpr std::array<uint16_t, 256> kDistanceLookup = MakeDistanceLookup();

// The longest code (a repetition: 16 length bits + 14 distance bits) plus the reference
// decoder's 8 bits of look-ahead. With at least this many bits buffered no end check is needed.
constexpr uint32_t kSafeBits = 30 + 8;

inline uint64_t LoadLe64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

class Decoder {
 public:
  Decoder(ExplodeReadFn read, ExplodeWriteFn write, ExplodeWorkArea* work, void* param)
      : read_(read), write_(write), work_(work), param_(param) {}

  uint32_t Run();

 private:
  bool ReadBlock();
  void Refill();
  void RefillSlowly();
  uint32_t ExpandStream();
  void CopyRepetition(uint32_t length, uint32_t distance);
  void FlushFullBlock();
  void WriteBlock(uint8_t* data, uint32_t size) { write_(data, &size, param_); }

  ExplodeReadFn read_;
  ExplodeWriteFn write_;
  ExplodeWorkArea* work_;
  void* param_;

  // Input.
  const uint8_t* in_ = nullptr;
  const uint8_t* in_end_ = nullptr;
  bool input_ended_ = false;
  uint64_t bits_ = 0;   // next bits of the stream, least-significant first
  uint32_t count_ = 0;  // how many of them are valid
  uint32_t dictionary_bits_ = 0;

  // Output window.
  uint8_t* out_ = nullptr;          // next byte to produce
  uint8_t* flushed_ = nullptr;      // first byte not yet written
  uint8_t* valid_start_ = nullptr;  // first byte that holds real output
};

bool Decoder::ReadBlock() {
  if (input_ended_) return false;
  uint32_t size = kExplodeReadSize;
  const uint32_t got = std::min(read_(work_->input, &size, param_), kExplodeReadSize);
  if (got == 0) {
    input_ended_ = true;
    return false;
  }
  in_ = work_->input;
  in_end_ = in_ + got;
  return true;
}

void Decoder::Refill() {
  if (in_end_ - in_ >= 8) {
    bits_ |= LoadLe64(in_) << count_;
    in_ += (63 - count_) >> 3;
    count_ |= 56;
  } else {
    RefillSlowly();
  }
}

// Near the end of an input block: byte by byte, fetching the next block when needed.
void Decoder::RefillSlowly() {
  while (count_ <= 56) {
    if (in_ == in_end_ && !ReadBlock()) return;
    bits_ |= uint64_t{*in_++} << count_;
    count_ += 8;
  }
}

uint32_t Decoder::Run() {
  uint32_t size = kExplodeReadSize;
  const uint32_t got = std::min(read_(work_->input, &size, param_), kExplodeReadSize);
  if (got <= 4) return kExplodeTooShort;
  const uint8_t literal_mode = work_->input[0];
  dictionary_bits_ = work_->input[1];
  if (dictionary_bits_ < 4 || dictionary_bits_ > 6) return kExplodeBadDictionary;
  if (literal_mode != 0) return kExplodeBadMode;
  in_ = work_->input + 2;
  in_end_ = work_->input + got;

  out_ = flushed_ = valid_start_ = work_->window + ExplodeWorkArea::kHistorySize;
  const uint32_t result = ExpandStream();
  WriteBlock(flushed_, static_cast<uint32_t>(out_ - flushed_));
  return result;
}

uint32_t Decoder::ExpandStream() {
  const uint64_t low_mask = (uint64_t{1} << dictionary_bits_) - 1;
  for (;;) {
    Refill();
    const bool near_end = count_ < kSafeBits;  // only once the input is exhausted
    uint64_t bits = bits_;
    uint32_t used;
    if ((bits & 1) == 0) {
      used = 9;
      if (near_end && used + 8 > count_) return kExplodeCorrupt;
      *out_++ = static_cast<uint8_t>(bits >> 1);
    } else {
      const uint32_t entry = kLengthLookup[(bits >> 1) & 0xFF];
      const uint32_t prefix_bits = entry & 0xF;
      const uint32_t extra_bits = (entry >> 4) & 0xF;
      bits >>= prefix_bits;
      const uint32_t value = (entry >> 8) + static_cast<uint32_t>(bits & ((1u << extra_bits) - 1));
      bits >>= extra_bits;
      used = prefix_bits + extra_bits;
      if (value == kEndOfStreamValue) {
        // Accepted even when its last bits are the last of the input.
        return used <= count_ ? kExplodeOk : kExplodeCorrupt;
      }
      const uint32_t length = value + kMinMatch;
      const uint32_t distance_entry = kDistanceLookup[bits & 0xFF];
      const uint32_t code_bits = distance_entry & 0xF;
      bits >>= code_bits;
      const uint32_t plain_bits = length == 2 ? 2 : dictionary_bits_;
      const uint32_t low = static_cast<uint32_t>(bits & (length == 2 ? 3 : low_mask));
      const uint32_t distance = ((distance_entry >> 4) << plain_bits | low) + 1;
      used += code_bits + plain_bits;
      if (near_end && used + 8 > count_) return kExplodeCorrupt;
      // The format gives no meaning to a distance before the first output byte.
      if (distance > static_cast<size_t>(out_ - valid_start_)) return kExplodeCorrupt;
      CopyRepetition(length, distance);
    }
    bits_ >>= used;
    count_ -= used;
    if (out_ - flushed_ >= kExplodeWriteSize) FlushFullBlock();
  }
}

void Decoder::CopyRepetition(uint32_t length, uint32_t distance) {
  uint8_t* out = out_;
  const uint8_t* from = out - distance;
  uint8_t* const end = out + length;
  if (distance >= 8) {
    // Chunks never read bytes this copy has not yet written; the overrun lands in the slack.
    do {
      std::memcpy(out, from, 8);
      out += 8;
      from += 8;
    } while (out < end);
  } else if (distance == 1) {
    std::memset(out, *from, length);
  } else {
    while (out < end) *out++ = *from++;
  }
  out_ = end;
}

// Writes the next 4096 bytes; when the window is full, keeps the last 4096 bytes as history.
void Decoder::FlushFullBlock() {
  WriteBlock(flushed_, kExplodeWriteSize);
  flushed_ += kExplodeWriteSize;
  uint8_t* const window = work_->window;
  constexpr size_t kHistory = ExplodeWorkArea::kHistorySize;
  if (flushed_ < window + kHistory + ExplodeWorkArea::kSpanSize) return;
  const size_t keep = static_cast<size_t>(out_ - (flushed_ - kHistory));
  std::memmove(window, flushed_ - kHistory, keep);
  out_ = window + keep;
  flushed_ = window + kHistory;
  valid_start_ = window;
}

}  // namespace

uint32_t Explode(ExplodeReadFn read, ExplodeWriteFn write, ExplodeWorkArea* work, void* param) {
  return Decoder(read, write, work, param).Run();
}

}  // namespace floppyset
