#include "package/integrity.h"

#include <gtest/gtest.h>

#include "support/fault_host.h"
#include "support/set_builder.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

uint32_t PlainSum(const uint8_t* data, size_t size, uint32_t sum = 0) {
  for (size_t i = 0; i < size; ++i) sum = sum * 3 + data[i];
  return sum;
}

// The vectorised sum against the plain loop around its block sizes, unaligned and split; then
// the checksum of the workspace archive, 0 when it is absent.
TEST(PackageSumTest, AgreesWithThePlainLoop) {
  std::vector<uint8_t> data = testing::ImageLike(300007, 7);
  data.resize(400000, 0xFF);  // every byte unsigned
  for (const size_t size : {1, 63, 1023, 1024, 1025, 4097, 65535, 300007, 400000}) {
    const size_t half = size / 2;
    EXPECT_EQ(PackageSum(data.data() + 1, size - 1, 7), PlainSum(data.data() + 1, size - 1, 7));
    EXPECT_EQ(PackageSum(data.data() + half, size - half, PackageSum(data.data(), half, 7)),
              PlainSum(data.data(), size, 7))
        << size;
  }
  testing::TempDir temp;
  testing::FaultHost host;
  RunState state;
  state.WorkspaceDir = temp.path() + "/";
  state.PackageChecksum = 99;
  ComputePackageChecksum(state, host);
  EXPECT_EQ(state.PackageChecksum, 0u);
  testing::WriteFileBytes(temp / "image.tii", data);
  ComputePackageChecksum(state, host);
  EXPECT_EQ(state.PackageChecksum, PlainSum(data.data(), data.size()));
}

}  // namespace
}  // namespace floppyset
