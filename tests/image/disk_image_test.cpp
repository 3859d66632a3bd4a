// DiskImage on FAT12 images assembled byte by byte: the rules mtools images do not reach (exact
// clusters, markers) and hostile images, whose walks must end without reading outside the image
// or writing outside the destination.
#include "image/disk_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "base/bytes.h"
#include "base/path.h"
#include "image/image_check.h"
#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"
#include "test_images.h"

namespace floppyset {
namespace {

using namespace testing;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Names = std::vector<std::string>;
using Tree = std::map<std::string, std::string>;  // path -> content, "<dir>" for a directory

// Every entry of the tree, walked the way the /L report does; each must be a whole slot inside
// the image.
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

class DiskImageTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(host_.MakeDirectory(Out()), CreateDirectoryResult::kCreated); }
  DiskImage& Open(const Bytes& bytes) {
    WriteFileBytes(dir_ / "image.ima", bytes);
    image_ = std::make_unique<DiskImage>(host_, dir_ / "image.ima");
    return *image_;
  }
  DiskImage& Open() { return Open(fat_.bytes); }
  Names FileNames() {
    Names names;
    for (auto* e = Open().FirstFile(); e; e = image_->NextFile(e))
      names.push_back(FormatEntryName(*e));
    return names;
  }
  Tree Written() const {
    Tree tree;
    for (const auto& item : fs::recursive_directory_iterator(Out())) {
      tree[fs::relative(item.path(), Out()).string()] =
          item.is_directory() ? "<dir>" : ReadFileText(item.path());
    }
    return tree;
  }
  // Walks, sizes and extracts the image into an empty out/; what was skipped or cut goes to
  // report_.
  Tree Exercise(const Bytes& bytes) {
    fs::remove_all(Out());
    fs::create_directory(Out());
    DiskImage& image = Open(bytes);
    if (!image.IsOpen()) return {};
    WalkTree(image);
    EXPECT_LE(image.UsedImageSize(), bytes.size());
    const ImageCheck check = CheckDiskImage(image);
    EXPECT_EQ(check.readable, image.IsReadable());
    EXPECT_EQ(image.ExtractTree(Out()), image.IsReadable());
    report_ = image.unpack_report();
    EXPECT_TRUE(report_.clean() || !check.sound());  // what the copy lost, the check saw
    EXPECT_EQ(image.CurrentDirectory, 0);
    EXPECT_EQ(host_.ListDirectory(dir_.path()).size(), 2u);  // the image and out/
    return Written();
  }
  std::string Out(const std::string& name = "") const { return dir_ / ("out/" + name); }

  PosixHost host_;
  TempDir dir_;
  TestFatImage fat_;
  std::unique_ptr<DiskImage> image_;
  UnpackReport report_;
};

