// LzhReader and the -lh5- decoder on jlha's archives next to lhasa, in calls of every size,
// on damaged and hand-made archives, and on the -lh0- archives of our writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include <sys/stat.h>
#include <ctime>

#include "codec/crc16.h"
#include "codec/lh5_decoder.h"
#include "codec/lzh_reader.h"
#include "implode_corpus.h"
#include "mkfloppyset/lzh_writer.h"
#include "package/extraction.h"
#include "support/fault_host.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using namespace testing;
using implode_testing::RandomBytes;
using Bytes = std::vector<uint8_t>;
using Names = std::set<std::string>;

// A bitwise CRC-16/ARC, independent of the table-driven code under test.
uint16_t ReferenceCrc16(const uint8_t* data, size_t size, uint16_t crc = 0) {
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

struct Member {
  std::string method, name;
  Bytes packed;
  uint32_t size = 0;
  uint16_t crc = 0;
};

// One member with a level-1 header of 25 + name length bytes and no extended header (the
// form the reader takes), then `more` and the final 0 byte.
Bytes Level1(const Member& member, const Bytes& more = {}) {
  const std::string& name = member.name;
  Bytes m(27 + name.size(), 0);
  m[0] = static_cast<uint8_t>(25 + name.size());
  std::copy_n(member.method.begin(), 5, m.begin() + 2);
  for (int i = 0; i < 4; ++i) {
    m[7 + i] = static_cast<uint8_t>(member.packed.size() >> (8 * i));
    m[11 + i] = static_cast<uint8_t>(member.size >> (8 * i));
    m[15 + i] = static_cast<uint8_t>(0x3A2B1C0D >> (8 * i));  // a DOS time stamp
  }
  m[19] = 0x20, m[20] = 1, m[21] = static_cast<uint8_t>(name.size());
  std::copy(name.begin(), name.end(), m.begin() + 22);
  m[22 + name.size()] = static_cast<uint8_t>(member.crc);
  m[23 + name.size()] = static_cast<uint8_t>(member.crc >> 8);
  m[24 + name.size()] = 'M';
  for (size_t i = 2; i < m.size(); ++i) m[1] = static_cast<uint8_t>(m[1] + m[i]);
  m.insert(m.end(), member.packed.begin(), member.packed.end());
  m.insert(m.end(), more.begin(), more.end());
  if (more.empty() || more.back() != 0) m.push_back(0);
  return m;
}
Bytes Stored(const std::string& name, const Bytes& data, const Bytes& more = {}) {
  return Level1({"-lh0-", name, data, static_cast<uint32_t>(data.size()),
                 ReferenceCrc16(data.data(), data.size())},
                more);
}

// A -lh5- member of 3000 random bytes in one block whose pre-code count is 0: one pre-code
// symbol that takes no bits stands for length 8 for the first `literals` literals, so with 256
// the literal codes are the bytes themselves; with 255 one code word is unused, which makes no
// complete prefix code.
Member PreCodeCountZero(uint32_t literals) {
  const Bytes data = RandomBytes(3000, 3);
  Bytes bits;
  unsigned used = 0;
  const auto put = [&](uint32_t value, unsigned width) {
    for (unsigned i = width; i-- > 0; used = (used + 1) & 7) {
      if (used == 0) bits.push_back(0);
      if ((value >> i) & 1) bits.back() |= static_cast<uint8_t>(0x80 >> used);
    }
  };
  for (const auto& [value, width] :
       {std::pair{3000u, 16u}, {0u, 5u}, {10u, 5u}, {literals, 9u}, {0u, 4u}, {0u, 4u}}) {
    put(value, width);
  }
  for (const uint8_t b : data) put(b, 8);
  return {"-lh5-", "p.bin", bits, 3000, ReferenceCrc16(data.data(), data.size())};
}

// Sample files and jlha's level-0 archive of them (-lh5-, or -lh0- where that does not pay).
struct Corpus {
  TempDir work;
  std::map<std::string, Bytes> files;
  std::map<std::string, Member> members;
  Corpus() {
    const auto head = [](const std::string& path, size_t size) {
      Bytes data = ReadFileBytes(path);
      data.resize(std::min(data.size(), size));
      return data;
    };
    files = {{"text.txt", head("/usr/share/common-licenses/GPL-3", 50000)},
             {"exactly.8k", head("/usr/share/common-licenses/GPL-2", 8192)},
             {"zeros.bin", Bytes(70000, 0)},
             {"random.bin", RandomBytes(20000, 1)},
             {"tiny", {'x'}},
             {"program.bin", head("/bin/ls", 120000)},
             {"image00.tii", implode_testing::MakeFloppyImage(work.path(), 1400 * 1024)}};
    std::filesystem::create_directory(work / "in");
    std::string names;
    for (const auto& [name, data] : files) {
      WriteFileBytes(work / ("in/" + name), data);
      names += " '" + name + "'";
    }
    RunShell("cd '" + (work / "in") + "' && jlha a0q1 ../jlha.lzh" + names + " >/dev/null 2>&1");
    const Bytes a = ReadFileBytes(work / "jlha.lzh");
    const auto le32 = [&](size_t at) {
      return uint32_t{a[at]} | a[at + 1] << 8 | a[at + 2] << 16 | uint32_t{a[at + 3]} << 24;
    };
    for (size_t at = 0; at + 24 < a.size() && a[at] != 0;) {
      const size_t name_end = at + 22 + a[at + 21], data_at = at + 2 + a[at];
      Member m{{a.begin() + at + 2, a.begin() + at + 7},
               {a.begin() + at + 22, a.begin() + name_end},
               {a.begin() + data_at, a.begin() + data_at + le32(at + 7)},
               le32(at + 11),
               static_cast<uint16_t>(a[name_end] | a[name_end + 1] << 8)};
      at = data_at + m.packed.size();
      members[m.name] = std::move(m);
    }
  }
};
const Corpus& corpus() {
  static const Corpus made;
  return made;
}

Names NamesIn(const std::string& dir) {
  Names names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Extracts an archive given as bytes into <work>/out, and by lhasa into <work>/lhasa; the
// archive itself lies beside them.
struct Extraction {
  TempDir work;
  std::string out = work / "out", archive = work / "image.tii";
  std::vector<uint16_t> progress;
  int Run(const Bytes& archive, Host* host = nullptr) {
    WriteFileBytes(this->archive, archive);
    std::filesystem::create_directory(out);
    PosixHost posix;
    Host& files = host ? *host : posix;
    const std::unique_ptr<File> input = files.OpenForRead(this->archive);
    MemberHooks hooks;
    hooks.create = FilesIn(files, out);
    return LzhReader(input.get(), hooks, &Record, this).ExtractAll();
  }
  int Lhasa() const {
    return RunShell("mkdir '" + (work / "lhasa") + "' && cd '" + (work / "lhasa") +
                    "' && lhasa -xq ../image.tii");
  }
  static void Record(void* self, uint16_t percentage) {
    static_cast<Extraction*>(self)->progress.push_back(percentage);
  }
};

// Every kernel this CPU has, over lengths, alignments and starting values around the
// folding and interleaving thresholds (the one picked at run time checks every member read).
TEST(Crc16Test, EveryKernelAgreesWithTheBitwiseDefinition) {
  const Bytes data = RandomBytes(70000 + 16, 5);  // room for every alignment
  std::vector<size_t> sizes = {16 * 1024 - 1, 16 * 1024 + 13, 65536 + 100, 69999};
  for (size_t size = 0; size < 1200; ++size) sizes.push_back(size);
  for (const Crc16Kernel kernel :
       {Crc16Kernel::kPortable, Crc16Kernel::kClmul, Crc16Kernel::kWideClmul}) {
    for (const size_t size : sizes) {
      const uint8_t* p = data.data() + size % 16;
      const auto start = static_cast<uint16_t>(size * 40503u);
      ASSERT_TRUE(!Crc16KernelAvailable(kernel) ||
                  Crc16UpdateWith(kernel, p, size, start) == ReferenceCrc16(p, size, start))
          << size;
    }
  }
}

Bytes DecodeInChunks(const Bytes& packed, size_t size, size_t chunk) {
  Lh5Decoder decoder;
  decoder.Start(packed);
  Bytes out;
  while (out.size() < size && decoder.Decode(std::min(chunk, size - out.size()))) {
    out.insert(out.end(), decoder.output().begin(), decoder.output().end());
  }
  return out;
}

// Hand-made blocks whose literal/length code has two one-bit words, '0' for the literal 'A'
// and '1' for a 256-byte match, and whose position code is one symbol of no bits: slot 13
// with all extra bits set, reaching 8192 bytes back from the 11th byte (the window reads as
// zeros there), or slot 0 for 40 matches after one literal.
TEST(Lh5DecoderTest, HandMadeBlocksDecodeOrAreRefused) {
  const Bytes far_back = {0x00, 0x0C, 0x20, 0x04, 0x3F, 0xE0, 0xB6,
                          0xD3, 0xC3, 0x40, 0x0F, 0xFF, 0xFF, 0xFC},
              overlapping = {0x00, 0x29, 0x20, 0x04, 0x3F, 0xE0, 0xB6, 0xD3,
                             0xC0, 0x1F, 0xFF, 0xFF, 0xFF, 0xFF, 0xE0};
  // Made at its full size: growing a 10-byte vector trips GCC 12's -Warray-bounds at -O3.
  Bytes expected(10 + 512, 0);
  std::fill_n(expected.begin(), 10, 'A');
  EXPECT_EQ(DecodeInChunks(far_back, expected.size(), 8192), expected);
  const Bytes corrupt[] = {
      // 31 pre-code lengths for 19 symbols; a pre-code length of 7 + 13 ones; position 15 of 14
      {0, 5, 0xF9, 0x24, 0x92, 0x49, 0x24, 0x92, 0x49, 0x24, 0x92, 0x49, 0x24, 0x92, 0x40},
      {0, 5, 0x1F, 0xFF, 0xF8},
      {0, 5, 0x00, 0xC0, 0x12, 0xC0, 0xF0}};
  Lh5Decoder decoder;
  for (const Bytes& stream : corrupt) {
    decoder.Start(stream);
    EXPECT_FALSE(decoder.Decode(100));
    EXPECT_FALSE(decoder.Decode(100));
  }
  // Zero bits make valid blocks of 65536 zero-bit symbols: the overrun must be noticed.
  decoder.Start(std::span<const uint8_t>());
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(decoder.Decode(Lh5Decoder::kMaxChunk));
  EXPECT_TRUE(decoder.overran_input());
  decoder.Start(overlapping);
  ASSERT_TRUE(decoder.Decode(1 + 40 * 256));
  EXPECT_FALSE(decoder.overran_input());
}

// The reader decodes 8192 bytes a call; the decoder alone is also driven in calls of other
// sizes, so that matches cross the ends of calls.
TEST(LzhReaderTest, ExtractsJlhaArchivesByteExactLikeLhasa) {
  Bytes archive = Level1(PreCodeCountZero(256));
  Names methods, expected;
  auto files = corpus().files;
  files["p.bin"] = RandomBytes(3000, 3);
  for (const auto& [name, m] : corpus().members) {
    methods.insert(m.method);
    archive = Level1(m, archive);
    for (const size_t chunk : {size_t{1}, size_t{7}, Lh5Decoder::kMaxChunk}) {
      if (m.method != "-lh5-" || (chunk < 100 && m.size > 100000)) continue;
      EXPECT_EQ(DecodeInChunks(m.packed, m.size, chunk), files.at(name)) << name << ", " << chunk;
    }
  }
  ASSERT_EQ(corpus().members.size(), corpus().files.size()) << "jlha failed";
  EXPECT_EQ(methods, (Names{"-lh0-", "-lh5-"}));
  Extraction x;
  ASSERT_EQ(x.Run(archive), kLzhOk);
  ASSERT_EQ(x.Lhasa(), 0);
  for (const auto& [name, data] : files) {
    expected.insert(name);
    EXPECT_EQ(ReadFileBytes(x.out + "/" + name), data) << name;
    EXPECT_EQ(ReadFileBytes(x.work / ("lhasa/" + name)), data) << name;
  }
  EXPECT_EQ(NamesIn(x.out), expected);
  // Progress rises by whole points, counted from the bytes decoded, not from the reads ahead,
  // up to all but the final 0 byte.
  ASSERT_FALSE(x.progress.empty());
  for (size_t i = 0; i < x.progress.size(); ++i) {
    const int step = x.progress[i] - (i ? x.progress[i - 1] : 0);
    EXPECT_TRUE(step >= 1 && step <= 3) << i;
  }
  EXPECT_EQ(x.progress.back(), 99 + (x.progress.back() == 100));
}

// One row per way an archive fails: the result, and the files left in the destination, each
// no longer than its member and right at least in its first 1000 bytes.
TEST(LzhReaderTest, EveryFailureHasItsResultAndLeavesOnlyWhatWasWritten) {
  const auto& members = corpus().members;
  Member bad_crc = members.at("text.txt"), bad_crc_stored = members.at("random.bin"),
         short_lh5 = bad_crc, short_lh0 = bad_crc_stored;
  bad_crc.crc ^= 0x0100;
  bad_crc_stored.crc ^= 0x0100;
  short_lh5.packed.resize(short_lh5.packed.size() / 2);
  short_lh0.packed.resize(short_lh0.packed.size() / 2);
  Bytes bad_sum = Level1(members.at("text.txt")), long_name = Stored("abc", {1}), small = long_name;
  bad_sum[1] = static_cast<uint8_t>(bad_sum[1] + 1);
  long_name[21] = 40;  // a name running past the header
  small[0] = 24;       // a header too small for its fixed fields
  small.erase(small.begin() + 26);
  for (Bytes* member : {&long_name, &small}) {
    (*member)[1] = 0;
    for (size_t i = 2; i < 2u + (*member)[0]; ++i) (*member)[1] += (*member)[i];
  }
  FaultHost full, no_create, no_open;
  full.SetDiskRoom(0);
  no_create.FailCreateNamed("z.bin");
  const Bytes zeros = Stored("z.bin", Bytes(5000), Stored("next", {1}));
  const struct {
    const char* what;
    Bytes archive;
    int result;
    Names left;
    FaultHost* host = nullptr;
  } cases[] = {
      {"a single 0 byte", {0}, kLzhOk, {}},
      {"an empty file", {}, kLzhOk, {}},
      {"header checksum", Stored("first.bin", {1}, bad_sum), kLzhBadHeader, {"first.bin"}},
      {"-lh5- CRC", Level1(bad_crc, Stored("after", {1})), kLzhBadData, {"text.txt"}},
      {"-lh0- CRC", Level1(bad_crc_stored), kLzhBadData, {"random.bin"}},
      {"short -lh5-", Level1(short_lh5), kLzhBadData, {"text.txt"}},
      {"short -lh0-", Level1(short_lh0), kLzhBadData, {"random.bin"}},
      {"incomplete code", Level1(PreCodeCountZero(255)), kLzhBadData, {"p.bin"}},
      {"method", Level1({"-lh7-", "new.bin", {1, 2, 3}, 3, 0}), kLzhBadMethod, {"new.bin"}},
      {"name with a ..", Stored("../escape", {1, 2}), kLzhUnsafeHeader, {}},
      {"empty name", Stored("", {1, 2}), kLzhUnsafeHeader, {}},
      {"name past the header", long_name, kLzhBadHeader, {}},
      {"small header", small, kLzhBadHeader, {}},
      // Zeros leave the CRC-16 at 0: only the failed write tells that data was lost.
      {"failed writes", zeros, kLzhBadData, {"z.bin"}, &full},
      {"failed create", zeros, kLzhCannotCreate, {}, &no_create},
      {"failed open", zeros, kLzhCannotOpenArchive, {}, &no_open},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Extraction x;
    no_open.FailOpen(x.work / "image.tii");
    EXPECT_EQ(x.Run(c.archive, c.host), c.result);
    EXPECT_EQ(NamesIn(x.out), c.left);
    EXPECT_EQ(NamesIn(x.work.path()), (Names{"image.tii", "out"}));
    for (const auto& name : c.left) {
      if (!corpus().files.count(name)) continue;
      const Bytes written = ReadFileBytes(x.out + "/" + name), &whole = corpus().files.at(name);
      EXPECT_TRUE(written.size() >= 1000 && written.size() <= whole.size() &&
                  std::equal(written.begin(), written.begin() + 1000, whole.begin()));
    }
  }
}

// LHa for UNIX (`lha a1`) writes level-1 headers followed by extended headers that count in
// the compressed size; they were once taken as the start of the -lh5- data ("its data is
// damaged"). The member after it must be found too.
TEST(LzhReaderTest, ExtendedHeadersOfLevelOneAreSteppedOver) {
  Bytes archive = {
      0x21, 0xfe, 0x2d, 0x6c, 0x68, 0x35, 0x2d, 0x23, 0x00, 0x00, 0x00, 0xa2, 0x00, 0x00, 0x00,
      0x77, 0x8e, 0x89, 0x5d, 0x20, 0x01, 0x08, 0x44, 0x49, 0x53, 0x4b, 0x2e, 0x54, 0x58, 0x54,
      0x2c, 0x38, 0x00, 0x05, 0x00, 0x00, 0x80, 0x27, 0x00, 0x00, 0x00, 0x0f, 0x3a, 0x72, 0x87,
      0x0b, 0x9f, 0xe9, 0xbd, 0xc2, 0xf4, 0xa4, 0x53, 0xe9, 0x89, 0xc7, 0xd7, 0x19, 0x0c, 0x00,
      0x20, 0xbd, 0x59, 0x3a, 0xbc, 0x9a, 0x32, 0x50, 0x7e, 0x80};  // DISK.TXT, 162 bytes
  const Bytes after = Stored("after", {7});
  archive.insert(archive.end(), after.begin(), after.end());
  Extraction x;
  ASSERT_EQ(x.Run(archive), kLzhOk);
  std::string text;
  for (int i = 0; i < 6; ++i) text += "floppy floppy floppy disk\r\n";
  EXPECT_EQ(ReadFileText(x.out + "/DISK.TXT"), text);
  EXPECT_EQ(ReadFileBytes(x.out + "/after"), Bytes{7});
  // An extended header longer than the data it is counted in is a damaged header.
  archive[7] = 0x04;
  archive[1] = static_cast<uint8_t>(archive[1] - 0x23 + 0x04);
  Extraction damaged;
  EXPECT_EQ(damaged.Run(archive), kLzhBadHeader);
}

TEST(LzhWriterTest, ArchivesAreExtractedAlikeByLhasaAndByTheReader) {
  const std::vector<LzhMember> members = {
      {"image00.tii", corpus().files.at("image00.tii"), 0x3B2A1C45},
      {"image01.tii", RandomBytes(5000, 2), 0},
      {"empty.bin", {}, 0},
      {std::string(kMaxLzhNameLength, 'n'), {1, 2, 3}, 0},
  };
  ASSERT_EQ(members[0].data.size(), 1474560u);
  Extraction x;
  ASSERT_EQ(x.Run(WriteLh0Archive(members)), kLzhOk);
  const std::string listing = ShellOutput("lhasa -v '" + x.archive + "' 2>&1");
  EXPECT_TRUE(listing.find("rror") == listing.npos && listing.find("-lh0-") != listing.npos)
      << listing;
  ASSERT_EQ(x.Lhasa(), 0);
  for (const LzhMember& member : members) {
    EXPECT_EQ(ReadFileBytes(x.work / ("lhasa/" + member.name)), member.data) << member.name;
    EXPECT_EQ(ReadFileBytes(x.out + "/" + member.name), member.data) << member.name;
  }
  // 0x3B2A1C45 is 2009-09-10 03:34:10 local time, as lhasa reads the header.
  struct stat st {};
  std::tm local{};
  ASSERT_EQ(stat((x.work / "lhasa/image00.tii").c_str(), &st), 0);
  localtime_r(&st.st_mtime, &local);
  EXPECT_EQ(std::tuple(local.tm_year, local.tm_mon, local.tm_mday, local.tm_hour, local.tm_min),
            std::tuple(109, 8, 10, 3, 34));
  EXPECT_EQ(WriteLh0Archive({}), Bytes{0});
  EXPECT_TRUE(WriteLh0Archive({{std::string(kMaxLzhNameLength + 1, 'n'), {1}, 0}}).empty());
  EXPECT_TRUE(WriteLh0Archive({{"", {1}, 0}}).empty());
}

}  // namespace
}  // namespace floppyset
