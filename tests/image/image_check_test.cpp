// Damaged images: what the structural check says of each, and what unpacking one writes and
// reports. The check and the unpack must agree on what is lost.
#include "image/image_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "app/run_state.h"
#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"
#include "test_images.h"
#include "unpack/unpack_disk_image.h"
#include "workspace/workspace.h"

namespace floppyset::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Sizes = std::map<std::string, int64_t>;  // path -> size written, -1 for a directory

// A.TXT in clusters 2..4, SUB in cluster 10 holding B.TXT in cluster 11.
TestFatImage SoundFat() {
  TestFatImage fat;
  fat.File(fat.Root(0), "A       TXT", 2, 1500, 'a');
  fat.Subdirectory(fat.Root(1), "SUB        ", 10, 0);
  fat.File(fat.Cluster(10) + 64, "B       TXT", 11, 5, 'b');
  return fat;
}
const Sizes kSoundFatWritten = {{"A.TXT", 1500}, {"SUB", -1}, {"SUB/B.TXT", 5}};

const std::vector<Record> kSoundFlat = {{"A.TXT", "aaa"}, {"D\\B.TXT", "bbbbb"}};
const Sizes kSoundFlatWritten = {{"A.TXT", 3}, {"D", -1}, {"D/B.TXT", 5}};

