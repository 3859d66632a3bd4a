#include "package/integrity.h"

#include <gtest/gtest.h>

#include <random>

#include "package/package_reader.h"
#include "support/fault_host.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

uint32_t PlainSum(const uint8_t* data, size_t size, uint32_t sum = 0) {
  for (size_t i = 0; i < size; ++i) sum = sum * 3 + data[i];
  return sum;
}

TEST(PackageSumTest, DocumentedValues) {
  const uint8_t abc[] = {0x61, 0x62, 0x63};
  EXPECT_EQ(PackageSum(abc, 3), 1266u);
  const uint8_t ff = 0xFF;
  EXPECT_EQ(PackageSum(&ff, 1), 255u);
  EXPECT_EQ(PackageSum(&ff, 1, 1000), 3255u);  // unsigned: never -1
  const uint8_t zero = 0;
  EXPECT_EQ(PackageSum(&zero, 1, 0xFFFFFFFF), 0xFFFFFFFDu);  // wraps modulo 2^32
  EXPECT_EQ(PackageSum(nullptr, 0, 77), 77u);
}

TEST(PackageSumTest, AgreesWithThePlainLoopOnRandomData) {
  std::mt19937 random(12345);
  std::vector<uint8_t> data(300007);
  for (uint8_t& b : data) b = static_cast<uint8_t>(random());
  for (const size_t size : {1, 3, 63, 1023, 1024, 1025, 4097, 65535, 300007}) {
    for (const uint32_t start : {0u, 1u, 0xDEADBEEFu}) {
      SCOPED_TRACE(size);
      EXPECT_EQ(PackageSum(data.data(), size, start), PlainSum(data.data(), size, start));
      // Unaligned starts and a split in the middle of a block.
      EXPECT_EQ(PackageSum(data.data() + 1, size - 1, start),
                PlainSum(data.data() + 1, size - 1, start));
      const size_t half = size / 2 + 1;
      EXPECT_EQ(PackageSum(data.data() + half - 1, size - half + 1,
                           PackageSum(data.data(), half - 1, start)),
                PlainSum(data.data(), size, start));
    }
  }
  const std::vector<uint8_t> ones(100001, 0xFF);
  EXPECT_EQ(PackageSum(ones.data(), ones.size()), PlainSum(ones.data(), ones.size()));
}

TEST(PackageChecksumTest, SumsTheWorkspaceArchiveAndComparesBothValues) {
  testing::TempDir temp;
  testing::FaultHost host;
  RunState state;
  state.WorkspaceDir = temp.path() + "/";
  state.PackageChecksum = 99;
  ComputePackageChecksum(state, host);  // absent: 0
  EXPECT_EQ(state.PackageChecksum, 0u);

  testing::WriteFileText(temp / "image.tii", "");
  state.PackageChecksum = 99;
  ComputePackageChecksum(state, host);
  EXPECT_EQ(state.PackageChecksum, 0u);

  std::vector<uint8_t> archive(70001);
  for (size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<uint8_t>(i % 253);
  testing::WriteFileBytes(temp / "image.tii", archive);
  ComputePackageChecksum(state, host);
  EXPECT_EQ(state.PackageChecksum, PlainSum(archive.data(), archive.size()));

  state.Header.ExpectedPackageChecksum = state.PackageChecksum;
  EXPECT_TRUE(PackageChecksumMatches(state));
  state.Header.ExpectedPackageChecksum ^= 1;
  EXPECT_FALSE(PackageChecksumMatches(state));
  state.PeCheckSum = 0x7F02;
  state.Header.ExpectedExeChecksum = 0x7F02;
  EXPECT_TRUE(ExeChecksumMatches(state));
  state.Header.ExpectedExeChecksum = 0;
  EXPECT_FALSE(ExeChecksumMatches(state));
}

}  // namespace
}  // namespace floppyset
