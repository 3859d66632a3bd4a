// The implode encoder. Candidate matches come from hash chains (three-byte hashes for
// repetitions of three bytes or more, a table of two-byte pairs for the short ones, which the
// format allows only within 256 bytes). Because the format's codes are fixed, the exact cost of
// every choice is known, so the parse is chosen by a shortest-path pass, block by block so that
// its table stays in cache; long repetitions are taken at once, which keeps runs of zeros cheap
// to search.

#include "mkfloppyset/implode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "codec/explode_tables.h"

namespace floppyset {
namespace {

using namespace implode_format;

constexpr uint32_t kLiteralCost = 9;
constexpr uint32_t kShortMatchReach = 256;  // farthest a 2-byte repetition may point
constexpr uint32_t kNiceLength = 32;        // take a repetition this long without weighing it
constexpr int kMaxChainSteps = 16;
constexpr int kMaxHashBits = 15;
constexpr uint32_t kNoPosition = std::numeric_limits<uint32_t>::max();

// Length code of every length value 0 ... 517.
constexpr std::array<uint8_t, kEndOfStreamValue + 1> MakeLengthCodes() {
  std::array<uint8_t, kEndOfStreamValue + 1> codes{};
  int code = 0;
  for (uint32_t value = 0; value <= kEndOfStreamValue; ++value) {
    while (code + 1 < kLengthCodeCount && kLenBase[code + 1] <= value) ++code;
    codes[value] = static_cast<uint8_t>(code);
  }
  return codes;
}

constexpr auto kLengthCodes = MakeLengthCodes();

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
  void Put(uint32_t value, uint32_t bits) {
    pending_ |= uint64_t{value & ((1u << bits) - 1)} << count_;
    count_ += bits;
    while (count_ >= 8) {
      out_.push_back(static_cast<uint8_t>(pending_));
      pending_ >>= 8;
      count_ -= 8;
    }
  }
  void Finish() {
    if (count_ > 0) out_.push_back(static_cast<uint8_t>(pending_));
    pending_ = count_ = 0;
  }

 private:
  std::vector<uint8_t>& out_;
  uint64_t pending_ = 0;
  uint32_t count_ = 0;
};

struct Step {  // how the shortest path reaches a position
  uint32_t cost = std::numeric_limits<uint32_t>::max();
  uint16_t length = 0;  // 1 = literal
  uint16_t distance = 0;
};

// Bits of the length part of a repetition of each length (code and extra bits).
constexpr std::array<uint8_t, kMaxMatch + 1> MakeLengthBits() {
  std::array<uint8_t, kMaxMatch + 1> bits{};
  for (uint32_t length = kMinMatch; length <= kMaxMatch; ++length) {
    const uint32_t code = kLengthCodes[length - kMinMatch];
    bits[length] = static_cast<uint8_t>(1 + kLenBits[code] + kExLenBits[code]);
  }
  return bits;
}

constexpr auto kLengthBits = MakeLengthBits();

class Encoder {
 public:
  Encoder(const uint8_t* data, size_t size, unsigned dictionary_bits)
      : data_(data),
        size_(size),
        dictionary_bits_(dictionary_bits),
        dictionary_size_(64u << dictionary_bits),
        hash_bits_(HashBitsFor(size)),
        head3_(size_t{1} << hash_bits_, kNoPosition),
        head2_(size_t{1} << hash_bits_, kNoPosition),
        chain_(kChainSize, kNoPosition) {}

  std::vector<uint8_t> Encode();

 private:
  // The shortest path is found block by block, so its table stays small and in cache; a
  // repetition may still run past the end of a block.
  static constexpr size_t kBlockSize = 16384;
  // Chains only ever reach a dictionary back, so a ring of positions is enough.
  static constexpr size_t kChainSize = 8192;

  // Small inputs get small tables: the encoder runs for every member, big or small.
  static int HashBitsFor(size_t size) {
    int bits = 8;
    while (bits < kMaxHashBits && (size_t{1} << bits) < size) ++bits;
    return bits;
  }
  uint32_t Hash3(size_t i) const {
    const uint32_t v = data_[i] | data_[i + 1] << 8 | data_[i + 2] << 16;
    return (v * 2654435761u) >> (32 - hash_bits_);
  }
  uint32_t Hash2(size_t i) const {
    const uint32_t v = data_[i] | data_[i + 1] << 8;
    return (v * 2654435761u) >> (32 - hash_bits_);
  }
  void Insert(size_t i);
  uint32_t MatchLength(size_t at, size_t from, uint32_t limit) const;
  uint32_t DistanceBits(uint32_t length, uint32_t distance) const {
    const uint32_t low_bits = length == 2 ? 2 : dictionary_bits_;
    return kDistBits[(distance - 1) >> low_bits] + low_bits;
  }
  void Relax(size_t from, uint32_t length, uint32_t distance, uint32_t cost);
  size_t ParseBlock(size_t start, size_t target);
  void EmitBlock(BitWriter& writer, size_t start, size_t end);
  void PutMatch(BitWriter& writer, uint32_t length, uint32_t distance) const;

