// LzhReader on jlha's archives next to lhasa, on damaged and hostile archives, and on the
// -lh0- archives of our writer, which lhasa must read as well.
#include "codec/lzh_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "implode_corpus.h"
#include "lha_samples.h"
#include "mkfloppyset/lzh_writer.h"
#include "platform/posix/posix_host.h"
#include "support/fault_host.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using testing::ArchivedMember;
using testing::ReadFileBytes;
using testing::RunShell;
using testing::TempDir;
using Bytes = std::vector<uint8_t>;
using Names = std::set<std::string>;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Stored(const std::string& name, const Bytes& data) {
  return testing::Level1Member({"-lh0-", name, data, static_cast<uint32_t>(data.size()),
                                testing::ReferenceCrc16(data.data(), data.size())});
}

Names NamesIn(const std::string& dir) {
  Names names;
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

  int Run(const Bytes& archive, Host* host = nullptr) {
    testing::WriteFileBytes(work / "image.tii", archive);
    std::filesystem::create_directory(out);
    PosixHost posix;
    LzhReader reader(host ? *host : posix, work / "image.tii", out, &Record, this);
    return reader.ExtractAll();
  }
  static void Record(void* self, uint16_t percentage) {
    static_cast<Extraction*>(self)->progress.push_back(percentage);
  }
};

// Reads fail or writes fail, for every file.
class FailingHost : public PosixHost {
  struct FailingFile : floppyset::File {
    int64_t Read(void*, size_t) override { return -1; }
    bool Write(const void*, size_t) override { return false; }
    bool Seek(uint64_t) override { return true; }
    uint64_t Tell() override { return 0; }
    std::optional<uint64_t> Size() override { return 0; }
    bool Truncate(uint64_t) override { return true; }
    bool SetTimes(FileTime, FileTime, FileTime) override { return true; }
  };

 public:
  explicit FailingHost(bool reads) : reads_(reads) {}
  std::unique_ptr<floppyset::File> OpenForRead(const std::string& path) override {
    return reads_ ? std::make_unique<FailingFile>() : PosixHost::OpenForRead(path);
  }
  std::unique_ptr<floppyset::File> CreateForWrite(const std::string& path) override {
    return reads_ ? PosixHost::CreateForWrite(path) : std::make_unique<FailingFile>();
  }

 private:
  bool reads_;
};

// The sample files and jlha's archive of them, made once.
struct Corpus {
  TempDir work;
  std::vector<testing::SampleFile> files = testing::MakeSampleFiles(work.path());
  Bytes jlha = testing::CompressWithJlha(work.path(), files);
};

class LzhReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(corpus().jlha.empty()) << "jlha failed"; }
  static ArchivedMember Member(const std::string& name) {
    for (const ArchivedMember& m : testing::ParseLevel0(corpus().jlha)) {
      if (m.name == name) return m;
    }
    return {};
  }
  static const Bytes& Sample(const std::string& name) {
    for (const auto& file : corpus().files) {
      if (file.name == name) return file.data;
    }
    std::abort();
  }
  static const Corpus& corpus() {
    static const Corpus made;
    return made;
  }
};

TEST_F(LzhReaderTest, ExtractsJlhaArchivesByteExactLikeLhasa) {
  Extraction x;
  ASSERT_EQ(x.Run(testing::RewrapAsLevel1(corpus().jlha)), kLzhOk);
  const std::string lhasa_dir = x.work / "lhasa";
  std::filesystem::create_directory(lhasa_dir);
  ASSERT_EQ(RunShell("cd '" + lhasa_dir + "' && lhasa -xq '" + (x.work / "image.tii") + "'"), 0);
  Names expected, methods;
  for (const auto& m : testing::ParseLevel0(corpus().jlha)) methods.insert(m.method);
  EXPECT_EQ(methods, (Names{"-lh0-", "-lh5-"}));
  for (const auto& file : corpus().files) {
    expected.insert(file.name);
    EXPECT_EQ(ReadFileBytes(x.out + "/" + file.name), file.data) << file.name;
    EXPECT_EQ(ReadFileBytes(lhasa_dir + "/" + file.name), file.data) << file.name;
  }
  EXPECT_EQ(NamesIn(x.out), expected);
  EXPECT_EQ(Sample("image00.tii").size(), 1474560u);
  // Progress rises by whole points, counted from the bytes decoded, not from the reads ahead,
  // up to all but the final 0 byte.
  ASSERT_FALSE(x.progress.empty());
  EXPECT_GE(x.progress.front(), 1);
  for (size_t i = 1; i < x.progress.size(); ++i) {
    EXPECT_GT(x.progress[i], x.progress[i - 1]);
    EXPECT_LE(x.progress[i] - x.progress[i - 1], 3);
  }
  EXPECT_EQ(x.progress.back(), 99 + (x.progress.back() == 100));
}

