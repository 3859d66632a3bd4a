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

// MSB-first bit writer for hand-made -lh5- streams.
struct BitWriter {
  Bytes bytes;
  unsigned used = 0;
  BitWriter& Put(uint32_t value, unsigned bits) {
    for (unsigned i = bits; i-- > 0; used = (used + 1) & 7) {
      if (used == 0) bytes.push_back(0);
      if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> used);
    }
    return *this;
  }
  BitWriter& Put(std::initializer_list<std::pair<uint32_t, unsigned>> fields) {
    for (const auto& [value, width] : fields) Put(value, width);
    return *this;
  }
};

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

// Sample files and jlha's level-0 archive of them (-lh5-, or -lh0- where that does not pay),
// made once.
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
    RunShell("mkdir '" + (work / "in") + "'");
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

// Extracts an archive given as bytes into <work>/out; the archive itself lies beside it.
struct Extraction {
  TempDir work;
  std::string out = work / "out";
  std::vector<uint16_t> progress;
  int Run(const Bytes& archive, Host* host = nullptr) {
    WriteFileBytes(work / "image.tii", archive);
    std::filesystem::create_directory(out);
    PosixHost posix;
    return LzhReader(host ? *host : posix, work / "image.tii", out, &Record, this).ExtractAll();
  }
  static void Record(void* self, uint16_t percentage) {
    static_cast<Extraction*>(self)->progress.push_back(percentage);
  }
};

// Every kernel this CPU has, over lengths, alignments and starting values around the
// folding and interleaving thresholds, and chained over uneven pieces.
TEST(Crc16Test, EveryKernelAgreesWithTheBitwiseDefinition) {
  const Bytes data = RandomBytes(70000, 5);
  for (const Crc16Kernel kernel :
       {Crc16Kernel::kPortable, Crc16Kernel::kClmul, Crc16Kernel::kWideClmul}) {
    if (!Crc16KernelAvailable(kernel)) continue;
    for (size_t size = 0; size < 1200; ++size) {
      const uint16_t start = static_cast<uint16_t>(size * 40503u);
      ASSERT_EQ(Crc16UpdateWith(kernel, data.data() + size % 16, size, start),
                ReferenceCrc16(data.data() + size % 16, size, start))
          << size;
    }
    for (const size_t size : {16 * 1024 - 1, 16 * 1024 + 13, 65536 + 100, 69999}) {
      ASSERT_EQ(Crc16UpdateWith(kernel, data.data() + 1, size, 0x5A5A),
                ReferenceCrc16(data.data() + 1, size, 0x5A5A))
          << size;
    }
  }
  uint16_t crc = 0;
  for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 % 4099 + 1) {
    crc = Crc16Update(data.data() + at, std::min(piece, data.size() - at), crc);
  }
  EXPECT_EQ(crc, ReferenceCrc16(data.data(), data.size()));
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

TEST(Lh5DecoderTest, CallSizesDoNotChangeTheOutput) {
  size_t compressed = 0;
  for (const auto& [name, m] : corpus().members) {
    if (m.method != "-lh5-") continue;
    ++compressed;
    for (const size_t chunk : {size_t{1}, size_t{7}, size_t{8192}, Lh5Decoder::kMaxChunk}) {
      if (chunk < 100 && m.size > 100000) continue;
      EXPECT_EQ(DecodeInChunks(m.packed, m.size, chunk), corpus().files.at(name))
          << name << " in chunks of " << chunk;
    }
  }
  EXPECT_GE(compressed, 5u);
}

