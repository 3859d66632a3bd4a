#include "mkfloppyset/lzh_writer.h"

#include <gtest/gtest.h>

#include "codec/lzh_reader.h"
#include "lha_samples.h"
#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using testing::ReadFileBytes;
using testing::RunShell;
using testing::ShellOutput;

TEST(LzhWriterTest, ArchivesAreListedAndExtractedByLhasaAndByTheReader) {
  testing::TempDir dir;
  std::vector<LzhMember> members = {
      {"image00.tii", testing::MakeFat12Image(dir.path()), 0x3B2A1C45},
      {"image01.tii", testing::PseudoRandomBytes(5000, 2), 0},
      {"empty.bin", {}, 0},
      {std::string(kMaxLzhNameLength, 'n'), {1, 2, 3}, 0},
  };
  ASSERT_EQ(members[0].data.size(), 1474560u);
  const std::vector<uint8_t> archive = WriteLh0Archive(members);
  EXPECT_EQ(archive.back(), 0);
  EXPECT_EQ(archive[0], 25 + 11);
  testing::WriteFileBytes(dir / "set.lzh", archive);

  const std::string listing = ShellOutput("lhasa -v '" + (dir / "set.lzh") + "' 2>&1");
  EXPECT_EQ(listing.find("rror"), std::string::npos) << listing;
  for (const char* text : {"image00.tii", "image01.tii", "empty.bin", "1474560", "-lh0-"}) {
    EXPECT_NE(listing.find(text), std::string::npos) << text << "\n" << listing;
  }
  const std::string lhasa_dir = dir / "lhasa";
  const std::string ours_dir = dir / "ours";
  ASSERT_EQ(RunShell("mkdir '" + lhasa_dir + "' '" + ours_dir + "'"), 0);
  ASSERT_EQ(RunShell("cd '" + lhasa_dir + "' && lhasa -xq ../set.lzh"), 0);
  PosixHost host;
  LzhReader reader(host, dir / "set.lzh", ours_dir, nullptr, nullptr);
  ASSERT_EQ(reader.ExtractAll(), kLzhOk);
  for (const LzhMember& member : members) {
    EXPECT_EQ(ReadFileBytes(lhasa_dir + "/" + member.name), member.data) << member.name;
    EXPECT_EQ(ReadFileBytes(ours_dir + "/" + member.name), member.data) << member.name;
  }
}

TEST(LzhWriterTest, EmptySetAndNamesThatDoNotFit) {
  EXPECT_EQ(WriteLh0Archive({}), std::vector<uint8_t>{0});
  EXPECT_TRUE(WriteLh0Archive({{std::string(kMaxLzhNameLength + 1, 'n'), {1}, 0}}).empty());
  EXPECT_TRUE(WriteLh0Archive({{"", {1}, 0}}).empty());
}

}  // namespace
}  // namespace floppyset
