// DiskImage rules that mtools images do not reach: the used size, the ends of a directory,
// entering by name, and what a copy-out finds in place.
#include "image/disk_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/path.h"
#include "fat_test_image.h"
#include "platform/posix/posix_host.h"

namespace floppyset {
namespace {

using namespace testing;
using Names = std::vector<std::string>;

class DiskImageTest : public ::testing::Test {
 protected:
  DiskImage& Open() {
    image_ = std::make_unique<DiskImage>(host_, fat_.Save(dir_));
    EXPECT_TRUE(image_->IsOpen());
    return *image_;
  }
  Names FileNames() {
    Names names;
    for (auto* e = Open().FirstFile(); e; e = image_->NextFile(e))
      names.push_back(FormatEntryName(*e));
    return names;
  }
  std::string Out(const std::string& name = "") const { return dir_ / ("out/" + name); }

  PosixHost host_;
  TempDir dir_;
  TestFatImage fat_;
  std::unique_ptr<DiskImage> image_;
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
  ASSERT_EQ(host_.MakeDirectory(Out()), CreateDirectoryResult::kCreated);
  ASSERT_EQ(host_.MakeDirectory(Out("OLD")), CreateDirectoryResult::kCreated);
  WriteFileText(Out("KEPT.TXT"), "old");
  ASSERT_TRUE(host_.SetAttributes(Out("KEPT.TXT"), kAttrReadOnly));
  for (const std::string& destination : {dir_ / "out", Out()}) {  // with and without separator
    WriteFileText(Out("DATA.BIN"), "changed");
    DiskImage& image = Open();
    ASSERT_TRUE(image.ExtractTree(destination));
    EXPECT_EQ(image.CurrentDirectory, 0);
    EXPECT_TRUE(image.unpack_report().clean());
    EXPECT_EQ(ReadFileBytes(Out("DATA.BIN")), std::vector<uint8_t>(1000, 'd'));
    EXPECT_TRUE(ReadFileBytes(Out("EMPTY.TXT")).empty());
    EXPECT_EQ(ReadFileBytes(Out("RO/LEAF.TXT")), std::vector<uint8_t>(5, 'f'));
    EXPECT_EQ(ReadFileBytes(Out("OLD/X.TXT")), std::vector<uint8_t>(5, 'x'));
    EXPECT_EQ(ReadFileBytes(Out("KEPT.TXT")), std::vector<uint8_t>(4, 'k'));
    struct stat ro {
    }, kept{};
    EXPECT_EQ(::stat(Out("RO").c_str(), &ro) + ::stat(Out("KEPT.TXT").c_str(), &kept), 0);
    EXPECT_TRUE(ro.st_mode & 0200);
    EXPECT_FALSE(kept.st_mode & 0222);
  }
}

}  // namespace
}  // namespace floppyset
