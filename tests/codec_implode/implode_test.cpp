// Our encoder's streams decoded by StormLib's pklib and by dynamite.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "explode_harness.h"
#include "mkfloppyset/implode.h"
#include "support/temp_dir.h"

namespace floppyset::implode_testing {
namespace {

TEST(Implode, StreamsDecodeWithBothReferenceDecoders) {
  floppyset::testing::TempDir dir;
  const Bytes floppy = MakeFloppyImage(dir.path(), 1400 * 1024);
  ASSERT_EQ(floppy.size(), 1474560u);
  Bytes pattern(70000);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i % 7 + i / 5000);
  const std::pair<const char*, Bytes> inputs[] = {
      {"empty", {}},
      {"one byte", {0x42}},
      {"two bytes", {0x42, 0x42}},
      {"text", TextSample(200000)},
      {"binary", BinarySample(200000)},
      {"zeros", Bytes(70000, 0)},
      {"random", RandomBytes(50000, 1)},
      {"pattern", pattern},
      {"floppy", floppy},
  };
  for (const auto& [name, data] : inputs) {
    for (unsigned bits : kDictionaryBits) {
      SCOPED_TRACE(std::string(name) + ", dictionary bits " + std::to_string(bits));
      const Bytes stream = Implode(data.data(), data.size(), bits);
      ASSERT_GE(stream.size(), 5u);  // shorter streams are refused by every decoder
      EXPECT_EQ(stream[0], 0);
      EXPECT_EQ(stream[1], bits);
      const Decoded pklib = PklibExplode(stream);
      EXPECT_EQ(pklib.result, 0u);
      EXPECT_TRUE(pklib.output == data) << "pklib decodes something else";
      const Decoded dynamite = DynamiteExplode(stream);
      EXPECT_EQ(dynamite.result, 0u);
      EXPECT_TRUE(dynamite.output == data) << "dynamite decodes something else";
      const ExplodeRun ours = RunExplode(stream);
      EXPECT_EQ(ours.result, kExplodeOk);
      EXPECT_TRUE(ours.output == data);
    }
  }
}

TEST(Implode, FloppyImageCompressesAtLeastAsWellAsPklibAndQuickly) {
  floppyset::testing::TempDir dir;
  const Bytes floppy = MakeFloppyImage(dir.path(), 1400 * 1024);
  ASSERT_EQ(floppy.size(), 1474560u);
  for (unsigned bits : kDictionaryBits) {
    const auto start = std::chrono::steady_clock::now();
    const Bytes ours = Implode(floppy.data(), floppy.size(), bits);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Bytes reference = PklibImplode(floppy, bits);
    EXPECT_LE(ours.size(), reference.size()) << "dictionary bits " << bits;
    std::printf("dictionary bits %u: ours %zu bytes in %.3f s, pklib %zu bytes\n", bits,
                ours.size(), seconds, reference.size());
    EXPECT_LT(seconds, 2.0) << "dictionary bits " << bits;  // generous for sanitizer builds
  }
}

}  // namespace
}  // namespace floppyset::implode_testing
