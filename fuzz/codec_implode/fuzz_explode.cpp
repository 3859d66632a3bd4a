// Arbitrary bytes through Explode, served in 2048-byte reads: it must end with a result of 0 to
// 4, never read after the input ran out, and write only whole 4096-byte blocks and one final
// shorter block. The same bytes imploded at every dictionary size must explode back to them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/explode.h"
#include "mkfloppyset/implode.h"

namespace {

struct Feed {
  const uint8_t* data;
  size_t size;
  size_t position = 0;
  bool ended = false, final_write_seen = false;
  std::vector<uint8_t> output;
};

uint32_t Read(uint8_t* buffer, uint32_t* size, void* param) {
  auto* feed = static_cast<Feed*>(param);
  if (*size != floppyset::kExplodeReadSize || feed->ended) std::abort();
  const size_t n = std::min<size_t>(*size, feed->size - feed->position);
  if (n > 0) std::memcpy(buffer, feed->data + feed->position, n);
  feed->position += n;
  feed->ended = n == 0;
  return static_cast<uint32_t>(n);
}

void Write(uint8_t* buffer, uint32_t* size, void* param) {
  auto* feed = static_cast<Feed*>(param);
  if (feed->final_write_seen || *size > floppyset::kExplodeWriteSize) std::abort();
  feed->final_write_seen = *size < floppyset::kExplodeWriteSize;
  feed->output.insert(feed->output.end(), buffer, buffer + *size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* work = new floppyset::ExplodeWorkArea;
  Feed feed{data, size, 0, false, false, {}};
  const uint32_t result = floppyset::Explode(Read, Write, work, &feed);
  if (result > floppyset::kExplodeCorrupt) std::abort();
  const bool wrote = result == floppyset::kExplodeOk || result == floppyset::kExplodeCorrupt;
  if (wrote != feed.final_write_seen) std::abort();  // exactly one final short write
  // Every code takes at least 9 bits, so output is bounded by the input.
  if (feed.output.size() > size * 8 / 9 * 518 + 518) std::abort();

  for (unsigned bits = 4; bits <= 6; ++bits) {
    const std::vector<uint8_t> stream = floppyset::Implode(data, size, bits);
    Feed trip{stream.data(), stream.size(), 0, false, false, {}};
    if (floppyset::Explode(Read, Write, work, &trip) != floppyset::kExplodeOk ||
        trip.output.size() != size || (size && std::memcmp(trip.output.data(), data, size))) {
      std::abort();
    }
  }
  return 0;
}
