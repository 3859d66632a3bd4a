// FAT12 images made by the independent tools (mtools, dosfstools) against DiskImage, and our
// FAT12 builder's images against them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>

#include "base/path.h"
#include "image/disk_image.h"
#include "image/image_check.h"
#include "mkfloppyset/fat12_builder.h"
#include "mkfloppyset/fat_names.h"
#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::RunShell;
using testing::ShellOutput;
using testing::TempDir;

std::string Mtools(const std::string& image, const std::string& command) {
  return "MTOOLS_SKIP_CHECK=1 " + command + " -i '" + image + "' ";
}

struct FileFacts {
  std::vector<uint8_t> bytes;
  int64_t mtime = 0;  // 0 for a directory
  bool operator==(const FileFacts&) const = default;
};

// Every path below `root` with its contents and modification time. Paths are upper case, or,
// with `image`, the 8.3 names that mtools gives the long names of mcopy's copy.
std::map<std::string, FileFacts> TreeFacts(const std::string& root, const std::string& image = "") {
  std::map<std::string, FileFacts> facts;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    std::string key = fs::relative(item.path(), root).string();
    if (image.empty()) {
      for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    } else {
      key = ShellOutput(Mtools(image, "mshortname") + "'::/" + key + "'");
      key = key.substr(3, key.find('\n') - 3);  // "::/" ... newline
    }
    FileFacts& f = facts[key];
    if (!item.is_directory()) {
      struct stat st {};
      ::stat(item.path().c_str(), &st);
      f.bytes = ReadFileBytes(item.path());
      f.mtime = st.st_mtime;
    }
  }
  return facts;
}

// Every path below `root` as it is, times to the DOS two seconds.
std::map<std::string, FileFacts> ExactFacts(const std::string& root) {
  std::map<std::string, FileFacts> facts;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    FileFacts& f = facts[fs::relative(item.path(), root).string()];
    if (item.is_directory()) continue;
    struct stat st {};
    ::stat(item.path().c_str(), &st);
    f.bytes = ReadFileBytes(item.path());
    f.mtime = st.st_mtime & ~int64_t{1};
  }
  return facts;
}

class MtoolsOracleTest : public ::testing::Test {
 protected:
  // FAT times are local: mtools and we must agree in a zone that is not UTC.
  void SetUp() override {
    setenv("TZ", "EST5", 1);
    tzset();
  }
  void TearDown() override {
    unsetenv("TZ");
    tzset();
  }
  std::string Image() const { return dir_ / "disk.ima"; }
  void Run(const std::string& script) {
    ASSERT_EQ(RunShell("cd '" + dir_.path() + "' && export MTOOLS_SKIP_CHECK=1 && " + script +
                       " >/dev/null 2>&1"),
              0)
        << script;
  }

  // ExtractTree against mcopy -s of the same image: names, bytes and times.
  void ExpectAgreement() {
    const std::string theirs = dir_ / "mcopy", mine = dir_ / "ours";
    ASSERT_EQ(host_.MakeDirectory(theirs), CreateDirectoryResult::kCreated);
    ASSERT_EQ(host_.MakeDirectory(mine), CreateDirectoryResult::kCreated);
    ASSERT_EQ(RunShell(Mtools(Image(), "mcopy -s -m -n") + "'::*' '" + theirs + "'"), 0);
    DiskImage image(host_, Image());
    const ImageCheck check = CheckDiskImage(image);
    EXPECT_TRUE(check.sound()) << check.reason << (check.files.empty() ? "" : check.files[0].what);
    ASSERT_TRUE(image.ExtractTree(mine));
    const auto expected = TreeFacts(theirs, Image());
    EXPECT_GT(expected.size(), 4u);
    EXPECT_EQ(TreeFacts(mine), expected);
  }

  PosixHost host_;
  TempDir dir_;
};

