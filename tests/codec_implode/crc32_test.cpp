// CRC-32 against zlib's crc32 for every length and alignment the folding code treats
// differently, and for a whole floppy image fed in arbitrary pieces.

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "codec/crc32.h"
#include "implode_corpus.h"

namespace floppyset::implode_testing {
namespace {

uint32_t Zlib(const uint8_t* data, size_t size) {
  return static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(size)));
}

uint32_t Ours(const uint8_t* data, size_t size) {
  return Crc32Update(data, size, 0xFFFFFFFF) ^ 0xFFFFFFFF;
}

TEST(Crc32, EmptyInput) {
  EXPECT_EQ(Ours(nullptr, 0), 0u);
  EXPECT_EQ(Crc32Update(nullptr, 0, 0x12345678), 0x12345678u);
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Ours(check, sizeof check), 0xCBF43926u);  // the CRC-32/ISO-HDLC check value
}

TEST(Crc32, MatchesZlibAtEveryLengthAndAlignment) {
  const Bytes data = RandomBytes(4096 + 64, 11);
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t size = 0; size <= 1100; size += (size < 300 ? 1 : 37)) {
      const uint8_t* p = data.data() + offset;
      ASSERT_EQ(Ours(p, size), Zlib(p, size)) << "offset " << offset << ", size " << size;
      ASSERT_EQ(Crc32UpdatePortable(p, size, 0xFFFFFFFF) ^ 0xFFFFFFFF, Zlib(p, size));
    }
  }
}

TEST(Crc32, PiecesGiveTheWholeCrc) {
  Bytes data = BinarySample(1474560);
  data.resize(1474560, 0xF6);
  const uint32_t whole = Zlib(data.data(), data.size());
  EXPECT_EQ(Ours(data.data(), data.size()), whole);
  std::mt19937 random(5);
  uint32_t crc = 0xFFFFFFFF;
  for (size_t position = 0; position < data.size();) {
    const size_t piece = std::min<size_t>(random() % 9000, data.size() - position);
    crc = Crc32Update(data.data() + position, piece, crc);
    position += piece;
  }
  EXPECT_EQ(crc ^ 0xFFFFFFFF, whole);
}

}  // namespace
}  // namespace floppyset::implode_testing
