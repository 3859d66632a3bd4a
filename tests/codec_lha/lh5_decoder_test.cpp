#include "codec/lh5_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "lha_samples.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using testing::ArchivedMember;

std::vector<uint8_t> DecodeInChunks(std::span<const uint8_t> packed, size_t size, size_t chunk) {
  Lh5Decoder decoder;
  decoder.Start(packed);
  std::vector<uint8_t> out;
  while (out.size() < size) {
    if (!decoder.Decode(std::min(chunk, size - out.size()))) break;
    out.insert(out.end(), decoder.output().begin(), decoder.output().end());
  }
  return out;
}

TEST(Lh5DecoderTest, CallSizesDoNotChangeTheOutput) {
  testing::TempDir dir;
  std::vector<testing::SampleFile> files = testing::MakeSampleFiles(dir.path());
  const std::vector<ArchivedMember> members =
      testing::ParseLevel0(testing::CompressWithJlha(dir.path(), files));
  ASSERT_EQ(members.size(), files.size());
  size_t compressed = 0;
  for (size_t i = 0; i < members.size(); ++i) {
    const ArchivedMember& m = members[i];
    if (m.method != "-lh5-") continue;
    ++compressed;
    for (const size_t chunk : {size_t{1}, size_t{7}, size_t{8192}, Lh5Decoder::kMaxChunk}) {
      if (chunk < 100 && m.original_size > 100000) continue;
      EXPECT_EQ(DecodeInChunks(m.packed, m.original_size, chunk), files[i].data)
          << m.name << " in chunks of " << chunk;
    }
  }
  EXPECT_GE(compressed, 5u);
}

// A hand-made block: the literal/length code has two one-bit words, '0' for the literal 'A'
// and '1' for a 256-byte match; the position code is one symbol of no bits, `slot`.
std::vector<uint8_t> TwoWordStream(unsigned slot, unsigned extra_bits, size_t literals,
                                   size_t matches) {
  testing::BitWriter bits;
  bits.Put(static_cast<uint32_t>(literals + matches), 16);
  // Pre-code: symbols 2 (a run of zero lengths) and 3 (length 1), one bit each.
  bits.Put(4, 5);
  bits.Put(0, 3);
  bits.Put(0, 3);
  bits.Put(1, 3);
  bits.Put(0, 2);  // no zeros skipped after the third length
  bits.Put(1, 3);
  bits.Put(510, 9);
  bits.Put(0, 1);  // 'A' (65) comes after 65 zero lengths
  bits.Put(65 - 20, 9);
  bits.Put(1, 1);
  bits.Put(0, 1);  // then 443 zero lengths up to symbol 509
  bits.Put(443 - 20, 9);
  bits.Put(1, 1);
  bits.Put(0, 4);  // position code: one symbol
  bits.Put(slot, 4);
  for (size_t i = 0; i < literals; ++i) bits.Put(0, 1);
  for (size_t i = 0; i < matches; ++i) {
    bits.Put(1, 1);
    if (slot > 1) bits.Put(extra_bits, slot - 1);
  }
  return bits.Finish();
}

TEST(Lh5DecoderTest, PositionsBeforeTheOutputReadZerosFromTheWindow) {
  // Slot 13 with all extra bits set reaches 8192 bytes back, far before the first byte.
  const std::vector<uint8_t> stream = TwoWordStream(13, 4095, 10, 2);
  // Made at its full size: growing a 10-byte vector trips GCC 12's -Warray-bounds at -O3.
  std::vector<uint8_t> expected(10 + 512, 0);
  std::fill_n(expected.begin(), 10, 'A');
  EXPECT_EQ(DecodeInChunks(stream, expected.size(), 8192), expected);
}

TEST(Lh5DecoderTest, RepetitionCrossingACallBoundaryIsFinishedInTheNextCall) {
  // 'A' then 40 matches of 256 at distance 1: 10241 bytes, matches crossing 8192.
  const std::vector<uint8_t> stream = TwoWordStream(0, 0, 1, 40);
  const std::vector<uint8_t> expected(1 + 40 * 256, 'A');
  EXPECT_EQ(DecodeInChunks(stream, expected.size(), 8192), expected);
  EXPECT_EQ(DecodeInChunks(stream, expected.size(), 100), expected);
}

TEST(Lh5DecoderTest, CorruptLengthsAreRefusedNotOverflowed) {
  std::vector<std::vector<uint8_t>> streams;
  testing::BitWriter too_many_precodes;  // 31 pre-code lengths for 19 symbols
  too_many_precodes.Put(5, 16);
  too_many_precodes.Put(31, 5);
  for (int i = 0; i < 31; ++i) too_many_precodes.Put(1, 3);
  streams.push_back(too_many_precodes.Finish());
  testing::BitWriter long_length;  // a pre-code length of 7 + 13 ones
  long_length.Put(5, 16);
  long_length.Put(3, 5);
  long_length.Put(0xFFFF, 16);
  streams.push_back(long_length.Finish());
  testing::BitWriter single_out_of_range;  // the one position symbol is 15 of 14
  single_out_of_range.Put(5, 16);
  single_out_of_range.Put(0, 5);
  single_out_of_range.Put(3, 5);
  single_out_of_range.Put(0, 9);
  single_out_of_range.Put(300, 9);
  single_out_of_range.Put(0, 4);
  single_out_of_range.Put(15, 4);
  streams.push_back(single_out_of_range.Finish());
  for (const auto& stream : streams) {
    Lh5Decoder decoder;
    decoder.Start(stream);
    EXPECT_FALSE(decoder.Decode(100));
    EXPECT_FALSE(decoder.Decode(100));
  }
}

TEST(Lh5DecoderTest, EndlessZeroBitsAreNoticed) {
  Lh5Decoder decoder;
  decoder.Start(std::span<const uint8_t>());
  // Zero bits make valid blocks of 65536 zero-bit symbols.
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(decoder.Decode(Lh5Decoder::kMaxChunk));
  EXPECT_TRUE(decoder.overran_input());
  const std::vector<uint8_t> stream = TwoWordStream(0, 0, 1, 40);
  decoder.Start(stream);
  ASSERT_TRUE(decoder.Decode(1 + 40 * 256));
  EXPECT_FALSE(decoder.overran_input());
}

}  // namespace
}  // namespace floppyset