// One row per way an archive fails: the result, and the files left in the destination.
TEST_F(LzhReaderTest, EveryFailureHasItsResultAndLeavesOnlyWhatWasWritten) {
  ArchivedMember bad_crc = Member("text.txt"), bad_crc_stored = Member("random.bin");
  bad_crc.crc ^= 0x0100;
  bad_crc_stored.crc ^= 0x0100;
  Bytes bad_sum = testing::Level1Member(Member("text.txt"));
  bad_sum[1] = static_cast<uint8_t>(bad_sum[1] + 1);
  Bytes long_name = Stored("abc", {1}), small = Stored("abc", {1});
  long_name[21] = 40;  // a name running past the header
  small[0] = 24;       // a header too small for its fixed fields
  small.erase(small.begin() + 26);
  for (Bytes* member : {&long_name, &small}) {
    (*member)[1] = 0;
    for (size_t i = 2; i < 2u + (*member)[0]; ++i) (*member)[1] += (*member)[i];
  }
  FailingHost failing_reads(true), failing_writes(false);
  testing::FaultHost no_create;
  no_create.FailCreateNamed("zeros.bin");
  const Bytes zeros = Concat({Stored("zeros.bin", Bytes(5000)), Stored("next", {1}), {0}});
  const struct {
    const char* what;
    Bytes archive;
    int result;
    Names left;
    Host* host = nullptr;
  } cases[] = {
      {"a single 0 byte", {0}, kLzhOk, {}},
      {"an empty file", {}, kLzhOk, {}},
      {"header checksum",
       Concat({Stored("first.bin", {1}), bad_sum, {0}}),
       kLzhBadHeader,
       {"first.bin"}},
      {"-lh5- CRC",
       Concat({testing::Level1Member(bad_crc), Stored("after", {1}), {0}}),
       kLzhBadData,
       {"text.txt"}},
      {"-lh0- CRC",
       Concat({testing::Level1Member(bad_crc_stored), {0}}),
       kLzhBadData,
       {"random.bin"}},
      {"method",
       Concat({testing::Level1Member({"-lh7-", "new.bin", {1, 2, 3}, 3, 0}), {0}}),
       kLzhBadMethod,
       {"new.bin"}},
      {"name with a ..", Concat({Stored("../escape", {1, 2}), {0}}), kLzhUnsafeHeader, {}},
      {"empty name", Concat({Stored("", {1, 2}), {0}}), kLzhUnsafeHeader, {}},
      {"name past the header", Concat({long_name, {0}}), kLzhUnsafeHeader, {}},
      {"small header", Concat({small, {0}}), kLzhUnsafeHeader, {}},
      // Zeros leave the CRC-16 at 0: only the failed write tells that data was lost.
      {"failed writes", zeros, kLzhBadData, {}, &failing_writes},
      {"failed create", zeros, kLzhCannotCreate, {}, &no_create},
      {"failed reads", zeros, kLzhCannotOpenArchive, {}, &failing_reads},
  };
  for (const auto& c : cases) {
    Extraction x;
    EXPECT_EQ(x.Run(c.archive, c.host), c.result) << c.what;
    EXPECT_EQ(NamesIn(x.out), c.left) << c.what;
    EXPECT_EQ(NamesIn(x.work.path()), (Names{"image.tii", "out"})) << c.what;
    for (const auto& name : c.left) {
      if (name == "text.txt" || name == "random.bin") {  // kept as written
        EXPECT_EQ(ReadFileBytes(x.out + "/" + name), Sample(name)) << c.what;
      }
    }
  }
  PosixHost host;
  EXPECT_EQ(
      LzhReader(host, corpus().work.path() + "/missing.lzh", corpus().work.path(), nullptr, nullptr)
          .ExtractAll(),
      kLzhCannotOpenArchive);
}

