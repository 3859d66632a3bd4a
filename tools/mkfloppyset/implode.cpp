#include "mkfloppyset/implode.h"

namespace floppyset {

std::vector<uint8_t> Implode(const uint8_t*, size_t, unsigned dictionary_bits) {
  // Placeholder until the encoder lands: an empty stream.
  return {0, static_cast<uint8_t>(dictionary_bits), 0x01, 0xFE, 0x01};
}

}  // namespace floppyset
