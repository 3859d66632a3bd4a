#include "codec/lzh_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>

#include "lha_samples.h"
#include "platform/posix/posix_host.h"
#include "support/fault_host.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using testing::ArchivedMember;
using testing::Level1Member;
using testing::ReadFileBytes;
using testing::ReferenceCrc16;
using testing::RunShell;
using testing::SampleFile;
using testing::TempDir;
using testing::WriteFileBytes;

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

std::vector<uint8_t> Stored(const std::string& name, const std::vector<uint8_t>& data) {
  return Level1Member("-lh0-", name, data, static_cast<uint32_t>(data.size()),
                      ReferenceCrc16(data.data(), data.size()));
}

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Extracts an archive given as bytes into <work>/out; the archive itself lies beside it.
struct Extraction {
  TempDir work;
  std::string out = work / "out";
  std::vector<uint16_t> progress;
  std::string last_name;

  int Run(const std::vector<uint8_t>& archive) {
    WriteFileBytes(work / "image.tii", archive);
    std::filesystem::create_directory(out);
    PosixHost host;
    LzhReader reader(host, work / "image.tii", out, &Record, this);
    const int result = reader.ExtractAll();
    last_name = reader.CurrentMemberName();
    return result;
  }
  static void Record(void* self, uint16_t percentage) {
    static_cast<Extraction*>(self)->progress.push_back(percentage);
  }
  std::vector<uint8_t> File(const std::string& name) const {
    return ReadFileBytes(out + "/" + name);
  }
};

class LzhReaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    work_ = new TempDir;
    files_ = new std::vector<SampleFile>(testing::MakeSampleFiles(work_->path()));
    jlha_level0_ = new std::vector<uint8_t>(testing::CompressWithJlha(work_->path(), *files_));
  }
  static void TearDownTestSuite() {
    delete jlha_level0_;
    delete files_;
    delete work_;
  }
  void SetUp() override { ASSERT_FALSE(jlha_level0_->empty()) << "jlha failed"; }

  static std::vector<ArchivedMember> Members() { return testing::ParseLevel0(*jlha_level0_); }
  static ArchivedMember Member(const std::string& name) {
    for (const ArchivedMember& m : Members()) {
      if (m.name == name) return m;
    }
    return {};
  }
  static const SampleFile& Sample(const std::string& name) {
    return *std::find_if(files_->begin(), files_->end(),
                         [&](const SampleFile& f) { return f.name == name; });
  }

  static TempDir* work_;
  static std::vector<SampleFile>* files_;
  static std::vector<uint8_t>* jlha_level0_;
};

TempDir* LzhReaderTest::work_ = nullptr;
std::vector<SampleFile>* LzhReaderTest::files_ = nullptr;
std::vector<uint8_t>* LzhReaderTest::jlha_level0_ = nullptr;

TEST_F(LzhReaderTest, ExtractsJlhaArchiveByteExactLikeLhasa) {
  const std::vector<uint8_t> archive = testing::RewrapAsLevel1(*jlha_level0_);
  std::set<std::string> methods;
  for (const ArchivedMember& m : Members()) methods.insert(m.method);
  EXPECT_TRUE(methods.count("-lh5-") && methods.count("-lh0-"));

  Extraction x;
  ASSERT_EQ(x.Run(archive), kLzhOk);
  const std::string lhasa_dir = x.work / "lhasa";
  std::filesystem::create_directory(lhasa_dir);
  ASSERT_EQ(RunShell("cd '" + lhasa_dir + "' && lhasa -xq '" + (x.work / "image.tii") + "'"), 0);
  std::set<std::string> expected_names;
  for (const SampleFile& file : *files_) {
    expected_names.insert(file.name);
    EXPECT_EQ(x.File(file.name), file.data) << file.name;
    EXPECT_EQ(ReadFileBytes(lhasa_dir + "/" + file.name), file.data) << file.name;
  }
  EXPECT_EQ(Names(x.out), expected_names);
  ASSERT_EQ(Sample("image00.tii").data.size(), 1474560u);
}

TEST_F(LzhReaderTest, ProgressRisesByWholePointsUpToTheWholeArchive) {
  Extraction x;
  ASSERT_EQ(x.Run(testing::RewrapAsLevel1(*jlha_level0_)), kLzhOk);
  ASSERT_FALSE(x.progress.empty());
  EXPECT_GE(x.progress.front(), 1);
  for (size_t i = 1; i < x.progress.size(); ++i) EXPECT_GT(x.progress[i], x.progress[i - 1]);
  // Everything but the final 0 byte has been consumed.
  EXPECT_EQ(x.progress.back(), 99 + (x.progress.back() == 100));
  // Counted from the bytes decoded, not from the 64 KB read ahead.
  for (size_t i = 1; i < x.progress.size(); ++i) EXPECT_LE(x.progress[i] - x.progress[i - 1], 3);
}

