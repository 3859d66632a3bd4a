#include "codec/crc16.h"

#include <gtest/gtest.h>

#include "lha_samples.h"

namespace floppyset {
namespace {

TEST(Crc16Test, CheckValueOfTheArcVariant) {
  const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc16Update(text, sizeof text, 0), 0xBB3D);
  EXPECT_EQ(Crc16UpdatePortable(text, sizeof text, 0), 0xBB3D);
}

// Every kernel this CPU has, over lengths, alignments and starting values around the
// folding and interleaving thresholds and their tails.
TEST(Crc16Test, EveryKernelAgreesWithTheBitwiseDefinition) {
  const std::vector<uint8_t> data = testing::PseudoRandomBytes(70000, 5);
  for (const Crc16Kernel kernel :
       {Crc16Kernel::kPortable, Crc16Kernel::kClmul, Crc16Kernel::kWideClmul}) {
    if (!Crc16KernelAvailable(kernel)) continue;
    for (size_t offset = 0; offset < 16; offset += 5) {
      for (size_t size = 0; size < 1200; ++size) {
        const uint16_t start = static_cast<uint16_t>(size * 40503u);
        ASSERT_EQ(Crc16UpdateWith(kernel, data.data() + offset, size, start),
                  testing::ReferenceCrc16(data.data() + offset, size, start))
            << size;
      }
    }
    for (const size_t size : {16 * 1024 - 1, 16 * 1024 + 13, 65536 + 100, 69999}) {
      ASSERT_EQ(Crc16UpdateWith(kernel, data.data() + 1, size, 0x5A5A),
                testing::ReferenceCrc16(data.data() + 1, size, 0x5A5A))
          << size;
    }
  }
  const uint16_t whole = testing::ReferenceCrc16(data.data(), data.size());
  EXPECT_EQ(Crc16Update(data.data(), data.size(), 0), whole);
  EXPECT_EQ(Crc16UpdatePortable(data.data(), data.size(), 0), whole);
  // Chained over uneven pieces.
  uint16_t crc = 0;
  for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 % 4099 + 1) {
    crc = Crc16Update(data.data() + at, std::min(piece, data.size() - at), crc);
  }
  EXPECT_EQ(crc, whole);
  const std::vector<uint8_t> zeros(100000, 0);
  EXPECT_EQ(Crc16Update(zeros.data(), zeros.size(), 0x1234),
            testing::ReferenceCrc16(zeros.data(), zeros.size(), 0x1234));
}

}  // namespace
}  // namespace floppyset
