// Sets made by the mkfloppyset command, taken apart here from the format's tables (PE offsets,
// header, strings, APST or LHA) with the members decoded by StormLib and lhasa, and the PE
// checksum held against osslsigncode.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "mkfloppyset/flat_builder.h"
#include "package_builder.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using namespace testing;
namespace fs = std::filesystem;

constexpr size_t kFloppySize = 1474560;

struct Parsed {
  uint32_t size_of_image = 0, pe_checksum = 0, checksum_offset = 0;
  Bytes header;            // 54 bytes
  std::string strings[3];  // product, final message, installer
  Bytes archive;
  uint32_t Field(size_t at, int size = 2) const { return GetLe(header, at, size); }
};

Parsed Parse(const Bytes& p) {
  Parsed out;
  out.size_of_image = PackageOffset(p);
  out.checksum_offset = static_cast<uint32_t>(PeChecksumOffset(p));
  out.pe_checksum = GetLe(p, out.checksum_offset);
  size_t at = out.size_of_image + 54;
  out.header.assign(p.begin() + at - 54, p.begin() + at);
  for (int i = 0; i < 3; ++i) {
    out.strings[i].assign(p.begin() + at, p.begin() + at + out.Field(48 + 2 * i));
    at += out.strings[i].size();
  }
  out.archive.assign(p.begin() + at, p.end());
  return out;
}

struct Member {
  std::string name;  // with its NUL
  uint32_t crc, attributes, modified;
  Bytes packed;
};

std::vector<Member> ParseApst(const Bytes& a) {
  std::vector<Member> members;
  EXPECT_EQ(std::string(a.begin(), a.begin() + 4), "APST");
  size_t at = 8;
  for (; at + 24 <= a.size();
       at += 24 + members.back().name.size() + members.back().packed.size()) {
    EXPECT_EQ(std::string(a.begin() + at, a.begin() + at + 4), "$PKF");
    const auto name = a.begin() + at + 24, packed = name + GetLe(a, at + 10, 2);
    members.push_back({{name, packed},
                       GetLe(a, at + 4),
                       GetLe(a, at + 16),
                       GetLe(a, at + 20),
                       {packed, packed + GetLe(a, at + 12)}});
  }
  EXPECT_EQ(at, a.size());
  return members;
}

class MkfloppysetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("FLOPPYSET_BUILD_DIR");
    tool_ = build ? std::string(build) + "/mkfloppyset" : "";
    if (tool_.empty() || !fs::exists(tool_)) GTEST_SKIP() << "mkfloppyset is not built";
  }
  // Runs mkfloppyset into out_; its exit status, with standard error in err_.
  int Run(const std::string& args) {
    const int status =
        RunShell(tool_ + " -o " + out_ + " " + args + " 2>" + (dir_ / "err") + " >&2");
    err_ = ReadFileText(dir_ / "err");
    return status;
  }
  std::string Image(const std::string& name, const Bytes& data) {
    WriteFileBytes(dir_ / name, data);
    return dir_ / name;
  }
  // A 1.44 MB FAT12 image of one file.
  std::string FatImage(const std::string& name, unsigned seed) {
    return Image(name,
                 BuildImage(dir_ / "scratch", {{"F.BIN", std::string(3000 * seed, 'x')}}, false));
  }
  Parsed Output() { return Parse(ReadFileBytes(out_)); }

  TempDir dir_;
  std::string tool_, err_, out_ = dir_ / "setup.exe";
};

