// Arbitrary bytes as a -lh5- stream, decoded memory to memory in chunks of varying size, up to
// 32 KB (four windows: enough for matches across chunk and block ends, and cheap enough for
// millions of inputs). Every CRC-16 kernel the CPU has must agree with the portable one on
// the output.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/crc16.h"
#include "codec/lh5_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the chunk size, so that matches cross chunk ends in many ways.
  const size_t chunk = 1 + data[0] * 97 % floppyset::Lh5Decoder::kMaxChunk;
  static floppyset::Lh5Decoder decoder;
  decoder.Start({data + 1, size - 1});
  static std::vector<uint8_t> output;
  output.clear();
  for (size_t total = 0; total < 32 * 1024 && !decoder.overran_input(); total += chunk) {
    if (!decoder.Decode(chunk)) break;
    output.insert(output.end(), decoder.output().begin(), decoder.output().end());
  }
  using floppyset::Crc16Kernel;
  const uint16_t portable = floppyset::Crc16UpdatePortable(output.data(), output.size(), 0);
  for (const Crc16Kernel kernel : {Crc16Kernel::kClmul, Crc16Kernel::kWideClmul}) {
    if (floppyset::Crc16KernelAvailable(kernel) &&
        floppyset::Crc16UpdateWith(kernel, output.data(), output.size(), 0) != portable) {
      std::abort();
    }
  }
  return 0;
}
