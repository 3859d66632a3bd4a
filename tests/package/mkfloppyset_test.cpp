// Sets made by the mkfloppyset command, read back by a reader written here from the
// format's tables (PE offsets, header, strings, APST or LHA), with the members decoded by
// StormLib and lhasa, and the PE checksum held against osslsigncode.
#include <gtest/gtest.h>
#include <lhasa.h>

#include <cstdlib>
#include <filesystem>

#include "apst_archive.h"
#include "mkfloppyset/flat_builder.h"
#include "package/extraction.h"
#include "package/integrity.h"
#include "package/package_reader.h"
#include "support/fault_host.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using testing::GetLe16;
using testing::GetLe32;
using testing::ImageLike;
using testing::ReadFileBytes;
using testing::ShellOutput;
using testing::TempDir;
using testing::WriteFileBytes;
namespace fs = std::filesystem;

constexpr size_t kFloppySize = 1474560;

// What a program file holds, taken apart by offsets.
struct Parsed {
  uint32_t size_of_image = 0;
  size_t checksum_offset = 0;
  uint32_t pe_checksum = 0;
  std::vector<uint8_t> header;  // 54 bytes
  std::string product, final_message, installer;
  uint16_t product_length = 0, final_length = 0, installer_length = 0;
  std::vector<uint8_t> archive;
};

Parsed Parse(const std::vector<uint8_t>& p) {
  Parsed out;
  const uint32_t pe = GetLe32(p, 60);
  out.size_of_image = GetLe32(p, pe + 24 + 56);
  out.checksum_offset = pe + 24 + 64;
  out.pe_checksum = GetLe32(p, out.checksum_offset);
  size_t at = out.size_of_image;
  out.header.assign(p.begin() + at, p.begin() + at + 54);
  out.product_length = GetLe16(out.header, 48);
  out.final_length = GetLe16(out.header, 50);
  out.installer_length = GetLe16(out.header, 52);
  at += 54;
  auto take = [&](uint16_t length) {
    std::string text(p.begin() + at, p.begin() + at + length);
    at += length;
    return text;
  };
  out.product = take(out.product_length);
  out.final_message = take(out.final_length);
  out.installer = take(out.installer_length);
  out.archive.assign(p.begin() + at, p.end());
  return out;
}

struct Member {
  std::string name;  // with its NUL
  uint32_t crc = 0, attributes = 0, modified = 0;
  std::vector<uint8_t> packed;
};

std::vector<Member> ParseApst(const std::vector<uint8_t>& a) {
  std::vector<Member> members;
  EXPECT_EQ(std::string(a.begin(), a.begin() + 4), "APST");
  size_t at = 8;
  while (at + 24 <= a.size()) {
    EXPECT_EQ(std::string(a.begin() + at, a.begin() + at + 4), "$PKF");
    Member m;
    m.crc = GetLe32(a, at + 4);
    const uint16_t name_length = GetLe16(a, at + 10);
    const uint32_t packed = GetLe32(a, at + 12);
    m.attributes = GetLe32(a, at + 16);
    m.modified = GetLe32(a, at + 20);
    m.name.assign(a.begin() + at + 24, a.begin() + at + 24 + name_length);
    at += 24 + name_length;
    m.packed.assign(a.begin() + at, a.begin() + at + packed);
    at += packed;
    members.push_back(std::move(m));
  }
  EXPECT_EQ(at, a.size());
  return members;
}

std::vector<uint8_t> StormExplode(const std::vector<uint8_t>& packed, size_t size) {
  std::vector<uint8_t> out(size);
  std::vector<uint8_t> in = packed;
  int out_size = static_cast<int>(size);
  if (!SCompExplode(out.data(), &out_size, in.data(), static_cast<int>(in.size()))) return {};
  out.resize(static_cast<size_t>(out_size));
  return out;
}

struct LhaMember {
  std::string name, method;
  unsigned timestamp = 0;
  std::vector<uint8_t> data;
};

std::vector<LhaMember> ReadWithLhasa(const std::string& path) {
  std::vector<LhaMember> members;
  LHAInputStream* stream = lha_input_stream_from(const_cast<char*>(path.c_str()));
  if (!stream) return members;
  LHAReader* reader = lha_reader_new(stream);
  while (LHAFileHeader* header = lha_reader_next_file(reader)) {
    LhaMember m;
    m.name = header->filename ? header->filename : "";
    m.method.assign(header->compress_method, 5);
    m.timestamp = header->timestamp;
    m.data.resize(header->length);
    size_t got = 0;
    while (got < m.data.size()) {
      const size_t n = lha_reader_read(reader, m.data.data() + got, m.data.size() - got);
      if (n == 0) break;
      got += n;
    }
    m.data.resize(got);
    members.push_back(std::move(m));
  }
  lha_reader_free(reader);
  lha_input_stream_free(stream);
  return members;
}

