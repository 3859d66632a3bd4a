// A table-driven implode decoder. The bits sit in a 64-bit buffer refilled eight bytes at a time,
// every code is resolved with one 256-entry lookup, and repetitions are copied in 8-byte chunks.
// Observable behaviour (read and write sizes, results, what is written before a failure) is that
// of the format's reference decoder, which keeps 8 bits of look-ahead after every code.

#include "codec/explode.h"

#include "base/bytes.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "codec/explode_tables.h"

namespace floppyset {
namespace {

using namespace implode_format;

// Entry of the length lookup, indexed by the 8 bits after the repetition flag: bits 0-4 all
// bits of the length (flag, code, extra bits), 5-8 flag + code bits, 9-12 extra-bit count,
// bit 13 set for the 2-byte length, bits 16-25 the length base.
constexpr uint32_t kTwoByteLength = 1u << 13;

constexpr std::array<uint32_t, 256> MakeLengthLookup() {
  std::array<uint32_t, 256> lookup{};
  for (int code = kLengthCodeCount - 1; code >= 0; --code) {
    const uint32_t prefix_bits = 1u + kLenBits[code];
    const uint32_t entry = (prefix_bits + kExLenBits[code]) | prefix_bits << 5 |
                           uint32_t{kExLenBits[code]} << 9 | (code == 0 ? kTwoByteLength : 0) |
                           uint32_t{kLenBase[code]} << 16;
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

// The common repetitions, lengths 2 to 9 (codes without extra bits), resolved together with
// their distance position code by one lookup on the 13 bits after the flag: bit 0 set for
// such a code, bits 1-3 the length value, bits 4-9 the position code, bits 10-13 all bits up
// to the plain distance bits (flag included). 0 means: look the code up in two steps.
constexpr int kShortMatchIndexBits = 13;

constexpr std::array<uint16_t, 1 << kShortMatchIndexBits> MakeShortMatchLookup() {
  std::array<uint16_t, 1 << kShortMatchIndexBits> lookup{};
  for (uint32_t index = 0; index < lookup.size(); ++index) {
    const uint32_t length_entry = kLengthLookup[index & 0xFF];
    const uint32_t value = length_entry >> 16;
    if (((length_entry >> 9) & 0xF) != 0) continue;    // has extra bits
    const uint32_t prefix_bits = length_entry & 0x1F;  // flag + code
    const uint32_t distance_entry = kDistanceLookup[(index >> (prefix_bits - 1)) & 0xFF];
    const uint32_t total = prefix_bits + (distance_entry & 0xF);
    lookup[index] =
        static_cast<uint16_t>(1u | value << 1 | (distance_entry >> 4) << 4 | total << 10);
  }
  return lookup;
}

constexpr auto kShortMatchLookup = MakeShortMatchLookup();

// The longest code (a repetition: 16 length bits + 14 distance bits) plus the reference
// decoder's 8 bits of look-ahead. With at least this many bits buffered no end check is needed.
constexpr uint32_t kSafeBits = 30 + 8;

// The bit reader's state, kept in registers by the decoding loop.
struct BitReader {
  const uint8_t* in;
  const uint8_t* in_end;
  uint64_t bits;   // next bits of the stream, least-significant first
  uint32_t count;  // how many of them are valid
};

class Decoder {
 public:
  Decoder(ExplodeReadFn read, ExplodeWriteFn write, ExplodeWorkArea* work, void* param)
      : read_(read), write_(write), work_(work), param_(param) {}

  uint32_t Run();

 private:
  bool ReadBlock(BitReader& reader);
  BitReader RefillSlowly(BitReader reader);
  uint32_t ExpandStream(uint8_t*& out);
  uint8_t* FlushFullBlock(uint8_t* out);
  void WriteBlock(uint8_t* data, uint32_t size) { write_(data, &size, param_); }

  ExplodeReadFn read_;
  ExplodeWriteFn write_;
  ExplodeWorkArea* work_;
  void* param_;
  BitReader reader_{};
  bool input_ended_ = false;
  uint32_t dictionary_bits_ = 0;
  uint8_t* flushed_ = nullptr;      // first output byte not yet written
  uint8_t* valid_start_ = nullptr;  // first window byte that holds real output
};

bool Decoder::ReadBlock(BitReader& reader) {
  if (input_ended_) return false;
  uint32_t size = kExplodeReadSize;
  const uint32_t got = std::min(read_(work_->input, &size, param_), kExplodeReadSize);
  if (got == 0) {
    input_ended_ = true;
    return false;
  }
  reader.in = work_->input;
  reader.in_end = reader.in + got;
  return true;
}

// Near the end of an input block: byte by byte, fetching the next block when needed.
__attribute__((noinline)) BitReader Decoder::RefillSlowly(BitReader reader) {
  while (reader.count < 56) {
    if (reader.in == reader.in_end && !ReadBlock(reader)) break;
    reader.bits |= uint64_t{*reader.in++} << reader.count;
    reader.count += 8;
  }
  return reader;
}

inline void Refill(BitReader& reader) {
  reader.bits |= LoadLe64(reader.in) << reader.count;
  reader.in += (63 - reader.count) >> 3;
  reader.count |= 56;
}

// Copies a repetition forward, so that a distance shorter than the length repeats a pattern.
// Whole 8-byte chunks may run past the end into the window's slack.
// The uncommon repetitions: longer than 16 bytes or closer than 8.
__attribute__((noinline)) void CopyLongOrClose(uint8_t* out, uint32_t length, uint32_t distance) {
  const uint8_t* from = out - distance;
  uint8_t* const end = out + length;
  if (distance >= 16) {
    do {
      std::memcpy(out, from, 16);
      out += 16;
      from += 16;
    } while (out < end);
    return;
  }
  if (distance == 1) {
    std::memset(out, *from, length);
    return;
  }
  if (distance < 8) {
    // Byte by byte until the copy runs a whole number of periods, at least 8 bytes, behind.
    const uint32_t period = distance * ((7 + distance) / distance);
    uint8_t* const head_end = out + std::min(length, period);
    while (out < head_end) *out++ = *from++;
    from = out - period;
  }
  while (out < end) {
    std::memcpy(out, from, 8);
    out += 8;
    from += 8;
  }
}

// Copies a repetition forward, so that a distance shorter than the length repeats a pattern.
// Whole chunks may run past the end into the window's slack.
inline void CopyRepetition(uint8_t* out, uint32_t length, uint32_t distance) {
  if (length <= 16 && distance >= 8) {
    // Two chunks that each read only bytes already in place.
    std::memcpy(out, out - distance, 8);
    std::memcpy(out + 8, out + 8 - distance, 8);
    return;
  }
  CopyLongOrClose(out, length, distance);
}

uint32_t Decoder::Run() {
  uint32_t size = kExplodeReadSize;
  const uint32_t got = std::min(read_(work_->input, &size, param_), kExplodeReadSize);
  if (got <= 4) return kExplodeTooShort;
  const uint8_t literal_mode = work_->input[0];
  dictionary_bits_ = work_->input[1];
  if (dictionary_bits_ < 4 || dictionary_bits_ > 6) return kExplodeBadDictionary;
  if (literal_mode != 0) return kExplodeBadMode;
  reader_ = {work_->input + 2, work_->input + got, 0, 0};

  uint8_t* out = flushed_ = valid_start_ = work_->window + ExplodeWorkArea::kHistorySize;
  const uint32_t result = ExpandStream(out);
  WriteBlock(flushed_, static_cast<uint32_t>(out - flushed_));
  return result;
}

// A repetition read from the bit buffer, whose lowest bit is its flag.
struct Repetition {
  uint32_t value;  // length - 2; kEndOfStreamValue ends the stream
  uint32_t distance;
  uint32_t length_bits;  // flag, length code and extra bits (set for the end marker)
  uint32_t bits;         // all bits, distance included
};

inline Repetition DecodeRepetition(uint64_t bits, uint32_t dictionary_bits) {
  const uint32_t short_entry = kShortMatchLookup[(bits >> 1) & ((1u << kShortMatchIndexBits) - 1)];
  if (short_entry != 0) {
    const uint32_t value = (short_entry >> 1) & 7;
    const uint32_t code_bits = short_entry >> 10;
    const uint32_t plain_bits = value == 0 ? 2 : dictionary_bits;
    const uint32_t low = static_cast<uint32_t>(bits >> code_bits) & ((1u << plain_bits) - 1);
    return {value, (((short_entry >> 4) & 0x3F) << plain_bits | low) + 1, 0,
            code_bits + plain_bits};
  }
  const uint32_t entry = kLengthLookup[(bits >> 1) & 0xFF];
  const uint32_t length_bits = entry & 0x1F;
  const uint32_t extra_mask = (1u << ((entry >> 9) & 0xF)) - 1;
  const uint32_t value =
      (entry >> 16) + (static_cast<uint32_t>(bits >> ((entry >> 5) & 0xF)) & extra_mask);
  const uint32_t plain_bits = (entry & kTwoByteLength) ? 2 : dictionary_bits;
  bits >>= length_bits;
  const uint32_t distance_entry = kDistanceLookup[bits & 0xFF];
  const uint32_t code_bits = distance_entry & 0xF;
  const uint32_t low = static_cast<uint32_t>(bits >> code_bits) & ((1u << plain_bits) - 1);
  return {value, ((distance_entry >> 4) << plain_bits | low) + 1, length_bits,
          length_bits + code_bits + plain_bits};
}

// Flags of five consecutive literals (9 bits each): bits 0, 9, 18, 27 and 36.
constexpr uint64_t kLiteralFlags = 0x1008040201;
constexpr uint32_t kLiteralRunBits = 45;

uint32_t Decoder::ExpandStream(uint8_t*& out_ref) {
  const uint32_t dictionary_bits = dictionary_bits_;
  BitReader r = reader_;
  uint8_t* out = out_ref;
  uint8_t* flush_at = flushed_ + kExplodeWriteSize;
  const uint8_t* valid_start = valid_start_;
  auto refill = [&r, this] {
    if (r.in_end - r.in >= 8) {
      Refill(r);
    } else {
      r = RefillSlowly(r);
    }
  };
  auto consume = [&r](uint32_t n) {
    r.bits >>= n;
    r.count -= n;
  };
  uint32_t result;
  for (;;) {
    if (out >= flush_at) {
      out = FlushFullBlock(out);
      flush_at = flushed_ + kExplodeWriteSize;
      valid_start = valid_start_;
    }
    refill();
    if (r.count >= 56) {
      // Up to five literals without a branch per symbol; the stores past the run are
      // overwritten later. Whatever ends the run short of five is a repetition.
      const uint64_t bits = r.bits;
      const uint32_t run_bits =
          static_cast<uint32_t>(__builtin_ctzll((bits & kLiteralFlags) | uint64_t{1} << 45));
      for (int i = 0; i < 5; ++i) out[i] = static_cast<uint8_t>(bits >> (9 * i + 1));
      out += run_bits / 9;
      consume(run_bits);
      if (run_bits == kLiteralRunBits) continue;
      if (r.count < kSafeBits) refill();
      if (r.count >= kSafeBits) {
        const Repetition rep = DecodeRepetition(r.bits, dictionary_bits);
        if (rep.value == kEndOfStreamValue) {
          result = kExplodeOk;
          break;
        }
        // The format gives no meaning to a distance before the first output byte.
        if (rep.distance > static_cast<size_t>(out - valid_start)) {
          result = kExplodeCorrupt;
          break;
        }
        CopyRepetition(out, rep.value + kMinMatch, rep.distance);
        out += rep.value + kMinMatch;
        consume(rep.bits);
        continue;
      }
    }
    // Near the end of the input: one code at a time, accepted only with the reference
    // decoder's 8 bits of look-ahead behind it (the end marker excepted).
    if ((r.bits & 1) == 0) {
      if (9 + 8 > r.count) {
        result = kExplodeCorrupt;
        break;
      }
      *out++ = static_cast<uint8_t>(r.bits >> 1);
      consume(9);
      continue;
    }
    const Repetition rep = DecodeRepetition(r.bits, dictionary_bits);
    if (rep.value == kEndOfStreamValue) {
      result = rep.length_bits <= r.count ? kExplodeOk : kExplodeCorrupt;
      break;
    }
    if (rep.bits + 8 > r.count || rep.distance > static_cast<size_t>(out - valid_start)) {
      result = kExplodeCorrupt;
      break;
    }
    CopyRepetition(out, rep.value + kMinMatch, rep.distance);
    out += rep.value + kMinMatch;
    consume(rep.bits);
  }
  // What the last code completed still goes out in whole blocks.
  while (out >= flush_at) {
    out = FlushFullBlock(out);
    flush_at = flushed_ + kExplodeWriteSize;
  }
  reader_ = r;
  out_ref = out;
  return result;
}

// Writes the next 4096 bytes; when the window is full, keeps the last 4096 bytes as history.
__attribute__((noinline)) uint8_t* Decoder::FlushFullBlock(uint8_t* out) {
  WriteBlock(flushed_, kExplodeWriteSize);
  flushed_ += kExplodeWriteSize;
  uint8_t* const window = work_->window;
  constexpr size_t kHistory = ExplodeWorkArea::kHistorySize;
  if (flushed_ < window + kHistory + ExplodeWorkArea::kSpanSize) return out;
  const size_t keep = static_cast<size_t>(out - (flushed_ - kHistory));
  std::memmove(window, flushed_ - kHistory, keep);
  flushed_ = window + kHistory;
  valid_start_ = window;
  return window + keep;
}

}  // namespace

uint32_t Explode(ExplodeReadFn read, ExplodeWriteFn write, ExplodeWorkArea* work, void* param) {
  return Decoder(read, write, work, param).Run();
}

}  // namespace floppyset
