#include "codec/lh5_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace floppyset {
namespace {

// The format's published constants.
constexpr unsigned kLiteralSymbols = 510;  // 256 bytes, then match lengths 3..256
constexpr unsigned kPreCodeSymbols = 19;
constexpr unsigned kPositionSymbols = 14;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxCodeLength = 16;

// Bytes written past the requested end by word-wise match copies.
constexpr size_t kCopySlack = 16;

uint64_t LoadBig64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// Most significant bit first. After Refill at least 56 bits are available; once the input is
// used up, zero bits follow for ever.
class BitReader {
 public:
  void Start(std::span<const uint8_t> first, Lh5Source* source) {
    source_ = source;
    consumed_before_block_ = 0;
    padding_bits_ = 0;
    SetBlock(first);
    bits_ = 0;
    count_ = 0;
  }

  bool CanRefillQuickly() const { return in_end_ - in_ >= 8; }

  // Needs CanRefillQuickly().
  void RefillQuickly() {
    // The bits below count_ that this ORs in are the stream's next bits, so ORing them again
    // later changes nothing.
    bits_ |= LoadBig64(in_) >> count_;
    in_ += (63 - count_) >> 3;
    count_ |= 56;
  }

  void Refill() {
    if (CanRefillQuickly()) {
      RefillQuickly();
    } else {
      RefillSlowly();
    }
  }

  // n in 1..32; needs n bits available.
  uint32_t Peek(unsigned n) const { return static_cast<uint32_t>(bits_ >> (64 - n)); }
  void Skip(unsigned n) {
    bits_ <<= n;
    count_ -= n;
  }
  uint32_t Take(unsigned n) {
    const uint32_t v = Peek(n);
    Skip(n);
    return v;
  }
  // Refills first; for the block headers.
  uint32_t Get(unsigned n) {
    Refill();
    return Take(n);
  }
  uint64_t bits() const { return bits_; }

  uint64_t consumed() const { return consumed_before_block_ + (in_ - block_begin_); }
  // A complete stream ends at most a byte before the end of its input, and refills read at
  // most 64 bits ahead, so it never needs more than 71 padding bits.
  bool overran() const { return padding_bits_ > 128; }

  void RefillSlowly();

 private:
  void SetBlock(std::span<const uint8_t> block) {
    block_begin_ = in_ = block.data();
    in_end_ = block.data() + block.size();
  }

  bool NextBlock() {
    consumed_before_block_ += in_end_ - block_begin_;
    SetBlock({});
    if (source_ == nullptr) return false;
    const std::span<const uint8_t> block = source_->NextBlock();
    if (block.empty()) {
      source_ = nullptr;
      return false;
    }
    SetBlock(block);
    return true;
  }

  uint64_t bits_ = 0;
  unsigned count_ = 0;
  const uint8_t* in_ = nullptr;
  const uint8_t* in_end_ = nullptr;
  const uint8_t* block_begin_ = nullptr;
  uint64_t consumed_before_block_ = 0;
  uint64_t padding_bits_ = 0;
  Lh5Source* source_ = nullptr;
};

void BitReader::RefillSlowly() {
  if (count_ >= 57) return;
  bits_ = count_ == 0 ? 0 : bits_ & (~uint64_t{0} << (64 - count_));
  while (count_ <= 56) {
    if (in_ == in_end_ && !NextBlock()) {
      padding_bits_ += 64 - count_;  // zero bits from here on
      count_ = 64;
      return;
    }
    bits_ |= static_cast<uint64_t>(*in_++) << (56 - count_);
    count_ += 8;
  }
}

// A canonical prefix code: codes up to kBits long resolve with one lookup, longer ones by
// comparing against the first code of each length.
template <unsigned kSymbols, unsigned kBits>
class HuffmanTable {
 public:
  // False unless the lengths (each 0..16) form a complete prefix code.
  bool Build(const uint8_t* lengths) {
    std::array<uint32_t, kMaxCodeLength + 1> count{};
    for (unsigned s = 0; s < kSymbols; ++s) ++count[lengths[s]];
    count[0] = 0;
    uint32_t space = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) space += count[len] << (16 - len);
    if (space != (1u << 16)) return false;