// Images made by mformat (deleted files, long names, a directory of two clusters, attributes,
// a new label) and by mkfs.fat.
TEST_F(MtoolsOracleTest, ImagesOfTheRealToolsCopyOutLikeMcopy) {
  Run("mkdir src && cd src && printf 'no extension' > README && head -c 3000 /dev/urandom > D.BIN "
      "&& touch -d '2003-01-01 16:00:00' README && touch -d '1999-12-31 23:59:58' D.BIN && : > "
      "E.TXT && printf long > LongFileName.txt && printf x > 'another one.dat' && printf gone > "
      "GONE.TXT && printf ro > RO.TXT && printf secret > HIDDEN.SYS && head -c 1500 /dev/urandom > "
      "FIRST.BIN && head -c 5000 /dev/urandom > FRAG.BIN && for i in $(seq 10 30); do echo $i > "
      "F$i.TXT; done && printf inner > INNER.TXT && M='-m -i ../disk.ima' && mformat -C -f 1440 -v "
      "ORACLE -i ../disk.ima :: && mmd -i ../disk.ima ::SUB ::SUB/DEEP ::BIG ::tools && mcopy $M "
      "README D.BIN E.TXT GONE.TXT FIRST.BIN :: && mdel -i ../disk.ima ::GONE.TXT ::FIRST.BIN && "
      "mcopy $M FRAG.BIN LongFileName.txt 'another one.dat' RO.TXT HIDDEN.SYS :: && mcopy $M "
      "F*.TXT ::BIG && mcopy $M INNER.TXT README ::SUB/DEEP && mcopy $M D.BIN ::tools && mattrib "
      "-i ../disk.ima +r ::RO.TXT && mattrib -i ../disk.ima +h ::HIDDEN.SYS && mlabel -i "
      "../disk.ima ::NEWLABEL");
  ExpectAgreement();
  Run("rm -rf disk.ima mcopy ours && mkfs.fat -C -F 12 -n PLAIN disk.ima 1440 && cd src && "
      "mmd -i ../disk.ima ::A ::A/B && mcopy -m -i ../disk.ima README D.BIN ::A/B && "
      "mcopy -m -i ../disk.ima README INNER.TXT E.TXT ::");
  ExpectAgreement();
}

// Where names are converted (a UTF-8 locale), the long names mcopy gives come back as they
// are; a long name whose checksum names another entry is not taken.
TEST_F(MtoolsOracleTest, LongNamesComeBackLikeMcopy) {
  Run("mkdir src && cd src && printf long > 'Long File Name.txt' && printf u > '\xc3\x9c"
      "ber.txt' "
      "&& "
      "printf r > README && M='-m -i ../disk.ima' && mformat -C -f 1440 -i ../disk.ima :: && "
      "mmd -i ../disk.ima ::tools && mcopy $M 'Long File Name.txt' '\xc3\x9c"
      "ber.txt' README :: && "
      "mcopy $M README ::tools");
  const std::string theirs = dir_ / "mcopy", mine = dir_ / "ours";
  ASSERT_EQ(host_.MakeDirectory(theirs), CreateDirectoryResult::kCreated);
  ASSERT_EQ(host_.MakeDirectory(mine), CreateDirectoryResult::kCreated);
  ASSERT_EQ(RunShell(Mtools(Image(), "mcopy -s -m -n") + "'::*' '" + theirs + "'"), 0);
  {
    DiskImage image(host_, Image());
    image.SetNameCodePage(437);
    ASSERT_TRUE(image.ExtractTree(mine));
  }
  std::set<std::string> ours, expected;
  for (const auto& item : fs::recursive_directory_iterator(mine)) {
    ours.insert(fs::relative(item.path(), mine).string());
  }
  for (const auto& item : fs::recursive_directory_iterator(theirs)) {
    expected.insert(fs::relative(item.path(), theirs).string());
  }
  EXPECT_EQ(ours, expected);
  EXPECT_TRUE(expected.count("Long File Name.txt"));

  // Every long-name part's checksum off by one: no entry takes a long name.
  std::vector<uint8_t> bytes = ReadFileBytes(Image());
  {
    DiskImage intact(host_, Image());
    const DirectoryEntry* root = intact.RootDirectory();
    ASSERT_NE(root, nullptr);
    for (size_t slot = 0; root[slot].marker() != 0; ++slot) {
      if (root[slot].attributes() != 0x0F) continue;
      bytes[size_t(reinterpret_cast<const uint8_t*>(&root[slot]) - intact.data()) + 13] ^= 1;
    }
  }
  testing::WriteFileBytes(dir_ / "broken.ima", bytes);
  DiskImage broken(host_, dir_ / "broken.ima");
  for (const DirectoryEntry* file = broken.FirstFile(); file; file = broken.NextFile(file)) {
    EXPECT_FALSE(broken.LongName(*file)) << FormatEntryName(*file);
  }
}

