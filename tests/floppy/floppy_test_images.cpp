#include "floppy_test_images.h"

#include "support/temp_dir.h"

namespace floppyset::testing {

namespace {
constexpr uint32_t kClusterBytes = 512;
constexpr uint32_t kDataClusters = 2847;  // clusters 2 to 2,848 of a 1.44 MB disk
}  // namespace

std::vector<uint8_t> PatternBytes(size_t count, uint8_t seed) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<uint8_t>((i * 131 + i / 509 + seed) ^ 0x5A);
  return bytes;
}

bool MakeFat12Image(const std::string& path, ImageContent content) {
  const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
  if (RunShell(mtools + "mformat -C -f 1440 -i '" + path + "' ::") != 0) return false;
  size_t file_bytes = 0;
  switch (content) {
    case ImageContent::kEmptyRoot:
      return true;
    case ImageContent::kZeroLengthFiles:
      file_bytes = 0;
      break;
    case ImageContent::kHighCluster1403:
      file_bytes = size_t{1402} * kClusterBytes;
      break;
    case ImageContent::kFull:
      file_bytes = size_t{kDataClusters} * kClusterBytes;
      break;
  }
  TempDir scratch;
  const std::string file = scratch / "DATA.BIN";
  WriteFileBytes(file, PatternBytes(file_bytes, 7));
  return RunShell(mtools + "mcopy -i '" + path + "' '" + file + "' ::DATA.BIN") == 0;
}

}  // namespace floppyset::testing