// Hand-made blocks whose literal/length code has two one-bit words, '0' for the literal 'A'
// and '1' for a 256-byte match, and whose position code is one symbol of no bits: slot 13
// with all extra bits set, reaching 8192 bytes back from the 11th byte (the window reads as
// zeros there), or slot 0 for 40 matches after one literal.
TEST(Lh5DecoderTest, HandMadeBlocksDecodeOrAreRefused) {
  const Bytes head = {0x20, 0x04, 0x3F, 0xE0, 0xB6, 0xD3};
  Bytes far_back = {0x00, 0x0C}, overlapping = {0x00, 0x29};
  far_back.insert(far_back.end(), head.begin(), head.end());
  far_back.insert(far_back.end(), {0xC3, 0x40, 0x0F, 0xFF, 0xFF, 0xFC});
  overlapping.insert(overlapping.end(), head.begin(), head.end());
  overlapping.insert(overlapping.end(), {0xC0, 0x1F, 0xFF, 0xFF, 0xFF, 0xFF, 0xE0});
  // Made at its full size: growing a 10-byte vector trips GCC 12's -Warray-bounds at -O3.
  Bytes expected(10 + 512, 0);
  std::fill_n(expected.begin(), 10, 'A');
  EXPECT_EQ(DecodeInChunks(far_back, expected.size(), 8192), expected);
  const Bytes corrupt[] = {
      // 31 pre-code lengths for 19 symbols; a pre-code length of 7 + 13 ones; position 15 of 14
      {0, 5, 0xF9, 0x24, 0x92, 0x49, 0x24, 0x92, 0x49, 0x24, 0x92, 0x49, 0x24, 0x92, 0x40},
      {0, 5, 0x1F, 0xFF, 0xF8},
      {0, 5, 0x00, 0xC0, 0x12, 0xC0, 0xF0}};
  for (const Bytes& stream : corrupt) {
    Lh5Decoder decoder;
    decoder.Start(stream);
    EXPECT_FALSE(decoder.Decode(100));
    EXPECT_FALSE(decoder.Decode(100));
  }
  // Zero bits make valid blocks of 65536 zero-bit symbols: the overrun must be noticed.
  Lh5Decoder decoder;
  decoder.Start(std::span<const uint8_t>());
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(decoder.Decode(Lh5Decoder::kMaxChunk));
  EXPECT_TRUE(decoder.overran_input());
  decoder.Start(overlapping);
  ASSERT_TRUE(decoder.Decode(1 + 40 * 256));
  EXPECT_FALSE(decoder.overran_input());
}

TEST(LzhReaderTest, ExtractsJlhaArchivesByteExactLikeLhasa) {
  Bytes archive;
  Names methods;
  for (const auto& [name, m] : corpus().members) {
    methods.insert(m.method);
    archive = Level1(m, archive);
  }
  ASSERT_EQ(corpus().members.size(), corpus().files.size()) << "jlha failed";
  EXPECT_EQ(methods, (Names{"-lh0-", "-lh5-"}));
  Extraction x;
  ASSERT_EQ(x.Run(archive), kLzhOk);
  const std::string lhasa_dir = x.work / "lhasa";
  ASSERT_EQ(
      RunShell("mkdir '" + lhasa_dir + "' && cd '" + lhasa_dir + "' && lhasa -xq ../image.tii"), 0);
  Names expected;
  for (const auto& [name, data] : corpus().files) {
    expected.insert(name);
    EXPECT_EQ(ReadFileBytes(x.out + "/" + name), data) << name;
    EXPECT_EQ(ReadFileBytes(lhasa_dir + "/" + name), data) << name;
  }
  EXPECT_EQ(NamesIn(x.out), expected);
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

// One row per way an archive fails: the result, and the files left in the destination, each
// no longer than its member and right at least in its first 1000 bytes.
TEST(LzhReaderTest, EveryFailureHasItsResultAndLeavesOnlyWhatWasWritten) {
  Member bad_crc = corpus().members.at("text.txt"),
         bad_crc_stored = corpus().members.at("random.bin");
  bad_crc.crc ^= 0x0100;
  bad_crc_stored.crc ^= 0x0100;
  Member short_lh5 = corpus().members.at("text.txt"), short_lh0 = corpus().members.at("random.bin");
  short_lh5.packed.resize(short_lh5.packed.size() / 2);
  short_lh0.packed.resize(short_lh0.packed.size() / 2);
  Bytes bad_sum = Level1(corpus().members.at("text.txt"));
  bad_sum[1] = static_cast<uint8_t>(bad_sum[1] + 1);
  Bytes long_name = Stored("abc", {1}), small = Stored("abc", {1});
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
      {"method", Level1({"-lh7-", "new.bin", {1, 2, 3}, 3, 0}), kLzhBadMethod, {"new.bin"}},
      {"name with a ..", Stored("../escape", {1, 2}), kLzhUnsafeHeader, {}},
      {"empty name", Stored("", {1, 2}), kLzhUnsafeHeader, {}},
      {"name past the header", long_name, kLzhUnsafeHeader, {}},
      {"small header", small, kLzhUnsafeHeader, {}},
      // Zeros leave the CRC-16 at 0: only the failed write tells that data was lost.
      {"failed writes", zeros, kLzhBadData, {"z.bin"}, &full},
      {"failed create", zeros, kLzhCannotCreate, {}, &no_create},
      {"failed open", zeros, kLzhCannotOpenArchive, {}, &no_open},
  };
  for (const auto& c : cases) {
    Extraction x;
    no_open.FailOpen(x.work / "image.tii");
    EXPECT_EQ(x.Run(c.archive, c.host), c.result) << c.what;
    EXPECT_EQ(NamesIn(x.out), c.left) << c.what;
    EXPECT_EQ(NamesIn(x.work.path()), (Names{"image.tii", "out"})) << c.what;
    for (const auto& name : c.left) {
      if (!corpus().files.count(name)) continue;
      const Bytes written = ReadFileBytes(x.out + "/" + name), &whole = corpus().files.at(name);
      ASSERT_GE(written.size(), 1000u) << c.what;
      EXPECT_TRUE(written.size() <= whole.size() &&
                  std::equal(written.begin(), written.begin() + 1000, whole.begin()))
          << c.what;
    }
  }
}