// Every floppy size of both tools has a FAT12 layout the reader takes, and checks sound.
TEST_F(MtoolsOracleTest, EveryFloppyFormatChecksSound) {
  struct Count : FatTreeVisitor {
    void File(const DirectoryEntry&) override { ++files; }
    int files = 0;
  };
  Run("mkdir fmt && printf data > fmt/DATA.TXT && head -c 5000 /dev/urandom > fmt/BIG.BIN");
  for (const char* kilobytes : {"360", "720", "1200", "1440", "2880"}) {
    for (const std::string& format :
         {"mkfs.fat -C -F 12 disk.ima " + std::string(kilobytes),
          "mformat -C -f " + std::string(kilobytes) + " -i disk.ima ::"}) {
      SCOPED_TRACE(format);
      Run("rm -f disk.ima && " + format +
          " && mmd -i disk.ima ::SUB && mcopy -i disk.ima fmt/DATA.TXT fmt/BIG.BIN ::SUB && "
          "mcopy -i disk.ima fmt/DATA.TXT ::");
      DiskImage image(host_, Image());
      const ImageCheck check = CheckDiskImage(image);
      EXPECT_TRUE(check.sound()) << check.reason;
      Count count;
      image.WalkTree(count);
      EXPECT_EQ(count.files, 3);
    }
  }
}

TEST_F(MtoolsOracleTest, OurBuilderMakesCleanImages) {
  const std::string source = dir_ / "source";
  Run("mkdir -p source/sub/deeper source/many && cd source && "
      "printf 'hello' > readme && head -c 100000 /dev/urandom > BIG.BIN && : > empty.txt && "
      "printf locked > LOCKED.TXT && chmod a-w LOCKED.TXT && "
      "head -c 1025 /dev/urandom > sub/deeper/Data.Bin && printf x > sub/NOEXT && "
      "for i in $(seq 1 40); do printf \"n$i\" > many/N$i.TXT; done && "
      "touch -d '2010-06-15 08:30:10' readme BIG.BIN sub/deeper/Data.Bin");
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(BuildFat12Image(source, bytes, error)) << error;
  ASSERT_EQ(bytes.size(), 1'474'560u);
  testing::WriteFileBytes(Image(), bytes);

  EXPECT_EQ(RunShell("fsck.fat -n '" + Image() + "' >/dev/null 2>&1"), 0)
      << ShellOutput("fsck.fat -n '" + Image() + "' 2>&1");
  EXPECT_NE(ShellOutput(Mtools(Image(), "mattrib") + "::LOCKED.TXT").find(" R "),
            std::string::npos);
  ExpectAgreement();

  // mcopy gives back the source files under their own names, times to the DOS two seconds.
  EXPECT_EQ(ExactFacts(dir_ / "mcopy"), ExactFacts(source));
}

