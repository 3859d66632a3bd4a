#include "image/flat_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/run_state.h"
#include "base/path.h"
#include "fat_test_image.h"
#include "mkfloppyset/flat_builder.h"
#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"
#include "unpack/unpack_disk_image.h"

namespace floppyset {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using Bytes = std::vector<uint8_t>;

struct Record {
  std::string path;
  std::string data;
  uint32_t attributes = kAttrArchive;
  FileTime created{}, accessed{}, written{};
};

Bytes FlatBytes(const std::vector<Record>& records, bool terminated = true) {
  Bytes out;
  for (const Record& r : records) {
    Bytes header(kFlatHeaderSize, 0);
    StoreLe32(header.data(), r.attributes);
    StoreLe64(header.data() + 4, r.created.value);
    StoreLe64(header.data() + 12, r.accessed.value);
    StoreLe64(header.data() + 20, r.written.value);
    StoreLe32(header.data() + 28, static_cast<uint32_t>(r.data.size()));
    std::copy(r.path.begin(), r.path.begin() + std::min<size_t>(r.path.size(), 260),
              header.begin() + 32);
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), r.data.begin(), r.data.end());
  }
  if (terminated) out.resize(out.size() + kFlatHeaderSize, 0);
  return out;
}

std::string Text(const std::string& path) {
  const Bytes bytes = ReadFileBytes(path);
  return {bytes.begin(), bytes.end()};
}

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

class FlatImageTest : public ::testing::Test {
 protected:
  // Writes the image and unpacks it into out/ (created when missing).
  bool Unpack(const Bytes& bytes, Host* host = nullptr) {
    testing::WriteFileBytes(dir_ / "flat.tii", bytes);
    host_.MakeDirectory(Out());
    FlatImage image(host ? *host : host_, dir_ / "flat.tii");
    EXPECT_TRUE(image.IsReady());
    return image.ExtractAll(dir_ / "out");
  }
  std::string Out(const std::string& name = "") const { return dir_ / ("out/" + name); }

  PosixHost host_;
  TempDir dir_;
};

