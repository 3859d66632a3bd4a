// The decoder against StormLib's pklib (the format's reference behaviour, including what it
// delivers before a failure) and dynamite, on streams made by pklib's own encoder.

#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "explode_harness.h"
#include "stream_builder.h"
#include "support/temp_dir.h"

namespace floppyset::implode_testing {
namespace {

const Bytes& FloppyImage() {
  static const Bytes image = [] {
    floppyset::testing::TempDir dir;
    return MakeFloppyImage(dir.path(), 1400 * 1024);
  }();
  return image;
}

struct NamedInput {
  const char* name;
  Bytes data;
};

std::vector<NamedInput> Inputs() {
  std::vector<NamedInput> inputs;
  inputs.push_back({"text", TextSample(300000)});
  inputs.push_back({"binary", BinarySample(300000)});
  inputs.push_back({"zeros", Bytes(100000, 0)});
  inputs.push_back({"random", RandomBytes(70000, 7)});
  inputs.push_back({"floppy", FloppyImage()});
  inputs.push_back({"one byte", {0x5A}});
  inputs.push_back({"short text", Bytes{'a', 'b', 'a', 'b', 'a', 'b', 'a', 'b', 'c'}});
  return inputs;
}

void ExpectWriteContract(const ExplodeRun& run) {
  ASSERT_FALSE(run.write_sizes.empty());
  for (size_t i = 0; i + 1 < run.write_sizes.size(); ++i) {
    ASSERT_EQ(run.write_sizes[i], kExplodeWriteSize) << "write " << i;
  }
  EXPECT_LT(run.write_sizes.back(), kExplodeWriteSize);
  for (uint32_t capacity : run.read_capacities) ASSERT_EQ(capacity, kExplodeReadSize);
  EXPECT_EQ(run.reads_after_end, 0);
}

TEST(Explode, DecodesPklibStreamsLikeBothReferenceDecoders) {
  ASSERT_EQ(FloppyImage().size(), 1474560u) << "mtools could not build the floppy image";
  for (const auto& input : Inputs()) {
    for (unsigned bits : kDictionaryBits) {
      SCOPED_TRACE(std::string(input.name) + ", dictionary bits " + std::to_string(bits));
      const Bytes stream = PklibImplode(input.data, bits);
      ASSERT_GE(stream.size(), 5u);
      const Decoded dynamite = DynamiteExplode(stream);
      ASSERT_EQ(dynamite.result, 0u);
      ASSERT_TRUE(dynamite.output == input.data) << "dynamite disagrees with pklib";
      for (size_t max_read : {size_t{2048}, size_t{1}, size_t{7}, size_t{1000}}) {
        const ExplodeRun run = RunExplode(stream, max_read);
        ASSERT_EQ(run.result, kExplodeOk) << "reads of " << max_read;
        ASSERT_TRUE(run.output == input.data) << "reads of " << max_read;
        ExpectWriteContract(run);
      }
    }
  }
}

TEST(Explode, HeaderFailuresWriteNothing) {
  const Bytes valid = PklibImplode(TextSample(1000), 6);
  struct Case {
    Bytes stream;
    uint32_t result;
  } cases[] = {
      {{}, kExplodeTooShort},
      {PklibImplode({}, 6), kExplodeTooShort},  // pklib's stream of an empty input: 4 bytes
      {Bytes(valid.begin(), valid.begin() + 4), kExplodeTooShort},
      {{1, 6, 0x01, 0xFE, 0x01}, kExplodeBadMode},
      {{2, 6, 0x01, 0xFE, 0x01}, kExplodeBadMode},
      {{0, 3, 0x01, 0xFE, 0x01}, kExplodeBadDictionary},
      {{0, 7, 0x01, 0xFE, 0x01}, kExplodeBadDictionary},
      {{1, 7, 0x01, 0xFE, 0x01}, kExplodeBadDictionary},  // the dictionary is checked first
  };
  for (const auto& c : cases) {
    const ExplodeRun run = RunExplode(c.stream);
    EXPECT_EQ(run.result, c.result);
    EXPECT_TRUE(run.write_sizes.empty());
    if (c.stream.size() > 4 && c.stream[0] == 0) {  // pklib also takes mode 1
      EXPECT_EQ(PklibExplode(c.stream).result, c.result);
    }
  }
}

TEST(Explode, EndMarkerEndingTheInputIsAccepted) {
  // Eight literals (72 bits) and the 16-bit marker fill exactly 11 bytes.
  StreamBuilder builder;
  for (char c : std::string("FLOPPIES")) builder.Literal(static_cast<uint8_t>(c));
  builder.End();
  ASSERT_EQ(builder.BitCount() % 8, 0u);
  const Bytes stream = builder.Finish();
  const ExplodeRun run = RunExplode(stream);
  EXPECT_EQ(run.result, kExplodeOk);
  EXPECT_EQ(std::string(run.output.begin(), run.output.end()), "FLOPPIES");
  EXPECT_EQ(PklibExplode(stream).result, 0u);

  // Without its last byte the marker is incomplete: a failure, the literals still delivered.
  const Bytes cut(stream.begin(), stream.end() - 1);
  const ExplodeRun cut_run = RunExplode(cut);
  EXPECT_EQ(cut_run.result, kExplodeCorrupt);
  EXPECT_EQ(cut_run.output, PklibExplode(cut).output);
}

TEST(Explode, RepetitionsOverlapTheirOwnOutput) {
  const Bytes stream = StreamBuilder(4)
                           .Literal('x')
                           .Repeat(3, 1)
                           .Literal('a')
                           .Literal('b')
                           .Literal('c')
                           .Repeat(10, 3)
                           .Repeat(518, 9)
                           .Repeat(2, 256)
                           .End()
                           .Finish();
  const ExplodeRun run = RunExplode(stream);
  ASSERT_EQ(run.result, kExplodeOk);
  std::string expected = "xxxxabc" + std::string("abcabcabca");
  while (expected.size() < 17 + 518) expected += expected[expected.size() - 9];
  expected += expected.substr(expected.size() - 256, 2);
  EXPECT_EQ(std::string(run.output.begin(), run.output.end()), expected);
  EXPECT_EQ(run.output, PklibExplode(stream).output);
}

TEST(Explode, DistanceBeforeTheFirstByteIsCorrupt) {
  // The reference decoder would copy whatever the window held before; we stop instead.
  for (unsigned distance : {2u, 4096u}) {
    const Bytes stream = StreamBuilder().Literal('A').Repeat(3, distance).End().Finish();
    const ExplodeRun run = RunExplode(stream);
    EXPECT_EQ(run.result, kExplodeCorrupt);
    EXPECT_EQ(std::string(run.output.begin(), run.output.end()), "A");
  }
  // The work area's previous stream must not leak into the next one either.
  auto work = std::make_unique<ExplodeWorkArea>();
  ASSERT_EQ(RunExplode(PklibImplode(TextSample(9000), 6), 2048, work.get()).result, kExplodeOk);
  const Bytes reaching_back = StreamBuilder().Literal('B').Repeat(20, 100).End().Finish();
  EXPECT_EQ(RunExplode(reaching_back, 2048, work.get()).result, kExplodeCorrupt);
  // Exactly back to the first byte is fine.
  const Bytes first_byte = StreamBuilder().Literal('C').Repeat(5, 1).End().Finish();
  EXPECT_EQ(RunExplode(first_byte).result, kExplodeOk);
}

TEST(Explode, OutputOfWholeBlocksEndsWithAnEmptyWrite) {
  const Bytes data = BinarySample(3 * 4096);
  ASSERT_EQ(data.size(), 3u * 4096);
  const ExplodeRun run = RunExplode(PklibImplode(data, 5));
  EXPECT_EQ(run.result, kExplodeOk);
  EXPECT_EQ(run.write_sizes, (std::vector<uint32_t>{4096, 4096, 4096, 0}));
  EXPECT_EQ(run.output, data);
}

// Cut at every offset: the same result and the same delivered bytes as the reference decoder.
TEST(Explode, TruncatedStreamsDeliverWhatTheReferenceDelivers) {
  Bytes data = TextSample(6000);
  const Bytes binary = BinarySample(6000);
  data.insert(data.end(), binary.begin(), binary.end());
  for (unsigned bits : kDictionaryBits) {
    const Bytes stream = PklibImplode(data, bits);
    for (size_t size = 0; size < stream.size(); ++size) {
      const Bytes cut(stream.begin(), stream.begin() + size);
      const ExplodeRun run = RunExplode(cut);
      const Decoded reference = PklibExplode(cut);
      ASSERT_EQ(run.result, reference.result) << "cut at " << size << ", bits " << bits;
      ASSERT_EQ(run.output, reference.output) << "cut at " << size << ", bits " << bits;
      if (size > 4) {
        ASSERT_EQ(run.result, kExplodeCorrupt);
      }
    }
  }
  const Bytes stream = PklibImplode(FloppyImage(), 6);
  for (size_t size = 5; size < stream.size(); size += 4999) {
    const Bytes cut(stream.begin(), stream.begin() + size);
    const ExplodeRun run = RunExplode(cut);
    ASSERT_EQ(run.result, kExplodeCorrupt);
    ASSERT_EQ(run.output, PklibExplode(cut).output) << "cut at " << size;
  }
}

// Flipped bits: never a crash or a hang; what we deliver is what the reference delivers, up to
// the point where we refuse a distance reaching before the output.
TEST(Explode, CorruptedStreamsStopSafely) {
  const Bytes data = BinarySample(20000);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::mt19937 random(3);
  for (unsigned bits : kDictionaryBits) {
    const Bytes stream = PklibImplode(data, bits);
    for (int trial = 0; trial < 1500; ++trial) {
      Bytes corrupt = stream;
      const int flips = 1 + trial % 3;
      for (int i = 0; i < flips; ++i) {
        const size_t bit = random() % ((corrupt.size() - 2) * 8);
        corrupt[2 + bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      }
      const ExplodeRun run = RunExplode(corrupt);
      const Decoded reference = PklibExplode(corrupt);
      ASSERT_TRUE(run.result == kExplodeOk || run.result == kExplodeCorrupt);
      if (run.result == kExplodeOk) {
        ASSERT_EQ(reference.result, 0u);
        ASSERT_EQ(run.output, reference.output);
      } else {
        ASSERT_LE(run.output.size(), reference.output.size());
        ASSERT_TRUE(std::equal(run.output.begin(), run.output.end(), reference.output.begin()));
      }
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    }
  }
}

}  // namespace
}  // namespace floppyset::implode_testing
