// Explode, Implode and CRC-32 against independent implementations: StormLib's pklib (the
// format's reference behaviour, including what it delivers before a failure), dynamite and
// zlib, on a floppy image of real files and on hand-made streams.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <random>

#include "codec/crc32.h"
#include "codec/explode.h"
#include "implode_corpus.h"
#include "mkfloppyset/implode.h"
#include "support/temp_dir.h"

namespace floppyset::implode_testing {
namespace {

const Bytes& Floppy() {
  static const Bytes image = [] {
    floppyset::testing::TempDir dir;
    return MakeFloppyImage(dir.path(), 1400 * 1024);
  }();
  return image;
}

// Explode over `stream`, the first read served whole and later ones `max_read` at most; the
// sizes of the writes are recorded.
struct ExplodeRun {
  const Bytes* stream;
  size_t max_read = kExplodeReadSize, position = 0;
  uint32_t result = 0;
  Bytes output;
  std::vector<uint32_t> write_sizes;

  static uint32_t Read(uint8_t* buffer, uint32_t* size, void* param) {
    auto* run = static_cast<ExplodeRun*>(param);
    const size_t limit = run->position == 0 ? size_t{*size} : run->max_read;
    const size_t n = std::min({size_t{*size}, limit, run->stream->size() - run->position});
    if (n > 0) std::memcpy(buffer, run->stream->data() + run->position, n);
    run->position += n;
    return static_cast<uint32_t>(n);
  }
  static void Write(uint8_t* buffer, uint32_t* size, void* param) {
    auto* run = static_cast<ExplodeRun*>(param);
    run->write_sizes.push_back(*size);
    run->output.insert(run->output.end(), buffer, buffer + *size);
  }
};

ExplodeRun RunExplode(const Bytes& stream, size_t max_read = kExplodeReadSize,
                      ExplodeWorkArea* work = nullptr) {
  ExplodeRun run{&stream, max_read, 0, 0, {}, {}};
  const auto owned = std::make_unique<ExplodeWorkArea>();
  run.result = Explode(ExplodeRun::Read, ExplodeRun::Write, work ? work : owned.get(), &run);
  return run;
}

TEST(Crc32, MatchesZlibAtEveryLengthAlignmentAndPiece) {
  ASSERT_EQ(Floppy().size(), 1474560u) << "mtools could not build the floppy image";
  const auto zlib = [](const uint8_t* p, size_t n) { return uint32_t(crc32(0, p, uInt(n))); };
  for (size_t size = 0; size <= 1100; size += (size < 300 ? 1 : 37)) {
    const uint8_t* p = Floppy().data() + 300000 + size % 16;
    ASSERT_EQ(Crc32Update(p, size, 0xFFFFFFFF) ^ 0xFFFFFFFF, zlib(p, size)) << size;
    ASSERT_EQ(Crc32UpdatePortable(p, size, 0xFFFFFFFF) ^ 0xFFFFFFFF, zlib(p, size)) << size;
  }
  std::mt19937 random(5);
  uint32_t crc = 0xFFFFFFFF;
  for (size_t at = 0, piece = 0; at < Floppy().size(); at += piece) {
    piece = std::min<size_t>(random() % 9000, Floppy().size() - at);
    crc = Crc32Update(Floppy().data() + at, piece, crc);
  }
  EXPECT_EQ(crc ^ 0xFFFFFFFF, zlib(Floppy().data(), Floppy().size()));
}

// pklib's streams decoded by dynamite and by us in reads of any size, with whole 4096-byte
// writes and one shorter last; our streams decoded by all three, no larger than pklib's.
TEST(Implode, StreamsOfBothEncodersDecodeWithEveryDecoder) {
  ASSERT_EQ(Floppy().size(), 1474560u) << "mtools could not build the floppy image";
  const Bytes inputs[] = {Floppy(),
                          Bytes(100000, 0),
                          RandomBytes(70000, 7),
                          {0x5A},
                          {},
                          Bytes(Floppy().begin() + 40000, Floppy().begin() + 40000 + 3 * 4096)};
  for (const Bytes& data : inputs) {
    for (unsigned bits = 4; bits <= 6; ++bits) {
      SCOPED_TRACE(std::to_string(data.size()) + " bytes, dictionary bits " + std::to_string(bits));
      const Bytes ours = Implode(data.data(), data.size(), bits);
      ASSERT_GE(ours.size(), 5u);
      EXPECT_EQ(ours[1], bits);
      EXPECT_TRUE(PklibExplode(ours).output == data);
      EXPECT_TRUE(DynamiteExplode(ours).output == data);
      const Bytes pklib = PklibImplode(data, bits);
      EXPECT_TRUE(data.size() <= 100000 || ours.size() <= pklib.size());
      if (data.empty()) continue;  // pklib's stream of nothing is 4 bytes: too short for us
      EXPECT_TRUE(DynamiteExplode(pklib).output == data);
      for (const Bytes* stream : {&ours, &pklib}) {
        for (size_t max_read : {size_t{2048}, size_t{1}, size_t{7}, size_t{1000}}) {
          const ExplodeRun run = RunExplode(*stream, max_read);
          ASSERT_EQ(run.result, kExplodeOk) << "reads of " << max_read;
          ASSERT_TRUE(run.output == data) << "reads of " << max_read;
          for (size_t i = 0; i + 1 < run.write_sizes.size(); ++i) {
            ASSERT_EQ(run.write_sizes[i], kExplodeWriteSize);
          }
          EXPECT_EQ(run.write_sizes.back(), data.size() % kExplodeWriteSize);
        }
      }
    }
  }
}

TEST(Explode, HandMadeStreamsEndAndFailLikePklib) {
  const Bytes valid = PklibImplode(RandomBytes(1000, 2), 6);
  // Streams that no encoder writes, literal by literal: "FLOPPIES" then the end marker in
  // exactly 11 bytes; 'A' then a copy of 3 from 2 or 4096 back (before the output); 'C' then a
  // copy of 5 from 1 back; 'B' then a copy of 20 from 100 back.
  const Bytes marker = {0, 6, 0x8C, 0x30, 0x79, 0x02, 0x05, 0x4A, 0x92, 0x22, 0x53, 0x01, 0xFF};
  const Bytes a_3_2 = {0, 6, 0x82, 0x7E, 0x10, 0xF0, 0x0F},
              a_3_4096 = {0, 6, 0x82, 0x0E, 0xF0, 0x07, 0xFC, 0x03},
              c_5_1 = {0, 6, 0x86, 0x7A, 0x20, 0xE0, 0x1F},
              b_20_100 = {0, 6, 0x84, 0x22, 0xF6, 0x18, 0xF0, 0x0F};
  const struct {
    Bytes stream;
    uint32_t result;
    std::string output;  // when not what pklib delivers
  } cases[] = {
      {{}, kExplodeTooShort, ""},
      {Bytes(valid.begin(), valid.begin() + 4), kExplodeTooShort, ""},
      {{1, 6, 0x01, 0xFE, 0x01}, kExplodeBadMode, ""},
      {{0, 3, 0x01, 0xFE, 0x01}, kExplodeBadDictionary, ""},
      {{0, 7, 0x01, 0xFE, 0x01}, kExplodeBadDictionary, ""},
      {{1, 7, 0x01, 0xFE, 0x01}, kExplodeBadDictionary, ""},  // the dictionary is checked first
      {marker, kExplodeOk, "FLOPPIES"},
      {Bytes(marker.begin(), marker.end() - 1), kExplodeCorrupt, "FLOPPIES"},  // the marker cut
      // pklib would copy what its window held before; we stop instead.
      {a_3_2, kExplodeCorrupt, "A"},
      {a_3_4096, kExplodeCorrupt, "A"},
      {c_5_1, kExplodeOk, "CCCCCC"},
  };
  for (const auto& c : cases) {
    const ExplodeRun run = RunExplode(c.stream);
    EXPECT_EQ(run.result, c.result) << c.output;
    EXPECT_EQ(std::string(run.output.begin(), run.output.end()), c.output);
    if (c.stream.size() > 4 && c.stream[0] == 0 && c.output != "A") {  // pklib takes mode 1
      const Decoded pklib = PklibExplode(c.stream);
      EXPECT_EQ(pklib.result, c.result);
      EXPECT_EQ(pklib.output, run.output);
    }
  }
  // The work area's previous stream must not leak into the next one.
  auto work = std::make_unique<ExplodeWorkArea>();
  ASSERT_EQ(RunExplode(PklibImplode(RandomBytes(9000, 3), 6), 2048, work.get()).result, kExplodeOk);
  EXPECT_EQ(RunExplode(b_20_100, 2048, work.get()).result, kExplodeCorrupt);
}

// Cut at every offset: the same result and bytes as pklib. Bits flipped: never a crash or a
// hang, and what we deliver is what pklib delivers, up to where we refuse a distance that
// reaches before the output.
TEST(Explode, TruncatedAndCorruptedStreamsDeliverWhatPklibDelivers) {
  const Bytes data(Floppy().begin() + 200000, Floppy().begin() + 220000);
  std::mt19937 random(3);
  for (unsigned bits = 4; bits <= 6; ++bits) {
    const Bytes stream = PklibImplode(data, bits);
    for (size_t size = 0; size < stream.size(); size += 1 + size / 1000) {
      const Bytes cut(stream.begin(), stream.begin() + size);
      const ExplodeRun run = RunExplode(cut);
      const Decoded reference = PklibExplode(cut);
      ASSERT_EQ(run.result, size > 4 ? kExplodeCorrupt : reference.result) << size;
      ASSERT_EQ(run.output, reference.output) << "cut at " << size << ", bits " << bits;
    }
    for (int trial = 0; trial < 1500; ++trial) {
      Bytes corrupt = stream;
      for (int i = 0; i <= trial % 3; ++i) {
        const size_t bit = random() % ((corrupt.size() - 2) * 8);
        corrupt[2 + bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      }
      const ExplodeRun run = RunExplode(corrupt);
      const Decoded reference = PklibExplode(corrupt);
      ASSERT_TRUE(run.result == kExplodeOk || run.result == kExplodeCorrupt);
      if (run.result == kExplodeOk) {
        ASSERT_EQ(run.output, reference.output);
      }
      ASSERT_LE(run.output.size(), reference.output.size());
      ASSERT_TRUE(std::equal(run.output.begin(), run.output.end(), reference.output.begin()));
    }
  }
}

}  // namespace
}  // namespace floppyset::implode_testing