  const uint8_t* data_;
  size_t size_;
  unsigned dictionary_bits_;
  uint32_t dictionary_size_;
  int hash_bits_;
  std::vector<uint32_t> head3_;  // latest position of each three-byte hash
  std::vector<uint32_t> head2_;  // latest position of each byte-pair hash
  std::vector<uint32_t> chain_;  // previous position with the same three-byte hash, by position
  std::vector<Step> steps_;      // of the current block, from its start
  size_t block_ = 0;             // where the current block starts
  std::vector<size_t> path_;
};

void Encoder::Insert(size_t i) {
  if (i + 1 < size_) head2_[Hash2(i)] = static_cast<uint32_t>(i);
  if (i + 2 < size_) {
    const uint32_t h = Hash3(i);
    chain_[i & (kChainSize - 1)] = head3_[h];
    head3_[h] = static_cast<uint32_t>(i);
  }
}

uint32_t Encoder::MatchLength(size_t at, size_t from, uint32_t limit) const {
  uint32_t n = 0;
  while (n + 8 <= limit) {
    uint64_t a, b;
    std::memcpy(&a, data_ + at + n, 8);
    std::memcpy(&b, data_ + from + n, 8);
    if (a != b) return n + static_cast<uint32_t>(__builtin_ctzll(a ^ b) >> 3);
    n += 8;
  }
  while (n < limit && data_[at + n] == data_[from + n]) ++n;
  return n;
}

void Encoder::Relax(size_t from, uint32_t length, uint32_t distance, uint32_t cost) {
  Step& to = steps_[from + length - block_];
  if (cost < to.cost) to = {cost, static_cast<uint16_t>(length), static_cast<uint16_t>(distance)};
}

// Finds the cheapest way from `start` to a position at or past `target`; returns it.
size_t Encoder::ParseBlock(size_t start, size_t target) {
  block_ = start;
  const size_t span = std::min(target, size_) - start + kMaxMatch + 1;
  steps_.assign(span, Step{});
  steps_[0].cost = 0;
  size_t i = start;
  while (i < target) {
    const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, size_ - i));
    const uint32_t here = steps_[i - start].cost;
    Relax(i, 1, 0, here + kLiteralCost);

    // Two-byte repetitions, from the nearest earlier pair.
    if (limit >= 2) {
      const uint32_t pair_at = head2_[Hash2(i)];
      if (pair_at != kNoPosition && i - pair_at <= kShortMatchReach &&
          MatchLength(i, pair_at, 2) == 2) {
        const auto distance = static_cast<uint32_t>(i - pair_at);
        Relax(i, 2, distance, here + kLengthBits[2] + DistanceBits(2, distance));
      }
    }
    // Longer ones: each chain step that finds a longer match serves the lengths up to it.
    uint32_t best = 2;
    if (limit >= 3) {
      uint32_t candidate = head3_[Hash3(i)];
      for (int step = 0; step < kMaxChainSteps && candidate != kNoPosition; ++step) {
        const size_t distance = i - candidate;
        if (distance > dictionary_size_) break;
        if (data_[candidate + best] == data_[i + best]) {
          const uint32_t length = MatchLength(i, candidate, limit);
          if (length > best) {
            const uint32_t base = here + DistanceBits(3, static_cast<uint32_t>(distance));
            Step* to = &steps_[i - start];
            for (uint32_t l = std::max(best + 1, 3u); l <= length; ++l) {
              if (length >= kNiceLength && l + 8 < length) l = length;  // only the longest
              const uint32_t cost = base + kLengthBits[l];
              if (cost < to[l].cost) {
                to[l] = {cost, static_cast<uint16_t>(l), static_cast<uint16_t>(distance)};
              }
            }
            best = length;
            if (length == limit) break;
          }
        }
        candidate = chain_[candidate & (kChainSize - 1)];
      }
    }
    Insert(i);
    if (best >= kNiceLength) {
      // Commit to the long repetition: the positions it covers are only indexed.
      for (size_t j = i + 1; j < i + best; ++j) Insert(j);
      i += best;
    } else {
      ++i;
    }
  }
  return i;
}

void Encoder::PutMatch(BitWriter& writer, uint32_t length, uint32_t distance) const {
  const uint32_t value = length - kMinMatch;
  const uint32_t code = kLengthCodes[value];
  writer.Put(1, 1);
  writer.Put(kLenCode[code], kLenBits[code]);
  if (kExLenBits[code] != 0) writer.Put(value - kLenBase[code], kExLenBits[code]);
  if (value == kEndOfStreamValue) return;
  const uint32_t low_bits = length == 2 ? 2 : dictionary_bits_;
  const uint32_t position_code = (distance - 1) >> low_bits;
  writer.Put(kDistCode[position_code], kDistBits[position_code]);
  writer.Put(distance - 1, low_bits);
}

void Encoder::EmitBlock(BitWriter& writer, size_t start, size_t end) {
  path_.clear();  // offsets where a step ends, last first
  for (size_t at = end - start; at > 0; at -= steps_[at].length) path_.push_back(at);
  for (auto it = path_.rbegin(); it != path_.rend(); ++it) {
    const Step& step = steps_[*it];
    if (step.length == 1) {
      writer.Put(0, 1);
      writer.Put(data_[start + *it - 1], 8);
    } else {
      PutMatch(writer, step.length, step.distance);
    }
  }
}

std::vector<uint8_t> Encoder::Encode() {
  std::vector<uint8_t> out;
  out.reserve(size_ / 2 + 16);
  out.push_back(0);  // binary literal mode
  out.push_back(static_cast<uint8_t>(dictionary_bits_));
  BitWriter writer(out);
  for (size_t start = 0; start < size_;) {
    const size_t end = ParseBlock(start, std::min(size_, start + kBlockSize));
    EmitBlock(writer, start, end);
    start = end;
  }
  PutMatch(writer, kEndOfStreamValue + kMinMatch, 0);
  writer.Finish();
  // Decoders refuse a stream of 4 bytes or fewer (an empty input gives exactly 4): pad it.
  if (out.size() <= 4) out.push_back(0);
  return out;
}

}  // namespace

std::vector<uint8_t> Implode(const uint8_t* data, size_t size, unsigned dictionary_bits) {
  if (dictionary_bits < 4 || dictionary_bits > 6) dictionary_bits = 6;
  return Encoder(data, size, dictionary_bits).Encode();
}

}  // namespace floppyset