// A tree with long, non-ASCII and old-dated names spread over several disks: every image is
// clean for fsck.fat, and mcopy of all of them gives back the tree.
TEST_F(MtoolsOracleTest, SplitTreeComesBackThroughMtools) {
  const std::string source = dir_ / "source";
  Run("mkdir -p source/docs/deep && cd source && printf a > 'Ä.TXT' && printf b > 'é.txt' && "
      "printf c > 'Long File Name.txt' && printf d > LongFileName.txt && printf e > LONGFI~1.TXT "
      "&& printf f > docs/.hidden && printf g > 'docs/a+b;c.txt' && printf h > RO.TXT && "
      "chmod a-w RO.TXT && for f in one two three; do head -c 600000 /dev/urandom > docs/$f.bin; "
      "done && head -c 70000 /dev/urandom > docs/deep/Δ.dat && "
      "touch -d '1987-06-05 04:03:02' 'Ä.TXT' docs/deep/Δ.dat");
  std::vector<Fat12Disk> disks;
  std::string error;
  ASSERT_FALSE(SplitToFat12Images(source, 0, disks, error)) << "Δ is not in code page 437";
  EXPECT_NE(error.find("docs/deep/Δ.dat"), std::string::npos) << error;
  Run("mv source/docs/deep/Δ.dat source/docs/deep/ßeta.dat");
  ASSERT_TRUE(SplitToFat12Images(source, 0, disks, error)) << error;
  ASSERT_EQ(disks.size(), 2u);
  Run("mkdir mcopy");
  for (size_t i = 0; i < disks.size(); ++i) {
    testing::WriteFileBytes(Image(), disks[i].image);
    EXPECT_EQ(RunShell("fsck.fat -n '" + Image() + "' >/dev/null 2>&1"), 0)
        << ShellOutput("fsck.fat -n '" + Image() + "' 2>&1");
    Run("mcopy -s -m -n -i disk.ima '::*' mcopy/");
    if (i == 0) {
      const std::string listing = ShellOutput(Mtools(Image(), "mdir") + "::");
      for (const char* line : {"LONGFI~1 TXT", "LONGFI~2 TXT", "LONGFI~3 TXT", "Long File Name.txt",
                               "Ä.TXT", "é.txt"}) {
        EXPECT_NE(listing.find(line), std::string::npos) << line << "\n" << listing;
      }
      EXPECT_NE(ShellOutput(Mtools(Image(), "mattrib") + "::RO.TXT").find(" R "),
                std::string::npos);
    }
  }
  EXPECT_EQ(ExactFacts(dir_ / "mcopy"), ExactFacts(source));
}

TEST(Fat12BuilderTest, RefusesWhatDoesNotFit) {
  struct {
    std::vector<std::pair<std::string, size_t>> files;  // name, size
    std::string reason;
  } cases[] = {
      {{{"国.TXT", 1}}, "\"国.TXT\": the character '国' (U+56FD) has no equivalent"},
      {{{"BIG.BIN", 1'460'000}}, "1.44 MB"},
      {{{"a.txt", 1}, {"A.TXT", 1}}, "only in case"},
      {{{"con.txt", 1}}, "\"con.txt\" is the name of a DOS device"},
      {{{"LPT1", 1}}, "DOS device"},
      {{}, "224"},
  };
  for (int i = 0; i < 225; ++i) cases[5].files.emplace_back("F" + std::to_string(i), 0);
  for (const auto& c : cases) {
    TempDir dir;
    for (const auto& [name, size] : c.files)
      testing::WriteFileText(dir / name, std::string(size, 'b'));
    std::vector<uint8_t> image;
    std::string error;
    EXPECT_FALSE(BuildFat12Image(dir.path(), image, error)) << c.reason;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

// The short names Windows and mtools give, unique in their directory.
TEST(FatNamesTest, ShortFormsAsWindowsGivesThem) {
  const std::vector<std::string> names = {"README",
                                          "readme.txt",
                                          "Long File Name.txt",
                                          "LongFileName.txt",
                                          "LONGFI~1.TXT",
                                          "1.5.0.1.txt",
                                          ".bashrc",
                                          "a+b.c",
                                          "é.TXT",
                                          "ÿ.txt",
                                          "x.tar.gz"};
  const std::vector<std::pair<std::string, bool>> expected = {
      // 8.3 slot text, long name kept
      {"README     ", false},   {"README  TXT", true},  {"LONGFI~2TXT", true},
      {"LONGFI~3TXT", true},    {"LONGFI~1TXT", false}, {"1501~1  TXT", true},
      {"BASHRC~1   ", true},    {"A_B~1   C  ", true},  {"\x90       TXT", true},
      {"\x98       TXT", true}, {"XTAR~1  GZ ", true}};
  std::vector<FatName> out;
  std::string error;
  ASSERT_TRUE(MakeFatNames(names, "", 437, out, error)) << error;
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(std::pair(out[i].short_name, !out[i].long_name.empty()), expected[i]) << names[i];
  }
}

}  // namespace
}  // namespace floppyset