// The PE checksum as the format describes it: 16-bit words with end-around carry, the
// CheckSum field as zero, plus the file length.
uint32_t ReferencePeChecksum(std::vector<uint8_t> file, size_t checksum_offset) {
  const uint32_t length = static_cast<uint32_t>(file.size());
  testing::PutLe32(file, checksum_offset, 0);
  if (file.size() % 2) file.push_back(0);
  uint32_t sum = 0;
  for (size_t i = 0; i < file.size(); i += 2) {
    sum += GetLe16(file, i);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum + length;
}

class MkfloppysetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("FLOPPYSET_BUILD_DIR");
    tool_ = build ? std::string(build) + "/mkfloppyset" : "";
    if (tool_.empty() || !fs::exists(tool_)) GTEST_SKIP() << "mkfloppyset is not built";
  }

  // Runs mkfloppyset; its exit status, with standard error in `err_`.
  int Run(const std::string& args) {
    const std::string err_file = dir_ / "stderr.txt";
    const int status = testing::RunShell(tool_ + " " + args + " 2>" + err_file + " >/dev/null");
    err_ = testing::ShellOutput("cat " + err_file);
    return status;
  }

  std::string WriteImage(const std::string& name, const std::vector<uint8_t>& data) {
    WriteFileBytes(dir_ / name, data);
    return dir_ / name;
  }

  // osslsigncode reports the stored PE checksum alone when it equals its own computation.
  void ExpectOsslsigncodeAgrees(const std::vector<uint8_t>& stub, uint32_t checksum) {
    if (testing::RunShell("command -v osslsigncode >/dev/null") != 0) {
      GTEST_SKIP() << "osslsigncode is not installed";
    }
    WriteFileBytes(dir_ / "padded.exe", stub);
    const std::string report =
        ShellOutput("osslsigncode verify " + (dir_ / "padded.exe") + " 2>&1");
    char expected_line[64];
    std::snprintf(expected_line, sizeof expected_line, "PE checksum   : %08X", checksum);
    EXPECT_NE(report.find(expected_line), std::string::npos) << report;
    EXPECT_EQ(report.find("Calculated PE checksum"), std::string::npos) << report;
  }

  TempDir dir_;
  std::string tool_;
  std::string err_;
};

TEST_F(MkfloppysetTest, ApstSetReadsBackIndependently) {
  const std::vector<uint8_t> image0 = ImageLike(kFloppySize, 1);
  const std::vector<uint8_t> image1 = ImageLike(kFloppySize - 4096, 2);
  const std::string out = dir_ / "setup.exe";
  ASSERT_EQ(Run("-o " + out +
                " --product='Demo Product' --final-message=Bye --installer=INSTALL.EXE"
                " --dict=2048 --dialog-style=1 --boot-disk --verify=0 --autostart=0"
                " --created=2007-09-27T16:56:42 " +
                WriteImage("a.img", image0) + " " + WriteImage("b.img", image1)),
            0)
      << err_;
  const std::vector<uint8_t> program = ReadFileBytes(out);
  const Parsed p = Parse(program);
  const std::vector<uint8_t>& h = p.header;
  EXPECT_EQ(GetLe16(h, 0), 1);                  // ArchiveKind
  EXPECT_EQ(GetLe32(h, 2), 1u);                 // DialogStyle
  EXPECT_EQ(GetLe16(h, 6), 1);                  // BootDisk
  EXPECT_EQ(GetLe16(h, 8), 0);                  // VerifyAfterWrite
  EXPECT_EQ(GetLe16(h, 10), 0);                 // UnpackMode
  EXPECT_EQ(GetLe16(h, 12), 0);                 // AutostartMode
  EXPECT_EQ(GetLe32(h, 14), p.archive.size());  // ArchiveSpace
  EXPECT_EQ(GetLe32(h, 18), 2u * 23 * 65536);   // UnpackedSpace, each image rounded up
  EXPECT_EQ(GetLe16(h, 22), 2);                 // DiskCount
  const uint16_t created[] = {2007, 9, 4, 27, 16, 56, 42, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(GetLe16(h, 24 + 2 * i), created[i]) << i;
  EXPECT_EQ(GetLe32(h, 40), p.pe_checksum);  // ExpectedExeChecksum
  uint32_t sum = 0;
  for (const uint8_t b : p.archive) sum = sum * 3 + b;
  EXPECT_EQ(GetLe32(h, 44), sum);  // ExpectedPackageChecksum
  EXPECT_EQ(p.product, std::string("Demo Product", 13));
  EXPECT_EQ(p.final_message, std::string("Bye", 4));
  EXPECT_EQ(p.installer, std::string("INSTALL.EXE", 12));

  const std::vector<Member> members = ParseApst(p.archive);
  ASSERT_EQ(members.size(), 2u);
  const std::vector<uint8_t>* images[] = {&image0, &image1};
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(members[i].name, std::string(i == 0 ? "image00.tii" : "image01.tii", 12));
    EXPECT_EQ(members[i].crc, testing::ZlibCrc32(*images[i]));
    EXPECT_EQ(members[i].attributes, 0x20u);
    EXPECT_EQ(members[i].modified, 0x46FBE0CAu);  // 2007-09-27 16:56:42 UTC
    ASSERT_GE(members[i].packed.size(), 2u);
    EXPECT_EQ(members[i].packed[0], 0);  // binary literals
    EXPECT_EQ(members[i].packed[1], 5);  // 2048-byte dictionary
    EXPECT_EQ(StormExplode(members[i].packed, images[i]->size()), *images[i]);
  }
}