TEST_F(LzhReaderTest, EmptyAndMissingArchives) {
  Extraction single_zero;
  EXPECT_EQ(single_zero.Run({0}), kLzhOk);
  EXPECT_TRUE(Names(single_zero.out).empty());
  EXPECT_TRUE(single_zero.progress.empty());

  Extraction empty_file;
  EXPECT_EQ(empty_file.Run({}), kLzhOk);
  EXPECT_TRUE(empty_file.progress.empty());

  PosixHost host;
  TempDir dir;
  LzhReader reader(host, dir / "missing.lzh", dir.path(), nullptr, nullptr);
  EXPECT_EQ(reader.ExtractAll(), kLzhCannotOpenArchive);
}

TEST_F(LzhReaderTest, HeaderChecksumOffByOneStopsBeforeTheMemberIsWritten) {
  const std::vector<uint8_t> first = Stored("first.bin", {1, 2, 3});
  std::vector<uint8_t> second = Level1Member(Members()[0]);
  second[1] = static_cast<uint8_t>(second[1] + 1);
  Extraction x;
  EXPECT_EQ(x.Run(Concat({first, second, {0}})), kLzhBadHeader);
  EXPECT_EQ(Names(x.out), std::set<std::string>{"first.bin"});
  EXPECT_EQ(x.File("first.bin"), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(LzhReaderTest, WrongCrcGivesFourAndKeepsTheFileAsWritten) {
  for (const std::string name : {"text.txt", "random.bin"}) {  // -lh5- and -lh0-
    ArchivedMember member = Member(name);
    member.crc ^= 0x0100;
    Extraction x;
    EXPECT_EQ(x.Run(Concat({Level1Member(member), Stored("after", {1}), {0}})), kLzhBadData);
    EXPECT_EQ(x.File(name), Sample(name).data);
    EXPECT_EQ(Names(x.out), std::set<std::string>{name});
  }
}

// Writes to every created file fail.
class FailingWritesHost : public PosixHost {
  class FailingFile : public floppyset::File {
   public:
    int64_t Read(void*, size_t) override { return -1; }
    bool Write(const void*, size_t) override { return false; }
    bool Seek(uint64_t) override { return true; }
    uint64_t Tell() override { return 0; }
    std::optional<uint64_t> Size() override { return 0; }
    bool Truncate(uint64_t) override { return true; }
    bool SetTimes(FileTime, FileTime, FileTime) override { return true; }
  };

 public:
  std::unique_ptr<floppyset::File> CreateForWrite(const std::string&) override {
    return std::make_unique<FailingFile>();
  }
};

TEST_F(LzhReaderTest, FailedWritesAndCreatesAreNeverSuccess) {
  // Zeros leave the CRC-16 at 0, so a CRC comparison alone would not notice the lost data.
  TempDir dir;
  WriteFileBytes(
      dir / "zeros.lzh",
      Concat({Stored("zeros.bin", std::vector<uint8_t>(5000)), Stored("next", {1}), {0}}));
  FailingWritesHost failing_writes;
  EXPECT_EQ(LzhReader(failing_writes, dir / "zeros.lzh", dir.path(), nullptr, nullptr).ExtractAll(),
            kLzhBadData);

  testing::FaultHost no_create;
  no_create.FailCreateNamed("zeros.bin");
  EXPECT_EQ(LzhReader(no_create, dir / "zeros.lzh", dir.path(), nullptr, nullptr).ExtractAll(),
            kLzhCannotCreate);
  EXPECT_FALSE(std::filesystem::exists(dir / "next"));
}

TEST_F(LzhReaderTest, RefusedMethodLeavesAnEmptyFile) {
  Extraction x;
  EXPECT_EQ(x.Run(Concat({Level1Member("-lh7-", "new.bin", {1, 2, 3}, 3, 0), {0}})), kLzhBadMethod);
  EXPECT_EQ(Names(x.out), std::set<std::string>{"new.bin"});
  EXPECT_TRUE(x.File("new.bin").empty());
  EXPECT_EQ(x.last_name, "new.bin");
}

TEST_F(LzhReaderTest, UnsafeHeadersAreRefusedWithoutWritingAnything) {
  for (const std::string name : {"../escape", "sub/x", "C:x", "..", ".", "", "a\nb"}) {
    Extraction x;
    EXPECT_EQ(x.Run(Concat({Stored(name, {1, 2}), {0}})), kLzhUnsafeHeader) << name;
    EXPECT_TRUE(Names(x.out).empty()) << name;
    EXPECT_FALSE(std::filesystem::exists(x.work / "escape"));
  }
  // A name length running past the header, and a header too small for its fixed fields.
  std::vector<uint8_t> long_name = Stored("abc", {1});
  long_name[21] = 40;
  std::vector<uint8_t> small = Stored("abc", {1});
  small[0] = 24;
  small.erase(small.begin() + 26);
  for (std::vector<uint8_t> member : {long_name, small}) {
    uint8_t sum = 0;
    for (size_t i = 2; i < 2u + member[0]; ++i) sum = static_cast<uint8_t>(sum + member[i]);
    member[1] = sum;
    Extraction x;
    EXPECT_EQ(x.Run(Concat({member, {0}})), kLzhUnsafeHeader);
    EXPECT_TRUE(Names(x.out).empty());
  }
}

// A block whose pre-code count is 0 sends one pre-code symbol that takes no bits: here it
// stands for length 8 for all 256 literals, so the literal codes are the bytes themselves.
std::vector<uint8_t> SingleSymbolPreCodeStream(const std::vector<uint8_t>& data,
                                               unsigned literal_count) {
  testing::BitWriter bits;
  bits.Put(static_cast<uint32_t>(data.size()), 16);  // symbols in the block
  bits.Put(0, 5);                                    // pre-code count 0 ...
  bits.Put(8 + 2, 5);                                // ... and its one symbol: length 8
  bits.Put(literal_count, 9);
  bits.Put(0, 4);  // one position symbol, never used
  bits.Put(0, 4);
  for (const uint8_t b : data) bits.Put(b, 8);
  return bits.Finish();
}

TEST_F(LzhReaderTest, PreCodeCountZeroDecodesWithoutBitsLikeLhasa) {
  const std::vector<uint8_t> data = testing::PseudoRandomBytes(3000, 3);
  const std::vector<uint8_t> stream = SingleSymbolPreCodeStream(data, 256);
  Extraction x;
  ASSERT_EQ(x.Run(Concat({Level1Member("-lh5-", "p.bin", stream, 3000,
                                       ReferenceCrc16(data.data(), data.size())),
                          {0}})),
            kLzhOk);
  EXPECT_EQ(x.File("p.bin"), data);
  ASSERT_EQ(RunShell("cd '" + x.work.path() + "' && lhasa -xq image.tii"), 0);
  EXPECT_EQ(ReadFileBytes(x.work / "p.bin"), data);

  // 255 literals of length 8 leave one code word unused: not a complete prefix code.
  Extraction incomplete;
  EXPECT_EQ(
      incomplete.Run(Concat(
          {Level1Member("-lh5-", "p.bin", SingleSymbolPreCodeStream(data, 255), 3000, 0), {0}})),
      kLzhBadData);
}

TEST_F(LzhReaderTest, ShortDataFailsWithoutMakingUpTheWholeMember) {
  for (const std::string name : {"text.txt", "random.bin"}) {  // -lh5- and -lh0-
    ArchivedMember member = Member(name);
    member.packed.resize(member.packed.size() / 2);
    Extraction x;
    EXPECT_EQ(x.Run(Concat({Level1Member(member), {0}})), kLzhBadData);
    const std::vector<uint8_t> written = x.File(name);
    const std::vector<uint8_t>& original = Sample(name).data;
    EXPECT_LT(written.size(), original.size());
    ASSERT_GE(written.size(), 1000u);
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + 1000, written.begin()));
  }
}

