// Hand-made implode streams for edge cases that encoders do not produce on their own.
#pragma once

#include "codec/explode_tables.h"
#include "implode_corpus.h"

namespace floppyset::implode_testing {

class StreamBuilder {
 public:
  explicit StreamBuilder(unsigned dictionary_bits = 6, uint8_t literal_mode = 0)
      : dictionary_bits_(dictionary_bits), bytes_{literal_mode, uint8_t(dictionary_bits)} {}

  StreamBuilder& Literal(uint8_t byte) {
    Put(0, 1);
    Put(byte, 8);
    return *this;
  }
  StreamBuilder& Repeat(unsigned length, unsigned distance) {
    using namespace implode_format;
    const unsigned value = length - 2;
    int code = kLengthCodeCount - 1;
    while (kLenBase[code] > value) --code;
    Put(1, 1);
    Put(kLenCode[code], kLenBits[code]);
    Put(value - kLenBase[code], kExLenBits[code]);
    const unsigned low_bits = length == 2 ? 2 : dictionary_bits_;
    const unsigned d = distance - 1;
    Put(kDistCode[d >> low_bits], kDistBits[d >> low_bits]);
    Put(d & ((1u << low_bits) - 1), low_bits);
    return *this;
  }
  StreamBuilder& End() {
    Put(1, 1);
    Put(0, 7);  // length code 15
    Put(0xFF, 8);
    return *this;
  }
  unsigned BitCount() const { return static_cast<unsigned>(bytes_.size() - 2) * 8 + count_; }
  Bytes Finish() {
    Bytes out = bytes_;
    if (count_ > 0) out.push_back(static_cast<uint8_t>(pending_));
    return out;
  }

 private:
  void Put(unsigned value, unsigned bits) {
    for (unsigned i = 0; i < bits; ++i) {
      pending_ |= ((value >> i) & 1u) << count_;
      if (++count_ == 8) {
        bytes_.push_back(static_cast<uint8_t>(pending_));
        pending_ = count_ = 0;
      }
    }
  }

  unsigned dictionary_bits_;
  Bytes bytes_;
  unsigned pending_ = 0;
  unsigned count_ = 0;
};

}  // namespace floppyset::implode_testing