TEST_F(MkfloppysetTest, SetCarriesEveryOptionOrTheDefaults) {
  const std::string paths[] = {FatImage("a.img", 1), FatImage("b.img", 2)};
  const Bytes images[] = {ReadFileBytes(paths[0]), ReadFileBytes(paths[1])};
  ASSERT_EQ(Run("--product='Demo Product' --final-message=Bye --installer=INSTALL.EXE"
                " --dict=2048 --dialog-style=1 --boot-disk --verify=0 --autostart=0"
                " --created=2007-09-27T16:56:42 " +
                paths[0] + " " + paths[1]),
            0)
      << err_;
  Parsed p = Output();
  std::vector<uint32_t> fields = {p.Field(0),  p.Field(2, 4), p.Field(6),     p.Field(8),
                                  p.Field(10), p.Field(12),   p.Field(14, 4), p.Field(18, 4),
                                  p.Field(22), p.Field(40, 4)};
  for (int i = 0; i < 8; ++i) fields.push_back(p.Field(24 + 2 * i));
  EXPECT_EQ(fields,
            (std::vector<uint32_t>{1, 1, 1, 0, 0, 0, static_cast<uint32_t>(p.archive.size()),
                                   2u * 23 * 65536,  // each image rounded up
                                   2, p.pe_checksum, 2007, 9, 4, 27, 16, 56, 42, 0}));
  uint32_t sum = 0;
  for (const uint8_t b : p.archive) sum = sum * 3 + b;
  EXPECT_EQ(p.Field(44, 4), sum);
  EXPECT_EQ(p.strings[0] + p.strings[1] + p.strings[2],
            std::string("Demo Product\0Bye\0INSTALL.EXE", 29));
  const std::vector<Member> members = ParseApst(p.archive);
  ASSERT_EQ(members.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(members[i].name, std::string(i == 0 ? "image00.tii" : "image01.tii", 12));
    EXPECT_EQ(std::tuple(members[i].crc, members[i].attributes, members[i].modified),
              std::tuple(ZlibCrc32(images[i]), 0x20u, 0x46FBE0CAu));  // 2007-09-27 16:56:42 UTC
    EXPECT_EQ(members[i].packed[1], 5);                               // 2048-byte dictionary
    EXPECT_EQ(StormExplode(members[i].packed, images[i].size()), images[i]);
  }

  // UTF-8 texts are stored in Windows-1252.
  ASSERT_EQ(Run("--product='Ä test' " + FatImage("a.img", 3)), 0) << err_;
  p = Output();
  fields.clear();
  for (size_t at : {0, 2, 6, 8, 10, 12, 48, 50}) fields.push_back(p.Field(at));
  EXPECT_EQ(fields, (std::vector<uint32_t>{1, 0, 0, 1, 0, 1, 7, 0}));
  EXPECT_EQ(p.strings[0], std::string("\xC4 test", 7));
  EXPECT_EQ(p.Field(18, 4), 23 * 65536u);
  EXPECT_EQ(p.strings[2], std::string("SETUP.EXE", 10));
  EXPECT_EQ(ParseApst(p.archive).at(0).packed[1], 6);  // 4096-byte dictionary
  // An empty installer name is stored as nothing at all; the first DOS year is a valid date.
  ASSERT_EQ(Run("--installer= --created=1980-01-02T00:00:00 " + (dir_ / "a.img")), 0) << err_;
  EXPECT_EQ(Output().Field(52), 0u);
  // An LHA set holds an -lh0- archive, the LHA writer's (which lhasa reads in the LHA tests).
  ASSERT_EQ(Run("--archive=lha " + FatImage("a.img", 4)), 0) << err_;
  p = Output();
  EXPECT_EQ(std::pair(p.Field(0), p.Field(14, 4)), std::pair(0u, uint32_t(p.archive.size())));
  WriteFileBytes(dir_ / "archive.lzh", p.archive);
  EXPECT_TRUE(Has(ShellOutput("lhasa -v " + (dir_ / "archive.lzh")), "-lh0-"));
  // Help is asked for in either spelling and answered with the options.
  for (const char* help : {"-h", "--help"}) {
    EXPECT_EQ(Run(help), 0);
    EXPECT_TRUE(Has(err_, "--archive")) << help;
  }
}

