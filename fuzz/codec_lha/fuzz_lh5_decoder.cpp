// Arbitrary bytes as a -lh5- stream, decoded memory to memory in chunks of varying size.
#include <cstddef>
#include <cstdint>

#include "codec/crc16.h"
#include "codec/lh5_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the chunk size, so that matches cross chunk ends in many ways.
  const size_t chunk = 1 + data[0] * 97 % floppyset::Lh5Decoder::kMaxChunk;
  static floppyset::Lh5Decoder decoder;
  decoder.Start({data + 1, size - 1});
  uint16_t crc = 0;
  for (size_t total = 0; total < 256 * 1024 && !decoder.overran_input(); total += chunk) {
    if (!decoder.Decode(chunk)) break;
    crc = floppyset::Crc16Update(decoder.output().data(), decoder.output().size(), crc);
  }
  return crc == 0x1234 ? 0 : 0;
}
