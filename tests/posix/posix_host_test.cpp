// The POSIX host's own failure paths, which the fault-injecting double cannot show.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <vector>

#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

// A write that the file system cuts short (here at the file size limit, as on a full disk)
// is a failure, never a success.
TEST(PosixHost, AWriteCutShortFails) {
  testing::TempDir dir;
  PosixHost host;
  const std::unique_ptr<File> file = host.CreateForWrite(dir / "big.bin");
  ASSERT_NE(file, nullptr);
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::vector<char> data(8192, 'x');
  const bool written = file->Write(data.data(), data.size());
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_FALSE(written);
}

}  // namespace
}  // namespace floppyset