// Real PE32 and PE32+ programs, whose images are larger than their files: padded to
// SizeOfImage, otherwise unchanged but for a CheckSum that osslsigncode accepts.
TEST_F(MkfloppysetTest, StubsArePaddedAndCarryTheirPeChecksum) {
  std::vector<std::string> stubs;
  WriteFileText(dir_ / "t.c", "int main(void) { return 0; }\n");
  for (const std::string compiler : {"i686-w64-mingw32-gcc", "x86_64-w64-mingw32-gcc"}) {
    const std::string exe = dir_ / (compiler + ".exe");
    if (RunShell(compiler + " -s -O2 " + (dir_ / "t.c") + " -o " + exe) == 0) {
      stubs.push_back(exe);
    }
  }
  for (const std::string& path : stubs) {
    SCOPED_TRACE(path);
    ASSERT_EQ(Run("--stub=" + path + " " + FatImage("a.img", 1)), 0) << err_;
    const Bytes program = ReadFileBytes(out_);
    const Parsed p = Parse(program);
    Bytes expected = ReadFileBytes(path);
    ASSERT_LT(expected.size(), p.size_of_image);
    expected.resize(p.size_of_image, 0);
    PutLe(expected, p.checksum_offset, p.pe_checksum);
    const Bytes padded(program.begin(), program.begin() + p.size_of_image);
    EXPECT_EQ(padded, expected);
    EXPECT_EQ(p.Field(40, 4), p.pe_checksum);
    WriteFileBytes(dir_ / "padded.exe", padded);
    const std::string report =
        ShellOutput("osslsigncode verify " + (dir_ / "padded.exe") + " 2>&1");
    char line[64];
    std::snprintf(line, sizeof line, "PE checksum   : %08X", p.pe_checksum);
    EXPECT_TRUE(Has(report, line) && !Has(report, "Calculated PE checksum")) << report;
  }
  EXPECT_EQ(stubs.size(), 2u) << "a MinGW compiler is missing";
}

TEST_F(MkfloppysetTest, DirectoriesBecomeFlatOrFat12Images) {
  WriteTree(dir_ / "d1", {{"sub/readme.txt", "hello"}});
  WriteTree(dir_ / "d2", {{"SETUP.EXE", "MZ"}});
  ASSERT_EQ(Run((dir_ / "d1") + " " + (dir_ / "d2")), 0) << err_;
  const Parsed p = Output();
  EXPECT_EQ(p.Field(10), 1u);  // UnpackMode: flat images
  const std::vector<Member> members = ParseApst(p.archive);
  Bytes flat;
  std::string error;
  ASSERT_TRUE(BuildFlatImage(dir_ / "d2", flat, error)) << error;
  EXPECT_EQ(StormExplode(members.at(1).packed, flat.size()), flat);

  out_ = dir_ / "images";
  ASSERT_EQ(Run("--fat12 " + (dir_ / "d2")), 0) << err_;
  EXPECT_EQ(fs::file_size(dir_ / "images/d2.img"), kFloppySize);
}