TEST_F(MkfloppysetTest, DefaultsAreThoseOfTheExamplePackage) {
  const std::string out = dir_ / "setup.exe";
  ASSERT_EQ(Run("-o " + out + " " + WriteImage("a.img", ImageLike(20000, 3))), 0) << err_;
  const Parsed p = Parse(ReadFileBytes(out));
  EXPECT_EQ(GetLe16(p.header, 0), 1);
  EXPECT_EQ(GetLe32(p.header, 2), 0u);
  EXPECT_EQ(GetLe16(p.header, 6), 0);
  EXPECT_EQ(GetLe16(p.header, 8), 1);
  EXPECT_EQ(GetLe16(p.header, 10), 0);
  EXPECT_EQ(GetLe16(p.header, 12), 1);
  EXPECT_EQ(GetLe32(p.header, 18), 65536u);
  EXPECT_EQ(p.product_length, 0);
  EXPECT_EQ(p.final_length, 0);
  EXPECT_EQ(p.installer, std::string("SETUP.EXE", 10));
  const std::vector<Member> members = ParseApst(p.archive);
  ASSERT_EQ(members.size(), 1u);
  EXPECT_EQ(members[0].packed[1], 6);  // 4096-byte dictionary

  // An empty installer name is stored as nothing at all: autostart has nothing to start.
  ASSERT_EQ(Run("-o " + out + " --installer= " + (dir_ / "a.img")), 0) << err_;
  EXPECT_EQ(Parse(ReadFileBytes(out)).installer_length, 0);
}

TEST_F(MkfloppysetTest, LhaSetReadsBackWithLhasa) {
  const std::vector<uint8_t> image0 = ImageLike(300000, 4), image1 = ImageLike(1000, 5);
  const std::string out = dir_ / "setup.exe";
  ASSERT_EQ(Run("-o " + out + " --archive=lha --created=2007-09-27T16:56:42 " +
                WriteImage("a.img", image0) + " " + WriteImage("b.img", image1)),
            0)
      << err_;
  const Parsed p = Parse(ReadFileBytes(out));
  EXPECT_EQ(GetLe16(p.header, 0), 0);
  EXPECT_EQ(GetLe32(p.header, 14), p.archive.size());
  WriteFileBytes(dir_ / "archive.lzh", p.archive);
  const std::vector<LhaMember> members = ReadWithLhasa(dir_ / "archive.lzh");
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0].name, "image00.tii");
  EXPECT_EQ(members[1].name, "image01.tii");
  EXPECT_EQ(members[0].method, "-lh0-");
  EXPECT_EQ(members[0].data, image0);
  EXPECT_EQ(members[1].data, image1);
}

