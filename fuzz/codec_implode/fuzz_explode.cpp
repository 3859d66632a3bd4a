// Arbitrary bytes through Explode in 2048-byte reads: it must end with a result of 0 to 4,
// never read after the input ran out, and write only whole 4096-byte blocks and one final
// shorter block. The same bytes imploded (at the dictionary size their length picks) must
// explode back to them, and both CRC-32 forms must agree on them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/crc32.h"
#include "codec/explode.h"
#include "mkfloppyset/implode.h"

namespace {

using namespace floppyset;

struct Feed {
  const uint8_t* data;
  size_t size, position = 0;
  bool ended = false, final_write_seen = false;
  std::vector<uint8_t> output = {};
};

uint32_t Read(uint8_t* buffer, uint32_t* n, void* self) {
  auto* feed = static_cast<Feed*>(self);
  if (*n != kExplodeReadSize || feed->ended) std::abort();
  const size_t count = std::min<size_t>(*n, feed->size - feed->position);
  if (count > 0) std::memcpy(buffer, feed->data + feed->position, count);
  feed->position += count;
  feed->ended = count == 0;
  return static_cast<uint32_t>(count);
}

void Write(uint8_t* buffer, uint32_t* n, void* self) {
  auto* feed = static_cast<Feed*>(self);
  if (feed->final_write_seen || *n > kExplodeWriteSize) std::abort();
  feed->final_write_seen = *n < kExplodeWriteSize;
  feed->output.insert(feed->output.end(), buffer, buffer + *n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* work = new ExplodeWorkArea;
  Feed feed{data, size};
  const uint32_t result = Explode(Read, Write, work, &feed);
  // Exactly one final short write, and output bounded by the input (every code takes 9 bits).
  if (result > kExplodeCorrupt ||
      (result == kExplodeOk || result == kExplodeCorrupt) != feed.final_write_seen ||
      feed.output.size() > size * 8 / 9 * 518 + 518) {
    std::abort();
  }
  const std::vector<uint8_t> stream = Implode(data, size, 4 + size % 3);
  Feed trip{stream.data(), stream.size()};
  if (Explode(Read, Write, work, &trip) != kExplodeOk ||
      trip.output != std::vector<uint8_t>(data, data + size)) {
    std::abort();
  }
  if (Crc32Update(data, size, ~0u) != Crc32UpdatePortable(data, size, ~0u)) std::abort();
  return 0;
}