TEST_F(MkfloppysetTest, BadInputIsRefusedWithAReasonAndLeavesNothing) {
  const std::string image = FatImage("a.img", 1);
  WriteFileText(dir_ / "text.exe", "this is not a program");
  Bytes long_stub = ProgramImage(0x1000, 0);
  long_stub.resize(0x1001);
  PutLe(long_stub, 0x80 + 20, 224, 2);
  PutLe(long_stub, 0x80 + 24, 0x10B, 2);
  WriteTree(dir_ / "dir", {{"A.TXT", "a"}});
  WriteTree(dir_ / "x/dir", {{"B.TXT", "b"}});
  WriteTree(dir_ / "wide", {{"国.TXT", "c"}});
  const struct {
    std::string args, reason;
    int status;
  } cases[] = {
      {dir_ / "missing.img", "missing.img", 1},
      {Image("big.img", Bytes(kFloppySize + 1, 0)), "not the size of a floppy", 1},
      {Image("tiny.img", Bytes(3, 'a')), "not the size of a floppy", 1},
      {Image("zero.img", Bytes(737280, 0)), "no FAT12 floppy image", 1},
      {"--flat " + (dir_ / "tiny.img"), "no flat image", 1},
      {"--stub=" + (dir_ / "text.exe") + " " + image, "not a PE file", 1},
      {"--stub=" + Image("long.exe", long_stub) + " " + image, "SizeOfImage", 1},
      {image + " " + image, "the same input", 1},
      {image + " " + (dir_ / "dir"), "not both", 1},
      {"--split " + (dir_ / "wide"), "'国' (U+56FD) has no equivalent in code page 437", 1},
      {"--product=Ä --ansi-codepage=1251 " + image, "--product: the character 'Ä'", 2},
      {"--bogus " + image, "--bogus", 2},
      {"--dict=3000 " + image, "--dict", 2},
      {"--disks=2 " + image, "--split", 2},
      {"--created=2007-02-30T00:00:00 " + image, "--created", 2},
      {"--final-message=" + std::string(10000, 'x') + " " + image, "9999", 1},
      {"", "no folder or disk image", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(Run(c.args), c.status);
    EXPECT_TRUE(Has(err_, c.reason)) << err_;
    EXPECT_FALSE(fs::exists(out_));
  }
  EXPECT_EQ(RunShell(tool_ + " " + image + " 2>/dev/null"), 2);  // no -o
  // Never an input overwritten, nor an output inside an input folder.
  out_ = image;
  EXPECT_EQ(Run(image), 1);
  EXPECT_TRUE(Has(err_, "overwrite")) << err_;
  out_ = dir_ / "dir/setup.exe";
  EXPECT_EQ(Run("--split " + (dir_ / "dir")), 1);
  EXPECT_FALSE(fs::exists(out_));
  // Two folders that would make the same image, and no folder left behind.
  out_ = dir_ / "images";
  EXPECT_EQ(Run("--fat12 " + (dir_ / "dir") + " " + (dir_ / "x/dir")), 1);
  EXPECT_TRUE(Has(err_, "same image")) << err_;
  EXPECT_FALSE(fs::exists(out_));
}

// A tree spread over several floppies comes back whole through the reader's /D: every file
// on one disk, under its long name (in UTF-8, as the locale asks), with its time.
TEST_F(MkfloppysetTest, SplitTreeUnpacksWithTheReader) {
  const std::string reader = std::string(std::getenv("FLOPPYSET_BUILD_DIR")) + "/floppyset";
  SetTimeZone("UTC0");  // for both programs
  const std::string big(700000, 'b');
  WriteTree(dir_ / "src", {{"Long File Name.txt", "long"},
                           {"Ä.TXT", "ae"},
                           {"docs/one.bin", big},
                           {"docs/two.bin", big},
                           {"docs/sub/three.bin", big},
                           {"empty/", ""}});
  ASSERT_EQ(Run("--split -v --disks=3 --installer= " + (dir_ / "src")), 0) << err_;
  ASSERT_EQ(RunShell("cd " + dir_.path() + " && TZ=UTC LC_ALL=C.UTF-8 " + reader + " " + out_ +
                     " /D --dest=out --yes >/dev/null 2>&1"),
            0);
  std::map<std::string, std::string> found;
  for (const auto& item : fs::recursive_directory_iterator(dir_ / "out")) {
    const std::string path = fs::relative(item.path(), dir_ / "out").string();
    if (!item.is_regular_file()) continue;
    found[path.substr(path.find('/') + 1)] = ReadFileText(item.path());
    EXPECT_EQ(
        fs::last_write_time(item.path()),
        fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(kFileTime)))
        << path;
  }
  EXPECT_EQ(found, (std::map<std::string, std::string>{{"Long File Name.txt", "long"},
                                                       {"\xC3\x84.TXT", "ae"},
                                                       {"docs/one.bin", big},
                                                       {"docs/two.bin", big},
                                                       {"docs/sub/three.bin", big}}));
  EXPECT_TRUE(fs::is_directory(dir_ / "out/disk1/empty"));
  EXPECT_EQ(Entries(dir_ / "out"), (std::vector<std::string>{"disk1", "disk2", "disk3"}));
  // More disks than the files can fill, or fewer than they need, are refused with the need.
  EXPECT_EQ(Run("--split --disks=5 " + (dir_ / "src")), 1);
  EXPECT_TRUE(Has(err_, "at most 4 disks")) << err_;
  EXPECT_EQ(Run("--split --disks=1 " + (dir_ / "src")), 1);
  EXPECT_TRUE(Has(err_, "need 2 disks")) << err_;
}

}  // namespace
}  // namespace floppyset