// A block whose pre-code count is 0 sends one pre-code symbol that takes no bits: here it
// stands for length 8 for all 256 literals, so the literal codes are the bytes themselves.
TEST(LzhReaderTest, PreCodeCountZeroDecodesWithoutBitsLikeLhasa) {
  const Bytes data = RandomBytes(3000, 3);
  const uint16_t crc = ReferenceCrc16(data.data(), data.size());
  for (const unsigned literal_count : {256u, 255u}) {
    BitWriter bits;
    bits.Put({{3000u, 16u}, {0, 5}, {8 + 2, 5}, {literal_count, 9}, {0, 4}, {0, 4}});
    for (const uint8_t b : data) bits.Put(b, 8);
    Extraction x;
    const int result = x.Run(Level1({"-lh5-", "p.bin", bits.bytes, 3000, crc}));
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
      {"image00.tii", corpus().files.at("image00.tii"), 0x3B2A1C45},
      {"image01.tii", RandomBytes(5000, 2), 0},
      {"empty.bin", {}, 0},
      {std::string(kMaxLzhNameLength, 'n'), {1, 2, 3}, 0},
  };
  ASSERT_EQ(members[0].data.size(), 1474560u);
  WriteFileBytes(dir / "set.lzh", WriteLh0Archive(members));
  const std::string listing = ShellOutput("lhasa -v '" + (dir / "set.lzh") + "' 2>&1");
  EXPECT_EQ(listing.find("rror"), std::string::npos) << listing;
  EXPECT_NE(listing.find("-lh0-"), std::string::npos) << listing;
  ASSERT_EQ(RunShell("mkdir '" + (dir / "lhasa") + "' '" + (dir / "ours") + "' && cd '" +
                     (dir / "lhasa") + "' && lhasa -xq ../set.lzh"),
            0);
  PosixHost host;
  ASSERT_EQ(LzhReader(host, dir / "set.lzh", dir / "ours", nullptr, nullptr).ExtractAll(), kLzhOk);
  for (const LzhMember& member : members) {
    EXPECT_EQ(ReadFileBytes(dir / "lhasa/" + member.name), member.data) << member.name;
    EXPECT_EQ(ReadFileBytes(dir / "ours/" + member.name), member.data) << member.name;
  }
  // 0x3B2A1C45 is 2009-09-10 03:34:10 local time, as lhasa reads the header.
  struct stat st {};
  ASSERT_EQ(stat((dir / "lhasa/image00.tii").c_str(), &st), 0);
  std::tm local{};
  localtime_r(&st.st_mtime, &local);
  EXPECT_EQ(std::tuple(local.tm_year, local.tm_mon, local.tm_mday, local.tm_hour, local.tm_min),
            std::tuple(109, 8, 10, 3, 34));
  EXPECT_EQ(WriteLh0Archive({}), Bytes{0});
  EXPECT_TRUE(WriteLh0Archive({{std::string(kMaxLzhNameLength + 1, 'n'), {1}, 0}}).empty());
  EXPECT_TRUE(WriteLh0Archive({{"", {1}, 0}}).empty());
}

}  // namespace
}  // namespace floppyset
