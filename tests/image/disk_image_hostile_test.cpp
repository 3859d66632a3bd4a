// Malformed and malicious FAT12 images: every walk ends, nothing is read outside the
// image and nothing is written outside the destination.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/path.h"
#include "fat_test_image.h"
#include "image/disk_image.h"
#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using namespace testing;
using Names = std::vector<std::string>;

// Every entry of the whole tree, walked the way the /L report does; each pointer must be a
// whole slot inside the image.
void WalkTree(DiskImage& image, int depth = 0) {
  const auto inside = [&](const DirectoryEntry* e) {
    EXPECT_TRUE(e->raw >= image.data() && e->raw + 32 <= image.data() + image.size());
  };
  for (auto* e = image.FirstFile(); e; e = image.NextFile(e)) inside(e);
  for (auto* e = image.FirstSubdirectory(); e && depth < 4; e = image.NextSubdirectory(e)) {
    inside(e);
    const uint16_t saved = image.CurrentDirectory;
    image.CurrentDirectory = e->first_cluster();
    WalkTree(image, depth + 1);
    image.CurrentDirectory = saved;
  }
}

class HostileImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host_.MakeDirectory(dir_ / "out"), CreateDirectoryResult::kCreated);
  }
  // Walks, sizes and extracts the image; returns what was written. What was skipped or cut
  // goes to `report`.
  Names Exercise(const std::vector<uint8_t>& bytes) {
    testing::WriteFileBytes(dir_ / "image.ima", bytes);
    DiskImage image(host_, dir_ / "image.ima");
    if (!image.IsOpen()) return {};
    WalkTree(image);
    EXPECT_LE(image.UsedImageSize(), bytes.size());
    EXPECT_TRUE(image.ExtractTree(dir_ / "out/"));
    report_ = image.unpack_report();
    EXPECT_EQ(image.CurrentDirectory, 0);
    // Only the image and the destination exist in the test directory.
    EXPECT_EQ(host_.ListDirectory(dir_.path()).size(), 2u);
    Names paths;
    for (const auto& item : std::filesystem::recursive_directory_iterator(dir_ / "out")) {
      paths.push_back(std::filesystem::relative(item.path(), dir_ / "out").string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  PosixHost host_;
  TempDir dir_;
  TestFatImage fat_;
  UnpackReport report_;
};

TEST_F(HostileImageTest, BootSectorsOfZerosOrOutsizedFields) {
  EXPECT_TRUE(Exercise(std::vector<uint8_t>(TestFatImage::kSize, 0)).empty());
  EXPECT_TRUE(Exercise(std::vector<uint8_t>(7, 0xFF)).empty());

  fat_.File(fat_.Root(0), "A       TXT", 2, 600, 'a');
  auto bytes = fat_.bytes;
  StoreLe16(bytes.data() + 17, 0xFFFF);  // root slots beyond the file
  StoreLe16(bytes.data() + 11, 0x8000);  // sectors far beyond the file
  bytes.resize(20'000);
  Exercise(bytes);

  bytes = fat_.bytes;
  bytes[13] = 0;  // no sectors per cluster: no cluster has data
  EXPECT_EQ(Exercise(bytes), Names{"A.TXT"});
  EXPECT_TRUE(ReadFileBytes(dir_ / "out/A.TXT").empty());  // no data is made up
  EXPECT_EQ(report_.cut, 1u);
}

TEST_F(HostileImageTest, ImageCutShortOfItsClusters) {
  fat_.File(fat_.Root(0), "CUT     BIN", 40, 3000, 'c');
  auto bytes = fat_.bytes;
  bytes.resize((40 + 31) * 512 + 700);  // the file's second cluster is cut
  EXPECT_EQ(Exercise(bytes), Names{"CUT.BIN"});
  EXPECT_EQ(ReadFileBytes(dir_ / "out/CUT.BIN"), std::vector<uint8_t>(700, 'c'));  // what exists
  EXPECT_EQ(report_.cut, 1u);
  EXPECT_EQ(report_.names, Names{dir_ / "out/CUT.BIN"});
}

TEST_F(HostileImageTest, FileChainsThatLoopOrLeaveEndTheWalk) {
  fat_.Slot(fat_.Root(0), "LOOP    BIN", 0x20, 2, 100'000);
  fat_.SetFat(2, 3);
  fat_.SetFat(3, 2);
  fat_.Slot(fat_.Root(1), "ZERO    BIN", 0x20, 4, 2000);
  fat_.SetFat(4, 1);
  fat_.Slot(fat_.Root(2), "AWAY    BIN", 0x20, 5, 2000);
  fat_.SetFat(5, 0xFF0);  // a reserved value is followed: it lies outside the image
  fat_.Slot(fat_.Root(3), "HIGH    BIN", 0x20, 0xF000, 2000);
  std::memset(fat_.Cluster(2), '2', 512);
  std::memset(fat_.Cluster(3), '3', 512);

  EXPECT_EQ(Exercise(fat_.bytes), (Names{"AWAY.BIN", "HIGH.BIN", "LOOP.BIN", "ZERO.BIN"}));
  const auto loop = ReadFileBytes(dir_ / "out/LOOP.BIN");
  ASSERT_EQ(loop.size(), 1024u);  // the chain, not the size
  EXPECT_EQ(loop[0], '2');
  EXPECT_EQ(loop[512], '3');
  EXPECT_EQ(report_.cut, 4u);

  DiskImage image(host_, dir_ / "image.ima");
  EXPECT_EQ(image.HighestCluster(image.RootDirectory()), 3);
  EXPECT_EQ(image.HighestCluster(image.RootDirectory() + 3), 0);
  EXPECT_EQ(image.UsedImageSize(), (5 + 32) * 512u);  // AWAY.BIN's cluster 5
}

// Sizes that no chain covers and chains shared by many entries: the files hold what their
// chains hold, and the whole unpack stops at twice the image's size.
TEST_F(HostileImageTest, WhatOneImageUnpacksIsBoundedByItsSize) {
  for (const uint32_t size : {0xFFFFFFFFu, 10'000u}) {  // over the limit of twice the image, or not
    SCOPED_TRACE(size);
    std::filesystem::remove_all(dir_ / "out");
    std::filesystem::create_directory(dir_ / "out");
    TestFatImage fat;
    std::vector<uint16_t> all;  // one chain through every cluster, shared by every root slot
    for (uint16_t cluster = 2; cluster < 2849; ++cluster) all.push_back(cluster);
    fat.Chain(all);
    for (int i = 0; i < 224; ++i) {
      TestFatImage::Slot(fat.Root(i), ("F" + std::to_string(1000000 + i) + "BIN").c_str(), 0x20, 2,
                         size);
    }
    const Names written = Exercise(fat.bytes);
    uintmax_t total = 0;
    for (const std::string& file : written)
      total += std::filesystem::file_size(dir_ / ("out/" + file));
    EXPECT_LE(total, 2 * TestFatImage::kSize);
    EXPECT_EQ(report_.over_limit, size > 10'000);
    EXPECT_EQ(written.size(), size > 10'000 ? 2u : 224u);
  }
}

TEST_F(HostileImageTest, DirectoryChainsThatLoop) {
  fat_.Subdirectory(fat_.Root(0), "SPIN       ", 10, 0);
  fat_.SetFat(10, 11);
  fat_.SetFat(11, 10);
  for (int i = 2; i < 16; ++i) fat_.Cluster(10)[i * 32] = 0xE5;
  for (int i = 0; i < 16; ++i) fat_.Cluster(11)[i * 32] = 0xE5;

  EXPECT_EQ(Exercise(fat_.bytes), Names{"SPIN"});
  DiskImage image(host_, dir_ / "image.ima");
  ASSERT_TRUE(image.EnterSubdirectory("SPIN"));
  EXPECT_EQ(image.FirstFile(), nullptr);
}

TEST_F(HostileImageTest, SubdirectoriesThatReachAnAncestor) {
  fat_.Subdirectory(fat_.Root(0), "A          ", 3, 0);
  fat_.Slot(fat_.Cluster(3) + 64, "BACK       ", 0x10, 3);  // itself
  fat_.Slot(fat_.Cluster(3) + 96, "ROOT       ", 0x10, 0);  // the root
  fat_.Subdirectory(fat_.Cluster(3) + 128, "B          ", 4, 3);
  fat_.Slot(fat_.Cluster(4) + 64, "UP         ", 0x10, 3);  // the grandparent
  fat_.File(fat_.Cluster(4) + 96, "F       TXT", 5, 4, 'f');
  fat_.Slot(fat_.Root(1), "SAME       ", 0x10, 4);  // a second name for B

  EXPECT_EQ(Exercise(fat_.bytes), (Names{"A", "A/B", "A/B/F.TXT"}));
}

TEST_F(HostileImageTest, NamesThatWouldLeaveTheDestination) {
  fat_.File(fat_.Root(0), "..         ", 2, 4, 'x');
  fat_.File(fat_.Root(1), "..\\EVIL TXT", 3, 4, 'x');
  fat_.File(fat_.Root(2), "../EVIL TXT", 4, 4, 'x');
  fat_.File(fat_.Root(3),
            "\x01"
            "CTRL   TXT",
            5, 4, 'x');
  fat_.File(fat_.Root(4), "           ", 6, 4, 'x');
  fat_.Subdirectory(fat_.Root(5), "A/B        ", 7, 0);
  fat_.File(fat_.Cluster(7) + 64, "IN      TXT", 8, 4, 'x');
  fat_.File(fat_.Root(6), "GOOD    TXT", 9, 4, 'g');
  fat_.File(fat_.Root(7), "AB\0CD   T\0X", 10, 4, 'n');  // the fields end at their NUL

  EXPECT_EQ(Exercise(fat_.bytes), (Names{"AB.T", "GOOD.TXT"}));
  EXPECT_EQ(report_.skipped, 6u);  // five files and the directory, each counted
  EXPECT_EQ(report_.names.size(), UnpackReport::kNamesKept);
}

TEST_F(HostileImageTest, PathsOverTheLimitAreSkipped) {
  fat_.File(fat_.Root(0), "LONGNAMEXYZ", 2, 4, 'l');
  fat_.Subdirectory(fat_.Root(1), "SUBDIR     ", 3, 0);
  fat_.File(fat_.Cluster(3) + 64, "INNER   TXT", 4, 4, 'i');
  fat_.File(fat_.Root(2), "A          ", 5, 1, 'a');
  testing::WriteFileBytes(dir_ / "image.ima", fat_.bytes);

  // A destination that leaves room for "A" only.
  std::string deep = dir_ / "out/";
  deep.append(kMaxPath - 3 - deep.size(), 'd');
  ASSERT_EQ(host_.MakeDirectory(deep), CreateDirectoryResult::kCreated);
  DiskImage image(host_, dir_ / "image.ima");
  EXPECT_TRUE(image.ExtractTree(deep));
  EXPECT_EQ(host_.ListDirectory(deep), Names{"A"});
}

}  // namespace
}  // namespace floppyset