    std::array<uint32_t, kMaxCodeLength + 1> next_code{};
    uint32_t code = 0;
    uint32_t index = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
      code = (code + count[len - 1]) << 1;
      next_code[len] = first_code_[len] = code;
      first_index_[len] = static_cast<uint16_t>(index);
      count_[len] = static_cast<uint16_t>(count[len]);
      if (len > kBits) index += count[len];
    }
    for (unsigned s = 0; s < kSymbols; ++s) {
      const unsigned len = lengths[s];
      if (len == 0) continue;
      const uint32_t c = next_code[len]++;
      if (len <= kBits) {
        const uint16_t entry = static_cast<uint16_t>(s << 5 | len);
        const uint32_t first = c << (kBits - len);
        std::fill_n(entries_.begin() + first, 1u << (kBits - len), entry);
      } else {
        entries_[c >> (len - kBits)] = kLongCode;
        long_symbols_[first_index_[len] + c - first_code_[len]] = static_cast<uint16_t>(s);
      }
    }
    return true;
  }

  // Every code word is the one symbol, zero bits long.
  void BuildSingle(unsigned symbol) { entries_.fill(static_cast<uint16_t>(symbol << 5)); }

  // The symbol (entry >> 5) and code length (entry & 31) of the code word at the top of
  // `bits`.
  uint32_t Lookup(uint64_t bits) const {
    const uint16_t entry = entries_[bits >> (64 - kBits)];
    if ((entry & 31) != kLongCode) [[likely]]
      return entry;
    return LookupLong(static_cast<uint32_t>(bits >> (64 - kMaxCodeLength)));
  }

  // Needs 16 bits available.
  unsigned Decode(BitReader& in) const {
    const uint32_t entry = Lookup(in.bits());
    in.Skip(entry & 31);
    return entry >> 5;
  }

 private:
  static constexpr uint16_t kLongCode = 31;

  uint32_t LookupLong(uint32_t peek) const {
    for (unsigned len = kBits + 1;; ++len) {
      const uint32_t offset = (peek >> (kMaxCodeLength - len)) - first_code_[len];
      if (offset < count_[len]) return long_symbols_[first_index_[len] + offset] << 5 | len;
    }
  }

  std::array<uint16_t, 1u << kBits> entries_{};
  std::array<uint32_t, kMaxCodeLength + 1> first_code_{};
  std::array<uint16_t, kMaxCodeLength + 1> first_index_{};
  std::array<uint16_t, kMaxCodeLength + 1> count_{};
  std::array<uint16_t, kSymbols> long_symbols_{};
};

}  // namespace

struct Lh5Decoder::State {
  BitReader in;
  HuffmanTable<kPreCodeSymbols, 8> pre_code;
  HuffmanTable<kLiteralSymbols, 12> literal;
  HuffmanTable<kPositionSymbols, 10> position;
  uint32_t symbols_left = 0;
  bool corrupt = false;

  // The dictionary (the 8192 bytes before out), then room for one chunk and the copy slack.
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kDictionarySize + kMaxChunk + kCopySlack);
  uint8_t* out = nullptr;
  uint8_t* chunk = nullptr;
  // A match cut off by the end of the previous chunk.
  unsigned pending_length = 0;
  unsigned pending_distance = 0;

  void Start(std::span<const uint8_t> first, Lh5Source* source) {
    in.Start(first, source);
    symbols_left = 0;
    corrupt = false;
    std::fill_n(buffer.begin(), kDictionarySize, 0);
    out = chunk = buffer.data() + kDictionarySize;
    pending_length = 0;
  }

  bool ReadBlockHeader();
  template <unsigned kSymbols, unsigned kBits>
  bool ReadShortLengths(HuffmanTable<kSymbols, kBits>& table, unsigned width, int special);
  bool ReadLiteralLengths();
  uint8_t* DecodeSymbols(uint8_t* dst, uint8_t* end);
  bool Decode(size_t count);
};

// Pre-code and position code lengths: 3-bit values, 7 extended by a run of 1 bits.
template <unsigned kSymbols, unsigned kBits>
bool Lh5Decoder::State::ReadShortLengths(HuffmanTable<kSymbols, kBits>& table, unsigned width,
                                         int special) {
  const unsigned n = in.Get(width);
  if (n == 0) {
    const unsigned symbol = in.Get(width);
    if (symbol >= kSymbols) return false;
    table.BuildSingle(symbol);
    return true;
  }
  if (n > kSymbols) return false;
  std::array<uint8_t, kSymbols> lengths{};
  unsigned i = 0;
  while (i < n) {
    in.Refill();
    unsigned len = in.Take(3);
    if (len == 7) {
      const unsigned ones = static_cast<unsigned>(std::countl_one(in.bits()));
      if (ones > kMaxCodeLength - 7) return false;
      len += ones;
      in.Skip(ones + 1);
    }
    lengths[i++] = static_cast<uint8_t>(len);
    if (static_cast<int>(i) == special) {
      const unsigned zeros = in.Get(2);
      if (i + zeros > kSymbols) return false;
      i += zeros;  // lengths are already 0
    }
  }
  return table.Build(lengths.data());
}