TEST_F(FlatImageTest, NestedPathsEmptyFilesTimesAndAttributes) {
  const FileTime created = UnixSecondsToFileTime(1'000'000'000);
  const FileTime accessed = UnixSecondsToFileTime(1'100'000'000);
  const FileTime written{UnixSecondsToFileTime(1'200'000'000).value + 1234567};
  ASSERT_TRUE(Unpack(FlatBytes({
      {"TOP.TXT", "top", kAttrArchive, created, accessed, written},
      {"A\\B\\DEEP.TXT", "deep", kAttrArchive, created, accessed, written},
      {"A\\EMPTY", "", kAttrArchive, created, accessed, written},
      {"A\\B\\RO.TXT", "locked", kAttrReadOnly | kAttrArchive, created, accessed, written},
  })));
  // Times first: reading a file moves its access time.
  for (const char* name : {"TOP.TXT", "A/EMPTY", "A/B/RO.TXT"}) {
    const struct stat st = Stat(Out(name));
    EXPECT_EQ(st.st_atim.tv_sec, 1'100'000'000) << name;
    EXPECT_EQ(st.st_mtim.tv_sec, 1'200'000'000) << name;
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456700) << name;
  }
  EXPECT_EQ(Text(Out("TOP.TXT")), "top");
  EXPECT_EQ(Text(Out("A/B/DEEP.TXT")), "deep");
  EXPECT_EQ(Text(Out("A/B/RO.TXT")), "locked");
  EXPECT_EQ(Stat(Out("A/EMPTY")).st_size, 0);
  EXPECT_EQ(Stat(Out("A/B/RO.TXT")).st_mode & 0222, 0u);
  EXPECT_NE(Stat(Out("TOP.TXT")).st_mode & 0200, 0u);
}

TEST_F(FlatImageTest, SecondUnpackReplacesEveryFileReadOnlyOnesToo) {
  ASSERT_TRUE(Unpack(FlatBytes({{"1.TXT", "one"}, {"RO.TXT", "first", kAttrReadOnly}})));
  EXPECT_TRUE(Unpack(
      FlatBytes({{"1.TXT", "uno"}, {"RO.TXT", "second", kAttrReadOnly}, {"3.TXT", "three"}})));
  EXPECT_EQ(Text(Out("1.TXT")), "uno");
  EXPECT_EQ(Text(Out("RO.TXT")), "second");
  EXPECT_EQ(Stat(Out("RO.TXT")).st_mode & 0222, 0u);
  EXPECT_EQ(Text(Out("3.TXT")), "three");
}

TEST_F(FlatImageTest, EmptyAndMissingImages) {
  EXPECT_TRUE(Unpack(FlatBytes({})));
  EXPECT_TRUE(host_.ListDirectory(Out()).empty());

  FlatImage missing(host_, dir_ / "missing.tii");
  EXPECT_FALSE(missing.IsReady());
  EXPECT_EQ(missing.FirstRecord(), nullptr);
  EXPECT_FALSE(missing.ExtractAll(Out()));
  EXPECT_FALSE(host_.Attributes(dir_ / "missing.tii"));
}

TEST_F(FlatImageTest, UnsafePathsAreSkippedAndTheRestUnpacks) {
  EXPECT_FALSE(Unpack(FlatBytes({
      {"\\ABS.TXT", "x"},
      {"/ABS2.TXT", "x"},
      {"C:\\DRIVE.TXT", "x"},
      {"..\\UP.TXT", "x"},
      {"A\\..\\..\\UP2.TXT", "x"},
      {"A/../../UP3.TXT", "x"},
      {"A\\\\DOUBLE.TXT", "x"},
      {std::string(300, 'n'), "x"},           // 260 bytes without a NUL
      {"OK\\" + std::string(240, 'l'), "x"},  // too long below out/
      {"DIR\\OK.TXT", "ok"},
  })));
  EXPECT_EQ(host_.ListDirectory(dir_.path()).size(), 2u);  // flat.tii and out
  EXPECT_EQ(host_.ListDirectory(Out()), std::vector<std::string>{"DIR"});
  EXPECT_EQ(Text(Out("DIR/OK.TXT")), "ok");
}

TEST_F(FlatImageTest, RecordsRunningPastTheEndEndTheList) {
  Bytes image = FlatBytes({{"A.TXT", "aaa"}, {"B.TXT", std::string(100, 'b')}}, false);
  image.resize(image.size() - 1);  // B's data is one byte short
  ASSERT_TRUE(Unpack(image));
  EXPECT_EQ(host_.ListDirectory(Out()), std::vector<std::string>{"A.TXT"});

  image = FlatBytes({{"A.TXT", "aaa"}, {"C.TXT", "c"}}, false);
  image.resize(image.size() - 1 - 200);  // C's header is cut
  testing::WriteFileBytes(dir_ / "cut.tii", image);
  FlatImage cut(host_, dir_ / "cut.tii");
  ASSERT_NE(cut.FirstRecord(), nullptr);
  EXPECT_EQ(cut.NextRecord(cut.FirstRecord()), nullptr);

  Bytes huge = FlatBytes({{"H.TXT", "h"}});
  StoreLe32(huge.data() + 28, 0xFFFFFFFF);
  testing::WriteFileBytes(dir_ / "huge.tii", huge);
  EXPECT_EQ(FlatImage(host_, dir_ / "huge.tii").FirstRecord(), nullptr);
}

// Fails to make any directory whose path holds "BAD".
class RefusingHost : public PosixHost {
 public:
  CreateDirectoryResult MakeDirectory(const std::string& path) override {
    if (path.find("BAD") != std::string::npos) return CreateDirectoryResult::kFailed;
    return PosixHost::MakeDirectory(path);
  }
};

TEST_F(FlatImageTest, DirectoriesComeBeforeAnyFile) {
  RefusingHost refusing;
  EXPECT_FALSE(Unpack(FlatBytes({{"FIRST.TXT", "1"}, {"GOOD\\G.TXT", "g"}, {"BAD\\X.TXT", "x"}}),
                      &refusing));
  EXPECT_EQ(host_.ListDirectory(Out()), std::vector<std::string>{"GOOD"});
  EXPECT_TRUE(host_.ListDirectory(Out("GOOD")).empty());

  EXPECT_TRUE(CreateDirectoryChain(host_, Out(), "X\\Y\\Z"));
  EXPECT_TRUE(CreateDirectoryChain(host_, Out(), "X\\Y"));  // existing ones are accepted
  EXPECT_EQ(host_.Attributes(Out("X/Y/Z")), kAttrDirectory);
  EXPECT_FALSE(CreateDirectoryChain(host_, Out(), "X\\..\\..\\ESCAPE"));
}

TEST_F(FlatImageTest, BuilderRoundTrip) {
  namespace fs = std::filesystem;
  const std::string source = dir_ / "source";
  fs::create_directories(source + "/sub/deeper");
  testing::WriteFileText(source + "/readme", "read me");
  testing::WriteFileText(source + "/sub/deeper/data.bin", std::string(5000, '\x7f'));
  testing::WriteFileText(source + "/sub/empty", "");
  testing::WriteFileText(source + "/sub/locked.txt", "locked");
  fs::last_write_time(source + "/readme",
                      fs::file_time_type::clock::now() - std::chrono::hours(50));
  fs::permissions(source + "/sub/locked.txt", fs::perms::owner_read | fs::perms::group_read);

  Bytes image;
  std::string error;
  ASSERT_TRUE(BuildFlatImage(source, image, error)) << error;
  EXPECT_EQ(Bytes(image.end() - 292, image.end()), Bytes(292, 0));
  ASSERT_TRUE(Unpack(image));

  for (const char* name : {"readme", "sub/deeper/data.bin", "sub/empty", "sub/locked.txt"}) {
    EXPECT_EQ(ReadFileBytes(Out(name)), ReadFileBytes(source + "/" + name)) << name;
    EXPECT_EQ(Stat(Out(name)).st_mtim.tv_sec, Stat(source + "/" + name).st_mtim.tv_sec) << name;
  }
  EXPECT_EQ(Stat(Out("sub/locked.txt")).st_mode & 0222, 0u);
}

TEST_F(FlatImageTest, UnpackDiskImageChoosesTheFormatAndTheDiskDirectory) {
  RunState state;
  state.WorkspaceDir = dir_ / "ws/";
  state.DestinationDir = dir_ / "dest/";
  ASSERT_EQ(host_.MakeDirectory(state.WorkspaceDir), CreateDirectoryResult::kCreated);
  ASSERT_EQ(host_.MakeDirectory(state.DestinationDir), CreateDirectoryResult::kCreated);
  EXPECT_EQ(DiskDirectory(state, 0), state.DestinationDir + "disk1/");

  testing::WriteFileBytes(state.WorkspaceDir + "image00.tii", FlatBytes({{"S\\F.TXT", "flat"}}));
  testing::TestFatImage fat;
  fat.File(fat.Root(0), "FAT     TXT", 2, 3, 'f');
  testing::WriteFileBytes(state.WorkspaceDir + "image01.tii", fat.bytes);
  host_.MakeDirectory(DiskDirectory(state, 0));
  host_.MakeDirectory(DiskDirectory(state, 1));

  state.PackageUnpackMode = 1;
  EXPECT_TRUE(UnpackDiskImage(state, host_, 0));
  EXPECT_EQ(Text(state.DestinationDir + "disk1/S/F.TXT"), "flat");
  EXPECT_FALSE(UnpackDiskImage(state, host_, 2));  // no such image

  state.PackageUnpackMode = 0;
  EXPECT_TRUE(UnpackDiskImage(state, host_, 1));
  EXPECT_EQ(Text(state.DestinationDir + "disk2/FAT.TXT"), "fff");
  EXPECT_EQ(host_.ListDirectory(state.DestinationDir).size(), 2u);
}

}  // namespace
}  // namespace floppyset
