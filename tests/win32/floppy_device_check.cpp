// Checks the Win32 floppy device layer: the NT format ranges and the 9x track order, and,
// with drive A: backed by a floppy image file (Wine's dosdevices "a::"), reading the volume
// at byte positions as the floppy run does, writing and reading back a sector through the
// locked volume.
// Usage: floppy_device_check [IMAGE]   (IMAGE: the file behind A:, for the volume checks)
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/win32/win32_floppy.h"

namespace {

int g_failures = 0;

void Expect(bool condition, const char* what) {
  if (condition) return;
  std::printf("failed: %s\n", what);
  ++g_failures;
}

void CheckFormatRanges() {
  using floppyset::FormatRangeNt;
  const auto both_heads = FormatRangeNt(5, 0, 2);
  Expect(both_heads.start_cylinder == 5 && both_heads.end_cylinder == 5 &&
             both_heads.start_head == 0 && both_heads.end_head == 1,
         "2 tracks from cylinder 5 head 0 are both heads of cylinder 5");
  const auto one_track = FormatRangeNt(5, 0, 1);
  Expect(one_track.end_cylinder == 5 && one_track.end_head == 0, "1 track is head 0 only");
  const auto two_cylinders = FormatRangeNt(5, 0, 4);
  Expect(two_cylinders.end_cylinder == 6 && two_cylinders.end_head == 1,
         "4 tracks are cylinders 5 and 6, both heads");

  uint16_t cylinder = 5, head = 0;
  floppyset::NextTrack9x(cylinder, head);
  Expect(cylinder == 5 && head == 1, "9x: after head 0 comes head 1 of the same cylinder");
  floppyset::NextTrack9x(cylinder, head);
  Expect(cylinder == 6 && head == 0, "9x: after head 1 comes head 0 of the next cylinder");
}

void CheckVolume(const char* image_path) {
  std::vector<uint8_t> image(1474560);
  FILE* file = std::fopen(image_path, "rb");
  Expect(file && std::fread(image.data(), 1, image.size(), file) == image.size(),
         "the image behind A: is readable");
  if (file) std::fclose(file);

  floppyset::Win32FloppyDevice device(0);
  Expect(device.Open(), "drive A: opens as a volume");
  std::vector<uint8_t> cylinder(18432);
  uint32_t done = 0;
  Expect(device.Read(cylinder.data(), 18432, done) && done == 18432,
         "one cylinder is read at position 0");
  Expect(std::memcmp(cylinder.data(), image.data(), 18432) == 0,
         "it is the image's first cylinder");
  Expect(device.Position() == 18432, "the position is a byte offset past the data");

  device.SetPosition(36864);
  Expect(device.Read(cylinder.data(), 512, done) && done == 512, "a sector is read at 36864");
  Expect(std::memcmp(cylinder.data(), image.data() + 36864, 512) == 0, "it is the right sector");
  Expect(device.Position() == 37376, "the position moved by 512");

  // Opened, locked (the dismount fails under Wine, which is not needed there): a write goes
  // to the file behind A: and reads back; the sector is then put back as it was.
  std::vector<uint8_t> pattern(512, 0xA5);
  device.SetPosition(36864);
  Expect(device.Write(pattern.data(), 512, done) && done == 512, "a sector is written at 36864");
  device.SetPosition(36864);
  Expect(device.Read(cylinder.data(), 512, done) &&
             std::memcmp(cylinder.data(), pattern.data(), 512) == 0,
         "it reads back");
  device.SetPosition(36864);
  Expect(device.Write(image.data() + 36864, 512, done), "the sector is put back");
  device.Close();
  device.Close();  // closing twice does nothing
}

}  // namespace

int main(int argc, char** argv) {
  CheckFormatRanges();
  floppyset::Win32FloppyDrives drives;
  Expect(drives.Label(1) == "B:\\", "drive 1 is B:\\");
  Expect(!drives.IsFloppyDrive(26), "there is no drive after Z:");
  Expect(!drives.IsFloppyDrive(25), "Z: (a directory drive) is not a floppy drive");
  if (argc > 1) CheckVolume(argv[1]);
  std::printf("%s\n", g_failures ? "floppy device checks failed" : "floppy device checks passed");
  return g_failures ? 1 : 0;
}