bool Lh5Decoder::State::ReadLiteralLengths() {
  const unsigned n = in.Get(9);
  if (n == 0) {
    const unsigned symbol = in.Get(9);
    if (symbol >= kLiteralSymbols) return false;
    literal.BuildSingle(symbol);
    return true;
  }
  if (n > kLiteralSymbols) return false;
  std::array<uint8_t, kLiteralSymbols> lengths{};
  unsigned i = 0;
  while (i < n) {
    in.Refill();
    const unsigned c = pre_code.Decode(in);
    if (c <= 2) {
      const unsigned zeros = c == 0 ? 1 : c == 1 ? in.Take(4) + 3 : in.Take(9) + 20;
      if (i + zeros > kLiteralSymbols) return false;
      i += zeros;
    } else {
      lengths[i++] = static_cast<uint8_t>(c - 2);
    }
  }
  return literal.Build(lengths.data());
}

bool Lh5Decoder::State::ReadBlockHeader() {
  const uint32_t size = in.Get(16);
  symbols_left = size == 0 ? 65536 : size;  // the count is kept in 16 bits
  return ReadShortLengths(pre_code, 5, 3) && ReadLiteralLengths() &&
         ReadShortLengths(position, 4, -1);
}

namespace {

// Copies a match of n bytes from `distance` back; returns the new output position. Writes
// up to 15 bytes past it.
inline uint8_t* CopyMatch(uint8_t* dst, size_t n, unsigned distance) {
  const uint8_t* src = dst - distance;
  uint8_t* const stop = dst + n;
  if (distance >= 16) {
    // Whole blocks; each source block lies completely behind its destination.
    do {
      std::memcpy(dst, src, 16);
      dst += 16;
      src += 16;
    } while (dst < stop);
  } else if (distance >= 8) {
    do {
      std::memcpy(dst, src, 8);
      dst += 8;
      src += 8;
    } while (dst < stop);
  } else if (distance == 1) {
    std::memset(dst, *src, n);
  } else {
    while (dst < stop) *dst++ = *src++;
  }
  return stop;
}

}  // namespace

// Decodes symbols until the block or the output chunk ends; a match cut off by the end stays
// pending. The bit reader is worked on as a local copy, which the compiler can keep in
// registers since no output store can reach it.
uint8_t* Lh5Decoder::State::DecodeSymbols(uint8_t* dst, uint8_t* const end) {
  BitReader bits = in;
  uint32_t left = symbols_left;
  while (left != 0 && dst < end) {
    --left;
    if (bits.CanRefillQuickly()) [[likely]] {
      bits.RefillQuickly();
    } else {
      in = bits;
      in.RefillSlowly();
      bits = in;
    }
    const uint32_t entry = literal.Lookup(bits.bits());
    bits.Skip(entry & 31);
    const unsigned symbol = entry >> 5;
    if (symbol < 256) {
      *dst++ = static_cast<uint8_t>(symbol);
      continue;
    }
    const unsigned slot = position.Decode(bits);
    const unsigned distance = 1 + (slot <= 1 ? slot : (1u << (slot - 1)) + bits.Take(slot - 1));
    const size_t length = symbol - 256 + kMinMatch;
    const size_t room = static_cast<size_t>(end - dst);
    if (length > room) [[unlikely]] {
      pending_length = static_cast<unsigned>(length - room);
      pending_distance = distance;
      dst = CopyMatch(dst, room, distance);
      break;
    }
    dst = CopyMatch(dst, length, distance);
  }
  in = bits;
  symbols_left = left;
  return dst;
}

bool Lh5Decoder::State::Decode(size_t count) {
  if (corrupt || count > kMaxChunk) return false;
  if (out + count > buffer.data() + kDictionarySize + kMaxChunk) {
    std::memmove(buffer.data(), out - kDictionarySize, kDictionarySize);
    out = buffer.data() + kDictionarySize;
  }
  chunk = out;
  uint8_t* const end = out + count;
  uint8_t* dst = out;
  if (pending_length != 0 && count != 0) {
    const size_t n = std::min<size_t>(pending_length, count);
    dst = CopyMatch(dst, n, pending_distance);
    pending_length -= static_cast<unsigned>(n);
  }
  while (dst < end) {
    if (symbols_left == 0 && !ReadBlockHeader()) {
      corrupt = true;
      out = dst;
      return false;
    }
    dst = DecodeSymbols(dst, end);
  }
  out = dst;
  return true;
}

Lh5Decoder::Lh5Decoder() : state_(std::make_unique<State>()) {}
Lh5Decoder::~Lh5Decoder() = default;

void Lh5Decoder::Start(std::span<const uint8_t> input) {
  state_->Start(input, nullptr);
}

void Lh5Decoder::Start(Lh5Source& source) {
  state_->Start({}, &source);
}

bool Lh5Decoder::Decode(size_t count) {
  return state_->Decode(count);
}

std::span<const uint8_t> Lh5Decoder::output() const {
  return {state_->chunk, static_cast<size_t>(state_->out - state_->chunk)};
}

uint64_t Lh5Decoder::consumed() const {
  return state_->in.consumed();
}

bool Lh5Decoder::overran_input() const {
  return state_->in.overran();
}

}  // namespace floppyset
