// Runs floppyset::Explode over an in-memory stream and records how it used the callbacks.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/explode.h"
#include "implode_corpus.h"

namespace floppyset::implode_testing {

struct ExplodeRun {
  uint32_t result = 0;
  Bytes output;
  std::vector<uint32_t> write_sizes;
  std::vector<uint32_t> read_capacities;
  int reads_after_end = 0;  // reads after one already returned 0
};

struct ExplodeFeed {
  const Bytes* stream;
  size_t position = 0;
  size_t max_read = kExplodeReadSize;  // later reads serve fewer bytes, to vary block edges
  bool ended = false;
  ExplodeRun* run;
};

inline uint32_t FeedRead(uint8_t* buffer, uint32_t* size, void* param) {
  auto* feed = static_cast<ExplodeFeed*>(param);
  feed->run->read_capacities.push_back(*size);
  if (feed->ended) ++feed->run->reads_after_end;
  const size_t limit = feed->position == 0 ? size_t{*size} : feed->max_read;
  const size_t n = std::min({size_t{*size}, limit, feed->stream->size() - feed->position});
  if (n > 0) std::memcpy(buffer, feed->stream->data() + feed->position, n);
  feed->position += n;
  if (n == 0) feed->ended = true;
  return static_cast<uint32_t>(n);
}

inline void FeedWrite(uint8_t* buffer, uint32_t* size, void* param) {
  auto* run = static_cast<ExplodeFeed*>(param)->run;
  run->write_sizes.push_back(*size);
  run->output.insert(run->output.end(), buffer, buffer + *size);
}

inline ExplodeRun RunExplode(const Bytes& stream, size_t max_read = kExplodeReadSize,
                             ExplodeWorkArea* work = nullptr) {
  ExplodeRun run;
  ExplodeFeed feed{&stream, 0, max_read, false, &run};
  std::unique_ptr<ExplodeWorkArea> owned;
  if (work == nullptr) {
    owned = std::make_unique<ExplodeWorkArea>();
    work = owned.get();
  }
  run.result = Explode(FeedRead, FeedWrite, work, &feed);
  return run;
}

}  // namespace floppyset::implode_testing
