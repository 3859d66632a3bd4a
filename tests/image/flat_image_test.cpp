// Flat images: records unpacked with their times and attributes, unsafe or cut records
// skipped, and the builder's images read back.
#include "image/flat_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "mkfloppyset/flat_builder.h"
#include "platform/posix/posix_host.h"
#include "support/fault_host.h"
#include "support/set_builder.h"
#include "support/temp_dir.h"
#include "test_images.h"

namespace floppyset {
namespace {

using testing::FlatBytes;
using testing::ReadFileBytes;
using testing::ReadFileText;
using testing::Record;
using Bytes = std::vector<uint8_t>;

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

class FlatImageTest : public ::testing::Test {
 protected:
  bool Unpack(const Bytes& bytes, Host* host = nullptr) {
    testing::WriteFileBytes(dir_ / "flat.tii", bytes);
    host_.MakeDirectory(Out());
    FlatImage image(host ? *host : host_, dir_ / "flat.tii");
    EXPECT_TRUE(image.IsReady());
    return image.ExtractAll(dir_ / "out");
  }
  std::string Out(const std::string& name = "") const { return dir_ / ("out/" + name); }

  PosixHost host_;
  testing::TempDir dir_;
};

TEST_F(FlatImageTest, NestedPathsTimesAndAttributes) {
  const uint64_t times[3] = {UnixSecondsToFileTime(1'000'000'000).value,
                             UnixSecondsToFileTime(1'100'000'000).value,
                             UnixSecondsToFileTime(1'200'000'000).value + 1234567};
  std::vector<Record> records = {{"TOP.TXT", "top"},
                                 {"A\\B\\DEEP.TXT", "deep"},
                                 {"A\\EMPTY", ""},
                                 {"A\\B\\RO.TXT", "locked", kAttrReadOnly | kAttrArchive}};
  for (Record& r : records) std::copy_n(times, 3, r.times);
  ASSERT_TRUE(Unpack(FlatBytes(records)));
  for (const char* name : {"TOP.TXT", "A/EMPTY", "A/B/RO.TXT"}) {  // before reading them
    const struct stat st = Stat(Out(name));
    EXPECT_EQ(std::tuple(st.st_atim.tv_sec, st.st_mtim.tv_sec, st.st_mtim.tv_nsec),
              std::tuple(1'100'000'000, 1'200'000'000, 123456700))
        << name;
  }
  EXPECT_EQ(ReadFileText(Out("A/B/DEEP.TXT")) + ReadFileText(Out("A/EMPTY")), "deep");
  EXPECT_EQ(Stat(Out("A/B/RO.TXT")).st_mode & 0222, 0u);
  EXPECT_NE(Stat(Out("TOP.TXT")).st_mode & 0200, 0u);

  // A second unpack replaces every file, the read-only one too.
  testing::WriteFileText(Out("TOP.TXT"), "changed");
  records[3].data = "second";
  EXPECT_TRUE(Unpack(FlatBytes(records)));
  EXPECT_EQ(ReadFileText(Out("TOP.TXT")) + ReadFileText(Out("A/B/RO.TXT")), "topsecond");
  EXPECT_EQ(Stat(Out("A/B/RO.TXT")).st_mode & 0222, 0u);
}

TEST_F(FlatImageTest, UnsafeOrCutRecordsAreSkippedAndTheRestUnpacks) {
  EXPECT_FALSE(Unpack(FlatBytes({
      {"A\\..\\..\\UP.TXT", "x"},
      {"A/../../UP2.TXT", "x"},
      {std::string(300, 'n'), "x"},           // 260 bytes without a NUL
      {"OK\\" + std::string(240, 'l'), "x"},  // too long below out/
      {"DIR\\OK.TXT", "ok"},
  })));
  EXPECT_EQ(host_.ListDirectory(dir_.path()).size(), 2u);  // flat.tii and out
  EXPECT_EQ(host_.ListDirectory(Out()), std::vector<std::string>{"DIR"});
  EXPECT_EQ(ReadFileText(Out("DIR/OK.TXT")), "ok");

  EXPECT_TRUE(Unpack(FlatBytes({})));
  Bytes image = FlatBytes({{"A.TXT", "aaa"}, {"B.TXT", std::string(100, 'b')}}, false);
  image.pop_back();  // B's data is one byte short: the list is cut there
  EXPECT_FALSE(Unpack(image));
  EXPECT_EQ(ReadFileText(Out("A.TXT")), "aaa");
  EXPECT_FALSE(host_.Attributes(Out("B.TXT")));
  image.resize(image.size() - 300);  // B's header is cut
  testing::WriteFileBytes(dir_ / "cut.tii", image);
  FlatImage cut(host_, dir_ / "cut.tii");
  ASSERT_NE(cut.FirstRecord(), nullptr);
  EXPECT_EQ(cut.NextRecord(cut.FirstRecord()), nullptr);
  Bytes huge = FlatBytes({{"H.TXT", "h"}});
  StoreLe32(huge.data() + 28, 0xFFFFFFFF);
  testing::WriteFileBytes(dir_ / "huge.tii", huge);
  EXPECT_EQ(FlatImage(host_, dir_ / "huge.tii").FirstRecord(), nullptr);
  EXPECT_FALSE(FlatImage(host_, dir_ / "missing.tii").ExtractAll(Out()));
  // Every directory is made before any file: one that cannot be made leaves no file at all.
  testing::FaultHost refusing;
  refusing.FailCreateNamed("BAD");
  std::filesystem::remove_all(Out());
  EXPECT_FALSE(Unpack(FlatBytes({{"FIRST.TXT", "1"}, {"GOOD\\G.TXT", "g"}, {"BAD\\X.TXT", "x"}}),
                      &refusing));
  EXPECT_EQ(host_.ListDirectory(Out()), std::vector<std::string>{"GOOD"});
  EXPECT_TRUE(host_.ListDirectory(Out("GOOD")).empty());
  EXPECT_TRUE(CreateDirectoryChain(host_, Out(), "X\\Y\\Z"));
  EXPECT_TRUE(CreateDirectoryChain(host_, Out(), "X\\Y"));  // existing ones are accepted
  EXPECT_FALSE(CreateDirectoryChain(host_, Out(), "X\\..\\..\\ESCAPE"));
}

TEST_F(FlatImageTest, BuilderImagesUnpackToTheirSource) {
  namespace fs = std::filesystem;
  const std::string source = dir_ / "source";
  testing::WriteTree(source, {{"readme", "read me"},
                              {"sub/deeper/data.bin", std::string(5000, '\x7f')},
                              {"sub/empty", ""},
                              {"sub/locked.txt", "locked"}});
  fs::permissions(source + "/sub/locked.txt", fs::perms::owner_read | fs::perms::group_read);
  Bytes image;
  std::string error;
  ASSERT_TRUE(BuildFlatImage(source, image, error)) << error;
  ASSERT_TRUE(Unpack(image));
  for (const char* name : {"readme", "sub/deeper/data.bin", "sub/empty", "sub/locked.txt"}) {
    EXPECT_EQ(ReadFileBytes(Out(name)), ReadFileBytes(source + "/" + name)) << name;
    EXPECT_EQ(Stat(Out(name)).st_mtim.tv_sec, Stat(source + "/" + name).st_mtim.tv_sec) << name;
  }
  EXPECT_EQ(Stat(Out("sub/locked.txt")).st_mode & 0222, 0u);
}

}  // namespace
}  // namespace floppyset
