// DiskImage rules that mtools images do not reach: the used size, the ends of a directory,
// entering by name, and what a copy-out finds in place.
#include "image/disk_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/path.h"
#include "fat_test_image.h"
#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using testing::ReadFileBytes;
using testing::TestFatImage;

std::vector<std::string> FileNames(const DiskImage& image) {
  std::vector<std::string> names;
  for (auto* e = image.FirstFile(); e; e = image.NextFile(e)) names.push_back(FormatEntryName(*e));
  return names;
}

bool Writable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0200);
}

class DiskImageTest : public ::testing::Test {
 protected:
  DiskImage& Open() {
    image_ = std::make_unique<DiskImage>(host_, fat_.Save(dir_));
    EXPECT_TRUE(image_->IsOpen());
    return *image_;
  }
  // A subdirectory slot at `slot` whose one cluster holds its "." and ".." slots.
  void Subdirectory(uint8_t* slot, const char* name11, uint16_t cluster, uint16_t parent) {
    TestFatImage::Slot(slot, name11, 0x10, cluster);
    fat_.Chain({cluster});
    fat_.DotSlots(cluster, parent);
  }
  std::string Out(const std::string& name = "") const { return dir_ / ("out/" + name); }

  PosixHost host_;
  testing::TempDir dir_;
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
  Subdirectory(fat_.Root(4), "SUB        ", 50, 0);
  TestFatImage::Slot(fat_.Cluster(50) + 64, "DEEP    BIN", 0x20, 60, 2000);
  fat_.Chain({60, 1403, 61, 62});
  EXPECT_EQ(Open().UsedImageSize(), 734'720u);
}

TEST_F(DiskImageTest, DirectoriesEndAtAMarkerOrTheLastRootSlot) {
  for (size_t i = 0; i < 224; ++i) {
    TestFatImage::Slot(fat_.Root(i), ("F" + std::to_string(1000 + i) + "   TXT").c_str(), 0x20);
  }
  TestFatImage::Slot(fat_.Root(224), "BEYOND  TXT", 0x20);  // the first data sector
  const auto names = FileNames(Open());
  ASSERT_EQ(names.size(), 224u);
  EXPECT_EQ(names.back(), "F1223.TXT");

  fat_.Root(2)[0] = 0xF6;  // formatted filler ends the directory from the second slot on
  EXPECT_EQ(FileNames(Open()), (std::vector<std::string>{"F1000.TXT", "F1001.TXT"}));
  fat_.Root(1)[0] = 0x00;
  EXPECT_EQ(FileNames(Open()), (std::vector<std::string>{"F1000.TXT"}));
}

TEST_F(DiskImageTest, SubdirectoriesAreEnteredByTheirLastNameComponent) {
  fat_.File(fat_.Root(0), "TOOLS      ", 2, 4, 't');  // a plain file of the same name
  Subdirectory(fat_.Root(1), "TOOLS      ", 3, 0);
  Subdirectory(fat_.Cluster(3) + 64, "BIN     OLD", 4, 3);
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

TEST_F(DiskImageTest, CopyOutKeepsWhatIsInPlaceAndOnlyTheFilesBytes) {
  DiskImage missing(host_, dir_ / "missing.ima");
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_FALSE(missing.ExtractTree(dir_.path()));
  EXPECT_FALSE(host_.Attributes(dir_ / "missing.ima"));

  fat_.File(fat_.Root(0), "DATA    BIN", 2, 1000, 'd');
  fat_.Cluster(3)[1000 - 512 + 5] = 'x';  // slack behind the size is not copied
  fat_.File(fat_.Root(1), "EMPTY   TXT", 0, 0, 0);
  StoreLe16(fat_.Root(1) + 26, 40);  // a cluster with a size of 0: still empty
  fat_.File(fat_.Root(2), "LOCKED  TXT", 4, 700, 'l', 0x21);
  Subdirectory(fat_.Root(3), "RO         ", 10, 0);
  fat_.Root(3)[11] = 0x11;  // a read-only directory
  fat_.File(fat_.Cluster(10) + 64, "LEAF    TXT", 11, 5, 'f');
  Subdirectory(fat_.Root(4), "OLD        ", 12, 0);
  fat_.File(fat_.Cluster(12) + 64, "X       TXT", 13, 5, 'x');
  fat_.File(fat_.Root(5), "KEPT    TXT", 14, 4, 'k');
  ASSERT_EQ(host_.MakeDirectory(Out()), CreateDirectoryResult::kCreated);
  ASSERT_EQ(host_.MakeDirectory(Out("OLD")), CreateDirectoryResult::kCreated);
  testing::WriteFileText(Out("DATA.BIN"), "old");
  testing::WriteFileText(Out("KEPT.TXT"), "old");
  ASSERT_TRUE(host_.SetAttributes(Out("KEPT.TXT"), kAttrReadOnly));

  DiskImage& image = Open();
  ASSERT_TRUE(image.ExtractTree(dir_ / "out"));  // no trailing separator
  EXPECT_EQ(image.CurrentDirectory, 0);
  EXPECT_EQ(ReadFileBytes(Out("DATA.BIN")), std::vector<uint8_t>(1000, 'd'));
  EXPECT_TRUE(ReadFileBytes(Out("EMPTY.TXT")).empty());
  EXPECT_EQ(ReadFileBytes(Out("LOCKED.TXT")), std::vector<uint8_t>(700, 'l'));
  EXPECT_FALSE(Writable(Out("LOCKED.TXT")));
  EXPECT_EQ(ReadFileBytes(Out("RO/LEAF.TXT")), std::vector<uint8_t>(5, 'f'));
  EXPECT_TRUE(Writable(Out("RO")));  // stays removable
  // An existing directory is entered, an existing read-only file replaced.
  EXPECT_EQ(ReadFileBytes(Out("OLD/X.TXT")), std::vector<uint8_t>(5, 'x'));
  EXPECT_EQ(ReadFileBytes(Out("KEPT.TXT")), std::vector<uint8_t>(4, 'k'));
  EXPECT_TRUE(image.unpack_report().clean());

  // A second run into a destination with a trailing separator replaces the same files.
  testing::WriteFileText(Out("DATA.BIN"), "changed");
  ASSERT_TRUE(image.ExtractTree(Out()));
  EXPECT_EQ(ReadFileBytes(Out("DATA.BIN")), std::vector<uint8_t>(1000, 'd'));
}

}  // namespace
}  // namespace floppyset
