// FAT12 images made by the independent tools (mtools, dosfstools) against DiskImage, and our
// FAT12 builder's images against them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "base/path.h"
#include "image/disk_image.h"
#include "image/image_check.h"
#include "mkfloppyset/fat12_builder.h"
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

  // mcopy gives back the source files, names in upper case, times to the DOS two seconds.
  auto copied = TreeFacts(dir_ / "mcopy");
  auto original = TreeFacts(source);
  for (auto* tree : {&copied, &original}) {
    for (auto& [name, facts] : *tree) facts.mtime &= ~int64_t{1};
  }
  EXPECT_EQ(copied, original);
}

TEST(Fat12BuilderTest, RefusesWhatDoesNotFit) {
  struct {
    std::vector<std::pair<std::string, size_t>> files;  // name, size
    std::string reason;
  } cases[] = {
      {{{"much too long.txt", 1}}, "much too long.txt"},
      {{{"BIG.BIN", 1'460'000}}, "1.44 MB"},
      {{{"a.txt", 1}, {"A.TXT", 1}}, ""},  // the same 8.3 name twice
      {{}, "224"},
  };
  for (int i = 0; i < 225; ++i) cases[3].files.emplace_back("F" + std::to_string(i), 0);
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

}  // namespace
}  // namespace floppyset
