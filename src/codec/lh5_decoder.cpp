#include "codec/lh5_decoder.h"

namespace floppyset {

struct Lh5Decoder::State {};

Lh5Decoder::Lh5Decoder() : state_(std::make_unique<State>()) {}
Lh5Decoder::~Lh5Decoder() = default;
void Lh5Decoder::Start(std::span<const uint8_t>) {}
void Lh5Decoder::Start(Lh5Source&) {}
bool Lh5Decoder::Decode(size_t) {
  return false;
}
std::span<const uint8_t> Lh5Decoder::output() const {
  return {};
}
uint64_t Lh5Decoder::consumed() const {
  return 0;
}

}  // namespace floppyset
