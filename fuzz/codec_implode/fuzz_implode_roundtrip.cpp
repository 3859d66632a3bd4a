// Implode then Explode must give the input back, for every dictionary size.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/explode.h"
#include "mkfloppyset/implode.h"

namespace {

struct RoundTrip {
  const std::vector<uint8_t>* stream;
  size_t position = 0;
  std::vector<uint8_t> output;
};

uint32_t Read(uint8_t* buffer, uint32_t* size, void* param) {
  auto* trip = static_cast<RoundTrip*>(param);
  const size_t n = std::min<size_t>(*size, trip->stream->size() - trip->position);
  if (n > 0) std::memcpy(buffer, trip->stream->data() + trip->position, n);
  trip->position += n;
  return static_cast<uint32_t>(n);
}

void Write(uint8_t* buffer, uint32_t* size, void* param) {
  auto& output = static_cast<RoundTrip*>(param)->output;
  output.insert(output.end(), buffer, buffer + *size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* work = new floppyset::ExplodeWorkArea;
  for (unsigned bits = 4; bits <= 6; ++bits) {
    const std::vector<uint8_t> stream = floppyset::Implode(data, size, bits);
    RoundTrip trip{&stream, 0, {}};
    if (floppyset::Explode(Read, Write, work, &trip) != floppyset::kExplodeOk) std::abort();
    if (trip.output.size() != size ||
        (size != 0 && std::memcmp(trip.output.data(), data, size) != 0)) {
      std::abort();
    }
  }
  return 0;
}