TEST(ImageCheck, DamagedImagesAreNamedAndUnpackSaysWhatWasLost) {
  using Damage = std::function<void(TestFatImage&)>;
  const struct {
    const char* name;
    Damage fat;       // applied to SoundFat(); unset for a flat image
    Bytes flat;       // the flat image
    bool readable;    //
    std::string why;  // in the check's reason and the unpack's damage ("": none)
    std::map<std::string, std::string> lost;  // path -> in its loss
    Sizes written;
    uint32_t cut, skipped;
  } cases[] = {
      // clang-format off
      {"sound FAT12", [](TestFatImage&) {}, {}, true, "", {}, kSoundFatWritten, 0, 0},
      {"zeroed boot sector", [](TestFatImage& f) { std::fill_n(f.bytes.begin(), 512, 0); }, {},
       false, "no FAT12 layout in its boot sector", {}, {}, 0, 0},
      {"three sectors per cluster", [](TestFatImage& f) { f.bytes[13] = 3; }, {},
       false, "(3 sectors per cluster)", {}, {}, 0, 0},
      {"FAT area past the end", [](TestFatImage& f) { StoreLe16(f.bytes.data() + 22, 0x2000); },
       {}, false, "the FAT area lies past the end", {}, {}, 0, 0},
      {"a loop behind the file's size", [](TestFatImage& f) { f.SetFat(4, 2); }, {}, true, "",
       {}, kSoundFatWritten, 0, 0},
      {"a chain that loops early", [](TestFatImage& f) { f.SetFat(3, 2); }, {}, true, "",
       {{"A.TXT", "cut to 1024 of 1500 bytes: its chain loops"}},
       {{"A.TXT", 1024}, {"SUB", -1}, {"SUB/B.TXT", 5}}, 1, 0},
      {"a chain that leaves the image", [](TestFatImage& f) { f.SetFat(3, 4000); }, {}, true, "",
       {{"A.TXT", "cut to 1024 of 1500 bytes: its chain leaves the image"}},
       {{"A.TXT", 1024}, {"SUB", -1}, {"SUB/B.TXT", 5}}, 1, 0},
      {"a file longer than its chain", [](TestFatImage& f) { f.SetFat(3, 0xFFF); }, {}, true, "",
       {{"A.TXT", "cut to 1024 of 1500 bytes: it is longer than its chain"}},
       {{"A.TXT", 1024}, {"SUB", -1}, {"SUB/B.TXT", 5}}, 1, 0},
      {"cross-linked files", [](TestFatImage& f) { StoreLe16(f.Cluster(10) + 64 + 26, 3); }, {},
       true, "A.TXT and SUB/B.TXT share cluster 3", {}, kSoundFatWritten, 0, 0},
      {"a directory loop", [](TestFatImage& f) {
         TestFatImage::Slot(f.Cluster(10) + 96, "BACK       ", 0x10, 10); }, {},
       true, "the directory SUB/BACK leads back", {}, kSoundFatWritten, 0, 1},
      {"sound flat", {}, FlatBytes(kSoundFlat), true, "", {}, kSoundFlatWritten, 0, 0},
      {"a flat record past the end", {}, [] {
         std::vector<Record> records = kSoundFlat;
         records.push_back({"C.TXT", std::string(100, 'c')});
         Bytes bytes = FlatBytes(records, false);
         bytes.pop_back();
         return bytes; }(),
       true, "the record \"C.TXT\" runs past the end of the image", {}, kSoundFlatWritten, 0, 0},
      {"a flat unsafe path", {}, [] {
         std::vector<Record> records = kSoundFlat;
         records.push_back({"..\\UP.TXT", "up"});
         return FlatBytes(records); }(),
       true, "", {{"../UP.TXT", "not allowed"}}, kSoundFlatWritten, 0, 1},
      // clang-format on
  };
  PosixHost host;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    RunState state;
    state.WorkspaceDir = dir / "work/";
    state.DestinationDir = dir / "dest/";
    state.PackageUnpackMode = c.fat ? 0 : 1;
    fs::create_directories(DiskDirectory(state, 0));
    fs::create_directories(state.WorkspaceDir);
    Bytes bytes = c.flat;
    if (c.fat) {
      TestFatImage fat = SoundFat();
      c.fat(fat);
      bytes = fat.bytes;
    }
    WriteFileBytes(DiskImagePath(state.WorkspaceDir, 0), bytes);

    ImageCheck check;
    if (c.fat) {
      DiskImage image(host, DiskImagePath(state.WorkspaceDir, 0));
      check = CheckDiskImage(image);
    } else {
      check = CheckFlatImage(FlatImage(host, DiskImagePath(state.WorkspaceDir, 0)));
    }
    EXPECT_EQ(check.readable, c.readable);
    EXPECT_EQ(check.reason.empty(), c.why.empty()) << check.reason;
    EXPECT_NE(check.reason.find(c.why), std::string::npos) << check.reason;
    std::map<std::string, std::string> lost;
    for (const FileLoss& loss : check.files) lost[loss.path] = loss.what;
    ASSERT_EQ(lost.size(), c.lost.size());
    for (const auto& [path, what] : c.lost) {
      EXPECT_NE(lost[path].find(what), std::string::npos) << path << ": " << lost[path];
    }
    EXPECT_EQ(check.sound(), c.readable && c.why.empty() && c.lost.empty());

    UnpackReport report;
    const bool unpacked = UnpackDiskImage(state, host, 0, &report);
    Sizes written;
    for (const auto& item : fs::recursive_directory_iterator(DiskDirectory(state, 0))) {
      written[fs::relative(item.path(), DiskDirectory(state, 0)).string()] =
          item.is_directory() ? -1 : static_cast<int64_t>(item.file_size());
    }
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(std::tuple(report.cut, report.skipped), std::tuple(c.cut, c.skipped));
    // Damage beyond single files fails the unpack when it lost something: no layout or a
    // cut list; cross-links alone copy out whole.
    const bool lost_beyond_files = !c.readable || c.why.find("record") != std::string::npos;
    EXPECT_EQ(report.damage.empty(), !lost_beyond_files) << report.damage;
    EXPECT_NE(report.damage.find(lost_beyond_files ? c.why : ""), std::string::npos);
    EXPECT_EQ(unpacked, report.clean());
    EXPECT_EQ(unpacked, !lost_beyond_files && c.cut + c.skipped == 0);
  }
}

}  // namespace
}  // namespace floppyset::testing