// Our own reader takes the set apart as the program does at start-up.
TEST_F(MkfloppysetTest, SetsPassTheProgramsOwnChecksAndExtract) {
  for (const char* archive : {"apst", "lha"}) {
    SCOPED_TRACE(archive);
    const std::vector<uint8_t> image0 = ImageLike(kFloppySize, 6), image1 = ImageLike(5000, 7);
    const std::string out = dir_ / (std::string(archive) + ".exe");
    ASSERT_EQ(Run("-o " + out + " --product=P --archive=" + archive + " " +
                  WriteImage("a.img", image0) + " " + WriteImage("b.img", image1)),
              0)
        << err_;
    testing::FaultHost host;
    host.SetTempDirectory(dir_.path());
    testing::ScriptedUi ui;
    RunState state;
    state.ProgramPath = out;
    ASSERT_TRUE(CreateWorkspace(host, kWorkspacePrefix, state.WorkspaceDir));
    ASSERT_TRUE(ReadPackageHeader(state, host, ui));
    ASSERT_TRUE(state.PackageFound);
    EXPECT_EQ(state.ProductName, "P");
    ComputePackageChecksum(state, host);
    EXPECT_TRUE(ExeChecksumMatches(state));
    EXPECT_TRUE(PackageChecksumMatches(state));
    const ExtractionResult result = ExtractPackageImages(state, host, ui);
    EXPECT_TRUE(result.complete) << result.code << " " << result.failed_member;
    EXPECT_EQ(ReadFileBytes(DiskImagePath(state, 0)), image0);
    EXPECT_EQ(ReadFileBytes(DiskImagePath(state, 1)), image1);
  }
}

TEST_F(MkfloppysetTest, StubIsPaddedAndCarriesItsPeChecksum) {
  // A stub whose image is larger than its file, as real programs are.
  std::vector<uint8_t> stub = testing::ProgramImage(0x3000, 0xABCD);
  stub.resize(0x600);
  testing::PutLe32(stub, 0x80, 0x00004550);
  testing::PutLe16(stub, 0x80 + 4, 0x14C);
  testing::PutLe16(stub, 0x80 + 20, 224);
  testing::PutLe16(stub, 0x80 + 24, 0x10B);
  testing::PutLe32(stub, 0x80 + 24 + 32, 0x1000);  // section and file alignment
  testing::PutLe32(stub, 0x80 + 24 + 36, 0x200);
  testing::PutLe32(stub, 0x80 + 24 + 92, 16);  // NumberOfRvaAndSizes
  for (size_t i = 0x200; i < stub.size(); ++i) stub[i] = static_cast<uint8_t>(i * 13);
  const std::string out = dir_ / "setup.exe";
  ASSERT_EQ(Run("-o " + out + " --stub=" + WriteImage("stub.exe", stub) + " " +
                WriteImage("a.img", ImageLike(1000, 1))),
            0)
      << err_;
  const std::vector<uint8_t> program = ReadFileBytes(out);
  const Parsed p = Parse(program);
  ASSERT_EQ(p.size_of_image, 0x3000u);
  std::vector<uint8_t> padded(program.begin(), program.begin() + 0x3000);
  std::vector<uint8_t> expected = stub;
  expected.resize(0x3000, 0);
  testing::PutLe32(expected, p.checksum_offset, p.pe_checksum);
  EXPECT_EQ(padded, expected);
  EXPECT_EQ(p.pe_checksum, ReferencePeChecksum(padded, p.checksum_offset));
  EXPECT_EQ(GetLe32(p.header, 40), p.pe_checksum);

  ExpectOsslsigncodeAgrees(padded, p.pe_checksum);
}

// Real programs, PE32 and PE32+, made by MinGW.
TEST_F(MkfloppysetTest, MingwProgramsAsStubs) {
  testing::WriteFileText(dir_ / "t.c", "int main(void) { return 0; }\n");
  for (const std::string compiler : {"i686-w64-mingw32-gcc", "x86_64-w64-mingw32-gcc"}) {
    SCOPED_TRACE(compiler);
    if (testing::RunShell("command -v " + compiler + " >/dev/null") != 0) {
      GTEST_SKIP() << "no MinGW compiler";
    }
    const std::string exe = dir_ / (compiler + ".exe");
    ASSERT_EQ(testing::RunShell(compiler + " -s -O2 " + (dir_ / "t.c") + " -o " + exe), 0);
    const std::string out = dir_ / "setup.exe";
    ASSERT_EQ(Run("-o " + out + " --stub=" + exe + " " + WriteImage("a.img", ImageLike(1000, 1))),
              0)
        << err_;
    const std::vector<uint8_t> program = ReadFileBytes(out);
    const Parsed p = Parse(program);
    const std::vector<uint8_t> original = ReadFileBytes(exe);
    EXPECT_TRUE(
        std::equal(original.begin(), original.begin() + p.checksum_offset, program.begin()));
    const std::vector<uint8_t> padded(program.begin(), program.begin() + p.size_of_image);
    EXPECT_EQ(p.pe_checksum, ReferencePeChecksum(padded, p.checksum_offset));
    EXPECT_EQ(GetLe32(p.header, 40), p.pe_checksum);
    ExpectOsslsigncodeAgrees(padded, p.pe_checksum);
  }
}

