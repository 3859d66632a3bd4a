// CRC-16 kernels against the bitwise definition; the -lh5- decoder on jlha's streams in calls
// of every size, and on hand-made blocks that no encoder writes.
#include "codec/lh5_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "codec/crc16.h"
#include "implode_corpus.h"
#include "lha_samples.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using testing::ReferenceCrc16;

// Every kernel this CPU has, over lengths, alignments and starting values around the
// folding and interleaving thresholds, and chained over uneven pieces.
TEST(Crc16Test, EveryKernelAgreesWithTheBitwiseDefinition) {
  const std::vector<uint8_t> data = implode_testing::RandomBytes(70000, 5);
  for (const Crc16Kernel kernel :
       {Crc16Kernel::kPortable, Crc16Kernel::kClmul, Crc16Kernel::kWideClmul}) {
    if (!Crc16KernelAvailable(kernel)) continue;
    for (size_t offset = 0; offset < 16; offset += 5) {
      for (size_t size = 0; size < 1200; ++size) {
        const uint16_t start = static_cast<uint16_t>(size * 40503u);
        ASSERT_EQ(Crc16UpdateWith(kernel, data.data() + offset, size, start),
                  ReferenceCrc16(data.data() + offset, size, start))
            << size;
      }
    }
    for (const size_t size : {16 * 1024 - 1, 16 * 1024 + 13, 65536 + 100, 69999}) {
      ASSERT_EQ(Crc16UpdateWith(kernel, data.data() + 1, size, 0x5A5A),
                ReferenceCrc16(data.data() + 1, size, 0x5A5A))
          << size;
    }
  }
  uint16_t crc = 0;
  for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 % 4099 + 1) {
    crc = Crc16Update(data.data() + at, std::min(piece, data.size() - at), crc);
  }
  EXPECT_EQ(crc, ReferenceCrc16(data.data(), data.size()));
}

std::vector<uint8_t> DecodeInChunks(std::span<const uint8_t> packed, size_t size, size_t chunk) {
  Lh5Decoder decoder;
  decoder.Start(packed);
  std::vector<uint8_t> out;
  while (out.size() < size && decoder.Decode(std::min(chunk, size - out.size()))) {
    out.insert(out.end(), decoder.output().begin(), decoder.output().end());
  }
  return out;
}

TEST(Lh5DecoderTest, CallSizesDoNotChangeTheOutput) {
  testing::TempDir dir;
  const std::vector<testing::SampleFile> files = testing::MakeSampleFiles(dir.path());
  const auto members = testing::ParseLevel0(testing::CompressWithJlha(dir.path(), files));
  ASSERT_EQ(members.size(), files.size());
  size_t compressed = 0;
  for (size_t i = 0; i < members.size(); ++i) {
    if (members[i].method != "-lh5-") continue;
    ++compressed;
    for (const size_t chunk : {size_t{1}, size_t{7}, size_t{8192}, Lh5Decoder::kMaxChunk}) {
      if (chunk < 100 && members[i].original_size > 100000) continue;
      EXPECT_EQ(DecodeInChunks(members[i].packed, members[i].original_size, chunk), files[i].data)
          << members[i].name << " in chunks of " << chunk;
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
  for (const auto& [value, width] : {std::pair{4u, 5u}, {0, 3}, {0, 3}, {1, 3}, {0, 2}, {1, 3}}) {
    bits.Put(value, width);  // ... no zeros skipped after the third length
  }
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
  // Made at its full size: growing a 10-byte vector trips GCC 12's -Warray-bounds at -O3.
  std::vector<uint8_t> expected(10 + 512, 0);
  std::fill_n(expected.begin(), 10, 'A');
  EXPECT_EQ(DecodeInChunks(TwoWordStream(13, 4095, 10, 2), expected.size(), 8192), expected);
}

TEST(Lh5DecoderTest, CorruptLengthsAndEndlessInputAreRefused) {
  std::vector<testing::BitWriter> streams(3);
  streams[0].Put(5, 16);  // 31 pre-code lengths for 19 symbols
  streams[0].Put(31, 5);
  for (int i = 0; i < 31; ++i) streams[0].Put(1, 3);
  streams[1].Put(5, 16);  // a pre-code length of 7 + 13 ones
  streams[1].Put(3, 5);
  streams[1].Put(0xFFFF, 16);
  for (const auto& [value, width] :  // the one position symbol is 15 of 14
       {std::pair{5u, 16u}, {0, 5}, {3, 5}, {0, 9}, {300, 9}, {0, 4}, {15, 4}}) {
    streams[2].Put(value, width);
  }
  for (const auto& stream : streams) {
    Lh5Decoder decoder;
    decoder.Start(stream.Finish());
    EXPECT_FALSE(decoder.Decode(100));
    EXPECT_FALSE(decoder.Decode(100));
  }
  // Zero bits make valid blocks of 65536 zero-bit symbols: the overrun must be noticed.
  Lh5Decoder decoder;
  decoder.Start(std::span<const uint8_t>());
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(decoder.Decode(Lh5Decoder::kMaxChunk));
  EXPECT_TRUE(decoder.overran_input());
  const std::vector<uint8_t> stream = TwoWordStream(0, 0, 1, 40);
  decoder.Start(stream);
  ASSERT_TRUE(decoder.Decode(1 + 40 * 256));
  EXPECT_FALSE(decoder.overran_input());
}

}  // namespace
}  // namespace floppyset