// The size written to a floppy ends behind the highest cluster in use anywhere; an image of
// empty files only is written whole (0).
TEST_F(DiskImageTest, UsedSizeEndsBehindTheHighestCluster) {
  EXPECT_EQ(Open().UsedImageSize(), 16'896u);
  TestFatImage::Slot(fat_.Root(0), "\xE5OLD    TXT", 0x20, 2, 10);
  TestFatImage::Slot(fat_.Root(1), "VOLUME     ", 0x08);
  EXPECT_EQ(Open().UsedImageSize(), 16'896u);
  TestFatImage::Slot(fat_.Root(2), "EMPTY   TXT", 0x20, 0, 0);
  EXPECT_EQ(Open().UsedImageSize(), 0u);
  fat_.File(fat_.Root(3), "SMALL   TXT", 100, 10, 'a');
  EXPECT_EQ(Open().UsedImageSize(), 67'584u);
  fat_.Subdirectory(fat_.Root(4), "SUB        ", 50, 0);
  TestFatImage::Slot(fat_.Cluster(50) + 64, "DEEP    BIN", 0x20, 60, 2000);
  fat_.Chain({60, 1403, 61, 62});
  EXPECT_EQ(Open().UsedImageSize(), 734'720u);
}

TEST_F(DiskImageTest, DirectoriesEndAtAMarkerOrTheLastRootSlot) {
  for (size_t i = 0; i < 225; ++i) {  // the 225th lies in the first data sector
    TestFatImage::Slot(fat_.Root(i), ("F" + std::to_string(1000 + i) + "   TXT").c_str(), 0x20);
  }
  const Names names = FileNames();
  ASSERT_EQ(names.size(), 224u);
  EXPECT_EQ(names.back(), "F1223.TXT");
  fat_.Root(2)[0] = 0xF6;  // formatted filler ends the directory from the second slot on
  EXPECT_EQ(FileNames(), (Names{"F1000.TXT", "F1001.TXT"}));
  fat_.Root(1)[0] = 0x00;
  EXPECT_EQ(FileNames(), (Names{"F1000.TXT"}));
}

TEST_F(DiskImageTest, SubdirectoriesAreEnteredByTheirLastNameComponent) {
  fat_.File(fat_.Root(0), "TOOLS      ", 2, 4, 't');  // a plain file of the same name
  fat_.Subdirectory(fat_.Root(1), "TOOLS      ", 3, 0);
  fat_.Subdirectory(fat_.Cluster(3) + 64, "BIN     OLD", 4, 3);
  DiskImage& image = Open();
  EXPECT_TRUE(image.EnterSubdirectory("tools\\"));
  EXPECT_TRUE(image.EnterSubdirectory("bin.old"));
  EXPECT_EQ(image.CurrentDirectory, 4);
  image.LeaveSubdirectory();
  EXPECT_EQ(image.CurrentDirectory, 3);
  image.LeaveSubdirectory();
  image.LeaveSubdirectory();  // no effect in the root
  EXPECT_EQ(image.CurrentDirectory, 0);
  EXPECT_TRUE(image.EnterSubdirectory(dir_ / "TOOLS" + kPathSeparator));
  image.CurrentDirectory = 0;
  EXPECT_FALSE(image.EnterSubdirectory("MISSING"));
  EXPECT_FALSE(image.EnterSubdirectory("TOOLSANDMORE"));  // no 8.3 form, no cut-off match
  EXPECT_EQ(image.CurrentDirectory, 0);
}

// An existing directory is entered and an existing read-only file replaced; slack behind a
// file's size is not copied; a read-only directory stays removable.
TEST_F(DiskImageTest, CopyOutKeepsWhatIsInPlaceAndOnlyTheFilesBytes) {
  EXPECT_FALSE(DiskImage(host_, dir_ / "missing.ima").ExtractTree(dir_.path()));
  fat_.File(fat_.Root(0), "DATA    BIN", 2, 1000, 'd');
  fat_.Cluster(3)[1000 - 512 + 5] = 'x';
  fat_.File(fat_.Root(1), "EMPTY   TXT", 0, 0, 0);
  StoreLe16(fat_.Root(1) + 26, 40);  // a cluster with a size of 0: still empty
  fat_.Subdirectory(fat_.Root(2), "RO         ", 10, 0);
  fat_.Root(2)[11] = 0x11;
  fat_.File(fat_.Cluster(10) + 64, "LEAF    TXT", 11, 5, 'f');
  fat_.Subdirectory(fat_.Root(3), "OLD        ", 12, 0);
  fat_.File(fat_.Cluster(12) + 64, "X       TXT", 13, 5, 'x');
  fat_.File(fat_.Root(4), "KEPT    TXT", 14, 4, 'k', 0x21);
  ASSERT_EQ(host_.MakeDirectory(Out("OLD")), CreateDirectoryResult::kCreated);
  WriteFileText(Out("KEPT.TXT"), "old");
  ASSERT_TRUE(host_.SetAttributes(Out("KEPT.TXT"), kAttrReadOnly));
  for (const std::string& destination : {dir_ / "out", Out()}) {  // with and without separator
    WriteFileText(Out("DATA.BIN"), "changed");
    ASSERT_TRUE(Open().ExtractTree(destination));
    EXPECT_EQ(image_->CurrentDirectory, 0);
    EXPECT_TRUE(image_->unpack_report().clean());
    EXPECT_EQ(Written(), (Tree{{"DATA.BIN", std::string(1000, 'd')},
                               {"EMPTY.TXT", ""},
                               {"KEPT.TXT", "kkkk"},
                               {"OLD", "<dir>"},
                               {"OLD/X.TXT", "xxxxx"},
                               {"RO", "<dir>"},
                               {"RO/LEAF.TXT", "fffff"}}));
    struct stat ro {
    }, kept{};
    EXPECT_EQ(::stat(Out("RO").c_str(), &ro) + ::stat(Out("KEPT.TXT").c_str(), &kept), 0);
    EXPECT_TRUE(ro.st_mode & 0200);
    EXPECT_FALSE(kept.st_mode & 0222);
  }
}

TEST_F(DiskImageTest, BootSectorsAndChainsThatTheFileDoesNotHold) {
  EXPECT_TRUE(Exercise(Bytes(TestFatImage::kSize, 0)).empty());
  EXPECT_TRUE(Exercise(Bytes(7, 0xFF)).empty());
  fat_.File(fat_.Root(0), "A       TXT", 2, 600, 'a');
  fat_.File(fat_.Root(1), "CUT     BIN", 40, 3000, 'c');
  Bytes bytes = fat_.bytes;
  StoreLe16(bytes.data() + 17, 0xFFFF);  // root slots beyond the file
  StoreLe16(bytes.data() + 11, 0x8000);  // sectors far beyond the file
  bytes.resize(20'000);
  Exercise(bytes);

  bytes = fat_.bytes;
  bytes[13] = 0;  // no sectors per cluster: no layout, and nothing is made up
  EXPECT_TRUE(Exercise(bytes).empty());
  EXPECT_NE(report_.damage.find("(0 sectors per cluster)"), std::string::npos);
  bytes = fat_.bytes;
  bytes.resize((40 + 31) * 512 + 700);  // the second cluster of CUT.BIN is cut: what exists
  EXPECT_EQ(Exercise(bytes),
            (Tree{{"A.TXT", std::string(600, 'a')}, {"CUT.BIN", std::string(700, 'c')}}));
  EXPECT_EQ(report_.cut, 1u);
  EXPECT_EQ(report_.names, Names{Out("CUT.BIN")});
}

TEST_F(DiskImageTest, FileChainsThatLoopOrLeaveEndTheWalk) {
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

  const std::string cluster(512, '\0');  // the chain, not the size
  EXPECT_EQ(Exercise(fat_.bytes), (Tree{{"AWAY.BIN", cluster},
                                        {"HIGH.BIN", ""},
                                        {"LOOP.BIN", std::string(512, '2') + std::string(512, '3')},
                                        {"ZERO.BIN", cluster}}));
  EXPECT_EQ(report_.cut, 4u);
  EXPECT_EQ(image_->HighestCluster(image_->RootDirectory()), 3);
  EXPECT_EQ(image_->HighestCluster(image_->RootDirectory() + 3), 0);
  EXPECT_EQ(image_->UsedImageSize(), (5 + 32) * 512u);  // AWAY.BIN's cluster 5
}

// Sizes that no chain covers and a chain shared by every entry: the files hold what their
// chains hold, and the whole unpack stops at twice the image's size.
TEST_F(DiskImageTest, WhatOneImageUnpacksIsBoundedByItsSize) {
  std::vector<uint16_t> all;
  for (uint16_t cluster = 2; cluster < 2849; ++cluster) all.push_back(cluster);
  fat_.Chain(all);
  for (const uint32_t size : {0xFFFFFFFFu, 10'000u}) {  // over the limit, or not
    SCOPED_TRACE(size);
    for (int i = 0; i < 224; ++i) {
      TestFatImage::Slot(fat_.Root(i), ("F" + std::to_string(1000000 + i) + "BIN").c_str(), 0x20, 2,
                         size);
    }
    const Tree written = Exercise(fat_.bytes);
    size_t total = 0;
    for (const auto& [name, data] : written) total += data.size();
    EXPECT_LE(total, 2 * TestFatImage::kSize);
    EXPECT_EQ(report_.over_limit, size > 10'000);
    EXPECT_EQ(written.size(), size > 10'000 ? 2u : 224u);
  }
}

TEST_F(DiskImageTest, DirectoriesThatLoopOrReachAnAncestor) {
  fat_.Subdirectory(fat_.Root(0), "SPIN       ", 10, 0);
  fat_.SetFat(10, 11);
  fat_.SetFat(11, 10);
  for (int i = 2; i < 32; ++i) fat_.Cluster(10)[i * 32] = 0xE5;  // clusters 10 and 11
  fat_.Subdirectory(fat_.Root(1), "A          ", 3, 0);
  fat_.Slot(fat_.Cluster(3) + 64, "BACK       ", 0x10, 3);  // itself
  fat_.Slot(fat_.Cluster(3) + 96, "ROOT       ", 0x10, 0);  // the root
  fat_.Subdirectory(fat_.Cluster(3) + 128, "B          ", 4, 3);
  fat_.Slot(fat_.Cluster(4) + 64, "UP         ", 0x10, 3);  // the grandparent
  fat_.File(fat_.Cluster(4) + 96, "F       TXT", 5, 4, 'f');
  fat_.Slot(fat_.Root(2), "SAME       ", 0x10, 4);  // a second name for B

  EXPECT_EQ(Exercise(fat_.bytes),
            (Tree{{"A", "<dir>"}, {"A/B", "<dir>"}, {"A/B/F.TXT", "ffff"}, {"SPIN", "<dir>"}}));
  ASSERT_TRUE(image_->EnterSubdirectory("SPIN"));
  EXPECT_EQ(image_->FirstFile(), nullptr);
}

TEST_F(DiskImageTest, NamesThatWouldLeaveTheDestination) {
  fat_.File(fat_.Root(0), "..         ", 2, 4, 'x');
  fat_.File(fat_.Root(1), "..\\EVIL TXT", 3, 4, 'x');
  fat_.File(fat_.Root(2), "../EVIL TXT", 4, 4, 'x');
  fat_.File(fat_.Root(3), "\001CTRL   TXT", 5, 4, 'x');
  fat_.File(fat_.Root(4), "           ", 6, 4, 'x');
  fat_.Subdirectory(fat_.Root(5), "A/B        ", 7, 0);
  fat_.File(fat_.Cluster(7) + 64, "IN      TXT", 8, 4, 'x');
  fat_.File(fat_.Root(6), "GOOD    TXT", 9, 4, 'g');
  fat_.File(fat_.Root(7), "AB\0CD   T\0X", 10, 4, 'n');  // the fields end at their NUL

  EXPECT_EQ(Exercise(fat_.bytes), (Tree{{"AB.T", "nnnn"}, {"GOOD.TXT", "gggg"}}));
  EXPECT_EQ(report_.skipped, 6u);  // five files and the directory, each counted
  EXPECT_EQ(report_.names.size(), UnpackReport::kNamesKept);
}

TEST_F(DiskImageTest, PathsOverTheLimitAreSkipped) {
  fat_.File(fat_.Root(0), "LONGNAMEXYZ", 2, 4, 'l');
  fat_.Subdirectory(fat_.Root(1), "SUBDIR     ", 3, 0);
  fat_.File(fat_.Cluster(3) + 64, "INNER   TXT", 4, 4, 'i');
  fat_.File(fat_.Root(2), "A          ", 5, 1, 'a');
  std::string deep = Out();  // leaves room for "A" only
  deep.append(kMaxPath - 3 - deep.size(), 'd');
  ASSERT_EQ(host_.MakeDirectory(deep), CreateDirectoryResult::kCreated);
  EXPECT_TRUE(Open().ExtractTree(deep));
  EXPECT_EQ(host_.ListDirectory(deep), Names{"A"});
}

}  // namespace
}  // namespace floppyset