TEST_F(LzhReaderTest, ShortDataFailsWithoutMakingUpTheWholeMember) {
  for (const std::string name : {"text.txt", "random.bin"}) {  // -lh5- and -lh0-
    ArchivedMember member = Member(name);
    member.packed.resize(member.packed.size() / 2);
    Extraction x;
    EXPECT_EQ(x.Run(Concat({testing::Level1Member(member), {0}})), kLzhBadData);
    const Bytes written = ReadFileBytes(x.out + "/" + name);
    EXPECT_LT(written.size(), Sample(name).size());
    ASSERT_GE(written.size(), 1000u);
    EXPECT_TRUE(std::equal(written.begin(), written.begin() + 1000, Sample(name).begin()));
  }
}

// A block whose pre-code count is 0 sends one pre-code symbol that takes no bits: here it
// stands for length 8 for all 256 literals, so the literal codes are the bytes themselves.
TEST_F(LzhReaderTest, PreCodeCountZeroDecodesWithoutBitsLikeLhasa) {
  const Bytes data = implode_testing::RandomBytes(3000, 3);
  const uint16_t crc = testing::ReferenceCrc16(data.data(), data.size());
  for (const unsigned literal_count : {256u, 255u}) {
    testing::BitWriter bits;
    for (const auto& [value, width] :
         {std::pair{3000u, 16u}, {0, 5}, {8 + 2, 5}, {literal_count, 9}, {0, 4}, {0, 4}}) {
      bits.Put(value, width);
    }
    for (const uint8_t b : data) bits.Put(b, 8);
    Extraction x;
    const int result =
        x.Run(Concat({testing::Level1Member({"-lh5-", "p.bin", bits.Finish(), 3000, crc}), {0}}));
    if (literal_count == 255) {  // one code word unused: not a complete prefix code
      EXPECT_EQ(result, kLzhBadData);
      continue;
    }
    ASSERT_EQ(result, kLzhOk);
    EXPECT_EQ(ReadFileBytes(x.out + "/p.bin"), data);
    ASSERT_EQ(RunShell("cd '" + x.work.path() + "' && lhasa -xq image.tii"), 0);
    EXPECT_EQ(ReadFileBytes(x.work / "p.bin"), data);
  }
}

TEST(LzhWriterTest, ArchivesAreExtractedAlikeByLhasaAndByTheReader) {
  TempDir dir;
  const std::vector<LzhMember> members = {
      {"image00.tii", implode_testing::MakeFloppyImage(dir.path(), 1400 * 1024), 0x3B2A1C45},
      {"image01.tii", implode_testing::RandomBytes(5000, 2), 0},
      {"empty.bin", {}, 0},
      {std::string(kMaxLzhNameLength, 'n'), {1, 2, 3}, 0},
  };
  ASSERT_EQ(members[0].data.size(), 1474560u);
  testing::WriteFileBytes(dir / "set.lzh", WriteLh0Archive(members));
  const std::string listing = testing::ShellOutput("lhasa -v '" + (dir / "set.lzh") + "' 2>&1");
  EXPECT_EQ(listing.find("rror"), std::string::npos) << listing;
  EXPECT_NE(listing.find("-lh0-"), std::string::npos) << listing;
  ASSERT_EQ(RunShell("mkdir '" + (dir / "lhasa") + "' '" + (dir / "ours") + "'"), 0);
  ASSERT_EQ(RunShell("cd '" + (dir / "lhasa") + "' && lhasa -xq ../set.lzh"), 0);
  PosixHost host;
  ASSERT_EQ(LzhReader(host, dir / "set.lzh", dir / "ours", nullptr, nullptr).ExtractAll(), kLzhOk);
  for (const LzhMember& member : members) {
    EXPECT_EQ(ReadFileBytes(dir / "lhasa/" + member.name), member.data) << member.name;
    EXPECT_EQ(ReadFileBytes(dir / "ours/" + member.name), member.data) << member.name;
  }
  EXPECT_EQ(WriteLh0Archive({}), Bytes{0});
  EXPECT_TRUE(WriteLh0Archive({{std::string(kMaxLzhNameLength + 1, 'n'), {1}, 0}}).empty());
  EXPECT_TRUE(WriteLh0Archive({{"", {1}, 0}}).empty());
}

}  // namespace
}  // namespace floppyset
