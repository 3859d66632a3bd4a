#include "package/integrity.h"

#include <gtest/gtest.h>

#include <random>

#include "support/fault_host.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

uint32_t PlainSum(const uint8_t* data, size_t size, uint32_t sum = 0) {
  for (size_t i = 0; i < size; ++i) sum = sum * 3 + data[i];
  return sum;
}

// The vectorised sum against the plain loop around its block sizes, unaligned and split.
TEST(PackageSumTest, AgreesWithThePlainLoop) {
  std::mt19937 random(12345);
  std::vector<uint8_t> data(300007);
  for (uint8_t& b : data) b = static_cast<uint8_t>(random());
  for (const size_t size : {1, 63, 1023, 1024, 1025, 4097, 65535, 300007}) {
    SCOPED_TRACE(size);
    const uint32_t start = 0xDEADBEEF;
    EXPECT_EQ(PackageSum(data.data() + 1, size - 1, start),
              PlainSum(data.data() + 1, size - 1, start));
    const size_t half = size / 2;
    EXPECT_EQ(PackageSum(data.data() + half, size - half, PackageSum(data.data(), half, start)),
              PlainSum(data.data(), size, start));
  }
  const std::vector<uint8_t> ones(100001, 0xFF);  // every byte unsigned
  EXPECT_EQ(PackageSum(ones.data(), ones.size()), PlainSum(ones.data(), ones.size()));
}

TEST(PackageChecksumTest, SumsTheWorkspaceArchiveOrIsZero) {
  testing::TempDir temp;
  testing::FaultHost host;
  RunState state;
  state.WorkspaceDir = temp.path() + "/";
  state.PackageChecksum = 99;
  ComputePackageChecksum(state, host);  // absent
  EXPECT_EQ(state.PackageChecksum, 0u);
  std::vector<uint8_t> archive(70001);
  for (size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<uint8_t>(i % 253);
  testing::WriteFileBytes(temp / "image.tii", archive);
  ComputePackageChecksum(state, host);
  EXPECT_EQ(state.PackageChecksum, PlainSum(archive.data(), archive.size()));
}

}  // namespace
}  // namespace floppyset
