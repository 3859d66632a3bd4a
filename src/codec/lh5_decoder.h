// The LHA -lh5- decoder (LZSS over an 8192-byte dictionary, static Huffman codes per block),
// memory to memory: compressed bytes come from a span or a source, output is handed out in
// chunks whose last 8192 bytes serve as the dictionary of the next chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace floppyset {

// Hands the decoder its compressed input block by block.
class Lh5Source {
 public:
  virtual ~Lh5Source() = default;
  // The next block of compressed bytes; empty at the end of the input, after which the decoder
  // supplies zero bits (a short stream then fails its CRC check).
  virtual std::span<const uint8_t> NextBlock() = 0;
};

class Lh5Decoder {
 public:
  static constexpr size_t kDictionarySize = 8192;
  // The most bytes one Decode call produces.
  static constexpr size_t kMaxChunk = 64 * 1024;

  Lh5Decoder();
  ~Lh5Decoder();
  Lh5Decoder(const Lh5Decoder&) = delete;
  Lh5Decoder& operator=(const Lh5Decoder&) = delete;

  // Starts a member whose compressed bytes are all in `input` (which must outlive decoding).
  void Start(std::span<const uint8_t> input);
  // Starts a member whose compressed bytes come from `source`.
  void Start(Lh5Source& source);

  // Decodes the next `count` (<= kMaxChunk) bytes of output. False when the compressed data
  // is corrupt (code lengths that are no complete prefix code, counts out of range); the
  // member cannot be decoded further then.
  bool Decode(size_t count);
  // The bytes produced by the last Decode call; valid until the next call.
  std::span<const uint8_t> output() const;
  // Compressed bytes taken from the input so far (including a few bits read ahead).
  uint64_t consumed() const;
  // True once decoding has run well past the end of the input (more zero padding than a
  // complete stream can need): the stream is short and what follows is made up.
  bool overran_input() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace floppyset