// A small archive of every kind of member, cut at every offset and with bits flipped: any
// result is acceptable, but never a crash, a hang or a file outside the destination.
TEST_F(LzhReaderTest, TruncatedAndFlippedArchivesAreHandledSafely) {
  std::vector<uint8_t> text(Sample("text.txt").data.begin(),
                            Sample("text.txt").data.begin() + 2000);
  std::vector<SampleFile> small = {{"a.txt", text},
                                   {"b.bin", testing::PseudoRandomBytes(300, 9)},
                                   {"c.bin", std::vector<uint8_t>(5000, 7)}};
  TempDir dir;
  const std::vector<uint8_t> archive =
      testing::RewrapAsLevel1(testing::CompressWithJlha(dir.path(), small));
  ASSERT_GT(archive.size(), 100u);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  for (size_t cut = 0; cut < archive.size(); ++cut) {
    Extraction x;
    const int result = x.Run({archive.begin(), archive.begin() + cut});
    EXPECT_TRUE(result == kLzhOk || result == kLzhBadHeader || result == kLzhBadData)
        << "cut " << cut << " result " << result;
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
  }
  uint32_t state = 99;
  for (int round = 0; round < 1500; ++round) {
    std::vector<uint8_t> damaged = archive;
    for (int flips = 0; flips < 1 + round % 3; ++flips) {
      state = state * 1664525 + 1013904223;
      damaged[(state >> 8) % damaged.size()] ^= static_cast<uint8_t>(1 << (state & 7));
    }
    Extraction x;
    x.Run(damaged);
    EXPECT_EQ(Names(x.work.path()), (std::set<std::string>{"image.tii", "out"}));
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
  }
}

}  // namespace
}  // namespace floppyset
