#include "image/disk_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>

#include "base/path.h"
#include "fat_test_image.h"
#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::TestFatImage;

std::vector<std::string> FileNames(const DiskImage& image) {
  std::vector<std::string> names;
  for (auto* e = image.FirstFile(); e; e = image.NextFile(e)) names.push_back(FormatEntryName(*e));
  return names;
}
std::vector<std::string> SubdirectoryNames(const DiskImage& image) {
  std::vector<std::string> names;
  for (auto* e = image.FirstSubdirectory(); e; e = image.NextSubdirectory(e)) {
    names.push_back(FormatEntryName(*e));
  }
  return names;
}

struct ScopedTimeZone {
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    saved = old ? old : "";
    had = old != nullptr;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had) {
      setenv("TZ", saved.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::string saved;
  bool had;
};

class DiskImageTest : public ::testing::Test {
 protected:
  DiskImage& Open() {
    image_ = std::make_unique<DiskImage>(host_, fat_.Save(dir_));
    EXPECT_TRUE(image_->IsOpen());
    return *image_;
  }

  PosixHost host_;
  TempDir dir_;
  TestFatImage fat_;
  std::unique_ptr<DiskImage> image_;
};

TEST_F(DiskImageTest, MissingFileIsNotOpenAndNotCreated) {
  DiskImage image(host_, dir_ / "missing.ima");
  EXPECT_FALSE(image.IsOpen());
  EXPECT_EQ(image.FirstFile(), nullptr);
  EXPECT_EQ(image.UsedImageSize(), 0u);
  EXPECT_FALSE(image.ExtractTree(dir_.path()));
  EXPECT_FALSE(host_.Attributes(dir_ / "missing.ima"));
}

TEST_F(DiskImageTest, AddressArithmeticOfAStandardImage) {
  fat_.bytes[512 + 3] = 0x03;
  fat_.bytes[512 + 4] = 0x40;
  fat_.bytes[512 + 5] = 0x00;
  DiskImage& image = Open();
  EXPECT_EQ(image.NextCluster(2), 0x003);  // the middle byte's low half belongs to cluster 2
  EXPECT_EQ(image.NextCluster(3), 0x004);
  EXPECT_EQ(image.FatCopy(0) - image.BootSector(), 512);
  EXPECT_EQ(image.FatCopy(1) - image.BootSector(), 10 * 512);
  EXPECT_EQ(image.FatCopy(2), nullptr);
  EXPECT_EQ(image.RootDirectory()->raw - image.BootSector(), 19 * 512);
  EXPECT_EQ(image.ClusterToSector(2), 33);
  EXPECT_EQ(image.ClusterData(2) - image.BootSector(), 33 * 512);
  EXPECT_EQ(image.ClusterData(0), nullptr);
  EXPECT_EQ(image.ClusterData(1), nullptr);
  EXPECT_EQ(image.ClusterData(2849), nullptr);  // behind the last sector
}

TEST_F(DiskImageTest, UsedSizeOfEmptyRoots) {
  EXPECT_EQ(Open().UsedImageSize(), 16'896u);

  TestFatImage::Slot(fat_.Root(0), "\xE5OLD    TXT", 0x20, 2, 10);
  TestFatImage::Slot(fat_.Root(1), "VOLUME     ", 0x08);
  DiskImage& labelled = Open();
  EXPECT_EQ(labelled.FirstFile(), nullptr);
  EXPECT_EQ(labelled.FirstSubdirectory(), nullptr);
  EXPECT_EQ(labelled.UsedImageSize(), 16'896u);

  TestFatImage::Slot(fat_.Root(2), "EMPTY   TXT", 0x20, 0, 0);
  EXPECT_EQ(Open().UsedImageSize(), 0u);  // only empty files: write the whole disk
}

TEST_F(DiskImageTest, UsedSizeEndsBehindTheHighestCluster) {
  fat_.File(fat_.Root(0), "SMALL   TXT", 100, 10, 'a');
  EXPECT_EQ(Open().UsedImageSize(), 67'584u);

  // The highest cluster counts wherever it sits in a chain, also inside a subdirectory.
  fat_.Slot(fat_.Root(1), "SUB        ", 0x10, 50);
  fat_.Chain({50});
  fat_.DotSlots(50, 0);
  fat_.Slot(fat_.Cluster(50) + 64, "DEEP    BIN", 0x20, 60, 2000);
  fat_.Chain({60, 1403, 61, 62});
  EXPECT_EQ(Open().UsedImageSize(), 734'720u);
}

TEST_F(DiskImageTest, WalkSeparatesFilesFromSubdirectoriesInSlotOrder) {
  fat_.Slot(fat_.Root(0), "LABEL      ", 0x08);
  fat_.Slot(fat_.Root(1), "Bl\0o\0n\0g\0 \0", 0x0F);  // a long-name slot
  fat_.File(fat_.Root(2), "README     ", 2, 5, 'r');
  fat_.Slot(fat_.Root(3), "SUB        ", 0x10, 3);
  fat_.Chain({3});
  fat_.DotSlots(3, 0);
  fat_.Slot(fat_.Root(4), "\xE5GONE   TXT", 0x20);
  fat_.Slot(fat_.Root(5), "DEVICE     ", 0x40);
  fat_.File(fat_.Root(6), "HIDDEN  SYS", 4, 3, 'h', 0x27);
  fat_.Slot(fat_.Root(7), "TOOLS      ", 0x10, 5);
  fat_.Chain({5});
  fat_.DotSlots(5, 0);
  DiskImage& image = Open();
  EXPECT_EQ(FileNames(image), (std::vector<std::string>{"README.", "HIDDEN.SYS"}));
  EXPECT_EQ(SubdirectoryNames(image), (std::vector<std::string>{"SUB.", "TOOLS."}));

  image.CurrentDirectory = 3;  // "." and ".." are not subdirectories to descend into
  EXPECT_TRUE(SubdirectoryNames(image).empty());
  EXPECT_TRUE(FileNames(image).empty());
}

TEST_F(DiskImageTest, DirectoryEndMarkers) {
  fat_.File(fat_.Root(0), "A       TXT", 2, 1, 'a');
  fat_.File(fat_.Root(1), "B       TXT", 3, 1, 'b');
  fat_.Root(2)[0] = 0xF6;  // formatted filler ends the directory from the second slot on
  fat_.File(fat_.Root(3), "C       TXT", 4, 1, 'c');
  EXPECT_EQ(FileNames(Open()), (std::vector<std::string>{"A.TXT", "B.TXT"}));

  fat_.Root(1)[0] = 0x00;
  EXPECT_EQ(FileNames(Open()), (std::vector<std::string>{"A.TXT"}));
}

TEST_F(DiskImageTest, TheLastRootSlotEndsTheWalk) {
  for (size_t i = 0; i < 224; ++i) {
    const std::string name = "F" + std::to_string(1000 + i) + "   TXT";
    TestFatImage::Slot(fat_.Root(i), name.c_str(), 0x20);
  }
  TestFatImage::Slot(fat_.Root(224), "BEYOND  TXT", 0x20);  // the first data sector
  DiskImage& image = Open();
  const auto names = FileNames(image);
  ASSERT_EQ(names.size(), 224u);
  EXPECT_EQ(names.back(), "F1223.TXT");
  EXPECT_EQ(image.NextEntry(image.RootDirectory() + 223), nullptr);
}

TEST_F(DiskImageTest, SubdirectoryOfTwoClusters) {
  fat_.Slot(fat_.Root(0), "BIG        ", 0x10, 7);
  fat_.Chain({7, 9});  // not consecutive
  fat_.DotSlots(7, 0);
  for (int i = 0; i < 20; ++i) {
    const std::string name = "FILE" + std::to_string(10 + i) + "  TXT";
    uint8_t* slot = i < 14 ? fat_.Cluster(7) + (i + 2) * 32 : fat_.Cluster(9) + (i - 14) * 32;
    TestFatImage::Slot(slot, name.c_str(), 0x20);
  }
  DiskImage& image = Open();
  ASSERT_TRUE(image.EnterSubdirectory("BIG"));
  const auto* last_of_first = reinterpret_cast<const DirectoryEntry*>(image.ClusterData(7)) + 15;
  EXPECT_EQ(image.NextEntry(last_of_first)->raw, image.ClusterData(9));
  const auto names = FileNames(image);
  ASSERT_EQ(names.size(), 20u);
  EXPECT_EQ(names.back(), "FILE29.TXT");
}

TEST_F(DiskImageTest, EnterAndLeaveSubdirectories) {
  fat_.File(fat_.Root(0), "TOOLS      ", 2, 4, 't');  // a plain file of the same name
  fat_.Slot(fat_.Root(1), "TOOLS      ", 0x10, 3);
  fat_.Chain({3});
  fat_.DotSlots(3, 0);
  fat_.Slot(fat_.Cluster(3) + 64, "BIN     OLD", 0x10, 4);
  fat_.Chain({4});
  fat_.DotSlots(4, 3);
  DiskImage& image = Open();

  EXPECT_TRUE(image.EnterSubdirectory("TOOLS\\"));
  EXPECT_EQ(image.CurrentDirectory, 3);
  image.LeaveSubdirectory();
  EXPECT_EQ(image.CurrentDirectory, 0);

  EXPECT_TRUE(image.EnterSubdirectory("tools"));
  EXPECT_TRUE(image.EnterSubdirectory("bin.old"));
  EXPECT_EQ(image.CurrentDirectory, 4);
  image.LeaveSubdirectory();
  EXPECT_EQ(image.CurrentDirectory, 3);
  image.LeaveSubdirectory();
  image.LeaveSubdirectory();  // no effect in the root
  EXPECT_EQ(image.CurrentDirectory, 0);

  // A host path: its last component names the subdirectory.
  EXPECT_TRUE(image.EnterSubdirectory(dir_ / "TOOLS" + kPathSeparator));
  image.CurrentDirectory = 0;

  EXPECT_FALSE(image.EnterSubdirectory("MISSING"));
  EXPECT_FALSE(image.EnterSubdirectory("TOOLSANDMORE"));  // no 8.3 form, no cut-off match
  EXPECT_EQ(image.CurrentDirectory, 0);
}

TEST(DiskImageNames, FormatAndConvert) {
  DirectoryEntry entry{};
  TestFatImage::Slot(entry.raw, "FOO        ", 0x20);
  EXPECT_EQ(FormatEntryName(entry), "FOO.");
  EXPECT_EQ(HostEntryName(entry), "FOO");
  TestFatImage::Slot(entry.raw, "AUTOEXECBAT", 0x20);
  EXPECT_EQ(FormatEntryName(entry, "C:\\OUT\\"), "C:\\OUT\\AUTOEXEC.BAT");
  EXPECT_EQ(FormatEntryName(entry, "/out/"), "/out/AUTOEXEC.BAT");
  EXPECT_EQ(FormatEntryName(entry, "C:\\OUT"),
            std::string("C:\\OUT") + kPathSeparator + "AUTOEXEC.BAT");

  std::string name = "readme.txt";
  EXPECT_EQ(ToDirectoryName(name), "README  TXT");
  EXPECT_EQ(name, "README");
  name = "sub";
  EXPECT_EQ(ToDirectoryName(name), "SUB        ");

  std::string text = "   ";
  TrimTrailingBlanks(text);
  EXPECT_EQ(text, "");
  text = " A B  ";
  TrimTrailingBlanks(text);
  EXPECT_EQ(text, " A B");
}

class DiskImageExtractTest : public DiskImageTest {
 protected:
  std::string Out(const std::string& name = "") const { return dir_ / ("out/" + name); }
  void SetUp() override { ASSERT_EQ(host_.MakeDirectory(Out()), CreateDirectoryResult::kCreated); }
  static struct stat Stat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
  }
};

TEST_F(DiskImageExtractTest, FilesGetTheirDataTimesAndAttributes) {
  ScopedTimeZone zone("EST5");
  fat_.File(fat_.Root(0), "DATA    BIN", 2, 1000, 'd');
  fat_.Cluster(3)[1000 - 512 + 5] = 'x';  // slack behind the size is not copied
  fat_.File(fat_.Root(1), "EMPTY   TXT", 0, 0, 0);
  StoreLe16(fat_.Root(1) + 26, 40);  // a cluster with a size of 0: still empty
  fat_.File(fat_.Root(2), "LOCKED  TXT", 4, 700, 'l', 0x21);
  fat_.File(fat_.Root(3), "README     ", 6, 3, 'r');
  // A fragmented file: 8, 10, 9, 11.
  fat_.Slot(fat_.Root(4), "FRAG    DAT", 0x20, 8, 2048);
  fat_.Chain({8, 10, 9, 11});
  for (uint16_t c : {8, 10, 9, 11}) std::memset(fat_.Cluster(c), 'A' + c, 512);

  EXPECT_TRUE(Open().ExtractTree(Out()));

  // Times first: reading a file moves its access time.
  // 1 January 2003, 16:00:00 local (UTC-5) is 21:00 UTC.
  for (const char* name : {"DATA.BIN", "EMPTY.TXT", "LOCKED.TXT"}) {
    const struct stat st = Stat(Out(name));
    EXPECT_EQ(st.st_mtime, 1041454800) << name;
    EXPECT_EQ(st.st_atime, 1041454800) << name;
  }
  EXPECT_EQ(ReadFileBytes(Out("DATA.BIN")), std::vector<uint8_t>(1000, 'd'));
  EXPECT_EQ(ReadFileBytes(Out("EMPTY.TXT")).size(), 0u);
  EXPECT_EQ(ReadFileBytes(Out("LOCKED.TXT")), std::vector<uint8_t>(700, 'l'));
  EXPECT_EQ(ReadFileBytes(Out("README")), std::vector<uint8_t>(3, 'r'));
  std::vector<uint8_t> fragmented;
  for (uint8_t c : {8, 10, 9, 11}) fragmented.insert(fragmented.end(), 512, 'A' + c);
  EXPECT_EQ(ReadFileBytes(Out("FRAG.DAT")), fragmented);

  EXPECT_EQ(Stat(Out("LOCKED.TXT")).st_mode & 0222, 0u);
  EXPECT_NE(Stat(Out("DATA.BIN")).st_mode & 0200, 0u);
}

TEST_F(DiskImageExtractTest, SubdirectoriesAndWhatIsThereAlready) {
  fat_.File(fat_.Root(0), "TOP     TXT", 2, 10, 'n');
  fat_.Slot(fat_.Root(1), "NEW        ", 0x10, 3);
  fat_.Chain({3});
  fat_.DotSlots(3, 0);
  fat_.File(fat_.Cluster(3) + 64, "INNER   TXT", 4, 5, 'i');
  fat_.Slot(fat_.Cluster(3) + 96, "RO         ", 0x11, 5);  // a read-only directory
  fat_.Chain({5});
  fat_.DotSlots(5, 3);
  fat_.File(fat_.Cluster(5) + 64, "LEAF    TXT", 6, 5, 'f');
  fat_.Slot(fat_.Root(2), "OLD        ", 0x10, 7);
  fat_.Chain({7});
  fat_.DotSlots(7, 0);
  fat_.File(fat_.Cluster(7) + 64, "X       TXT", 8, 5, 'x');
  fat_.File(fat_.Root(3), "KEPT    TXT", 9, 4, 'k');

  ASSERT_EQ(host_.MakeDirectory(Out("OLD")), CreateDirectoryResult::kCreated);
  testing::WriteFileText(Out("TOP.TXT"), "old");
  testing::WriteFileText(Out("KEPT.TXT"), "old");
  ASSERT_TRUE(host_.SetAttributes(Out("KEPT.TXT"), kAttrReadOnly));

  DiskImage& image = Open();
  ASSERT_TRUE(image.ExtractTree(dir_ / "out"));  // no trailing separator
  EXPECT_EQ(image.CurrentDirectory, 0);
  EXPECT_EQ(ReadFileBytes(Out("TOP.TXT")), std::vector<uint8_t>(10, 'n'));
  EXPECT_EQ(ReadFileBytes(Out("NEW/INNER.TXT")), std::vector<uint8_t>(5, 'i'));
  EXPECT_EQ(ReadFileBytes(Out("NEW/RO/LEAF.TXT")), std::vector<uint8_t>(5, 'f'));
  EXPECT_NE(Stat(Out("NEW/RO")).st_mode & 0200, 0u);  // stays removable
  // An existing directory is entered, an existing read-only file replaced.
  EXPECT_EQ(ReadFileBytes(Out("OLD/X.TXT")), std::vector<uint8_t>(5, 'x'));
  EXPECT_EQ(ReadFileBytes(Out("KEPT.TXT")), std::vector<uint8_t>(4, 'k'));
  EXPECT_TRUE(image.unpack_report().clean());

  // A second run into a destination with a trailing separator names the same files.
  testing::WriteFileText(Out("TOP.TXT"), "changed");
  ASSERT_TRUE(image.ExtractTree(Out()));
  EXPECT_EQ(ReadFileBytes(Out("TOP.TXT")), std::vector<uint8_t>(10, 'n'));
}

}  // namespace
}  // namespace floppyset