TEST_F(MkfloppysetTest, DirectoriesBecomeFlatImagesForUnpacking) {
  fs::create_directories(dir_ / "d1/sub");
  testing::WriteFileText(dir_ / "d1/sub/readme.txt", "hello");
  fs::create_directories(dir_ / "d2");
  testing::WriteFileText(dir_ / "d2/setup.exe", "MZ");
  const std::string out = dir_ / "setup.exe";
  ASSERT_EQ(Run("-o " + out + " " + (dir_ / "d1") + " " + (dir_ / "d2")), 0) << err_;
  const Parsed p = Parse(ReadFileBytes(out));
  EXPECT_EQ(GetLe16(p.header, 10), 1);  // UnpackMode: flat images
  const std::vector<Member> members = ParseApst(p.archive);
  ASSERT_EQ(members.size(), 2u);
  std::vector<uint8_t> flat;
  std::string error;
  ASSERT_TRUE(BuildFlatImage(dir_ / "d2", flat, error)) << error;
  EXPECT_EQ(StormExplode(members[1].packed, flat.size()), flat);
}

TEST_F(MkfloppysetTest, BadInputIsRefusedWithAReason) {
  const std::string image = WriteImage("a.img", ImageLike(1000, 1));
  const std::string big = WriteImage("big.img", std::vector<uint8_t>(kFloppySize + 1, 0));
  testing::WriteFileText(dir_ / "text.exe", "this is not a program");
  std::vector<uint8_t> long_stub = testing::ProgramImage(0x1000, 0);
  long_stub.resize(0x1001);
  testing::PutLe32(long_stub, 0x80, 0x00004550);
  testing::PutLe16(long_stub, 0x80 + 20, 224);
  testing::PutLe16(long_stub, 0x80 + 24, 0x10B);
  const std::string long_stub_path = WriteImage("long.exe", long_stub);
  fs::create_directory(dir_ / "dir");
  const std::string out = dir_ / "out.exe";
  const struct {
    std::string args, reason;
  } cases[] = {
      {"-o " + out + " " + (dir_ / "missing.img"), "missing.img"},
      {"-o " + out + " " + big, "1.44 MB"},
      {"-o " + out + " --stub=" + (dir_ / "text.exe") + " " + image, "not a PE file"},
      {"-o " + out + " --stub=" + long_stub_path + " " + image, "SizeOfImage"},
      {"-o " + out + " --bogus " + image, "--bogus"},
      {"-o " + out + " --dict=3000 " + image, "--dict"},
      {"-o " + out + " --created=2007-13-01T00:00:00 " + image, "--created"},
      {"-o " + out + " --created=2007-02-30T00:00:00 " + image, "--created"},
      {"-o " + out + " --final-message=" + std::string(10000, 'x') + " " + image, "9999"},
      {image, "-o"},
      {"-o " + out, "no disk image"},
      {"-o " + out + " " + image + " " + (dir_ / "dir"), "not both"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_NE(Run(c.args), 0);
    EXPECT_NE(err_.find(c.reason), std::string::npos) << err_;
    EXPECT_FALSE(fs::exists(out));
  }
}

TEST_F(MkfloppysetTest, HelpAndFat12Images) {
  const std::string help = ShellOutput(tool_ + " --help");
  for (const char* option : {"--stub=", "--archive=apst|lha", "--dict=", "--created=", "--fat12"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  fs::create_directories(dir_ / "disk1");
  testing::WriteFileText(dir_ / "disk1/SETUP.EXE", "MZ");
  ASSERT_EQ(Run("--fat12 -o " + (dir_ / "images") + " " + (dir_ / "disk1")), 0) << err_;
  EXPECT_EQ(fs::file_size(dir_ / "images/disk1.img"), kFloppySize);
}

}  // namespace
}  // namespace floppyset
