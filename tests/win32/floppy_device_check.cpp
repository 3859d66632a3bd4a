// The Win32 floppy device layer: NT format ranges, the 9x track order, drive names and,
// with drive A: backed by a floppy image (Wine's dosdevices "a::"), byte-positioned reads
// and a write read back through the locked volume; and the host's words for a failure.
// Usage: floppy_device_check IMAGE-BEHIND-A
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/win32/win32_floppy.h"
#include "platform/win32/win32_host.h"

int main(int argc, char** argv) {
  int failures = 0;
  auto Expect = [&failures](bool ok, const char* what) {
    if (!ok) std::printf("failed: %s\n", what), ++failures;
  };
  using floppyset::FormatRangeNt;
  struct {
    uint16_t tracks, end_cylinder, end_head;
  } const kRanges[] = {{1, 5, 0}, {2, 5, 1}, {4, 6, 1}};
  for (const auto& r : kRanges) {
    const auto range = FormatRangeNt(5, 0, r.tracks);
    Expect(range.start_cylinder == 5 && range.start_head == 0 &&
               range.end_cylinder == r.end_cylinder && range.end_head == r.end_head,
           "NT format range from cylinder 5 head 0");
  }
  uint16_t cylinder = 5, head = 0;
  floppyset::NextTrack9x(cylinder, head);
  Expect(cylinder == 5 && head == 1, "9x: head 0, then head 1 of the same cylinder");
  floppyset::NextTrack9x(cylinder, head);
  Expect(cylinder == 6 && head == 0, "9x: head 1, then head 0 of the next cylinder");
  floppyset::Win32FloppyDrives drives;
  Expect(drives.Label(1) == "B:\\", "drive 1 is B:\\");
  Expect(!drives.IsFloppyDrive(26) && !drives.IsFloppyDrive(25), "Z: and beyond are no floppies");

  std::vector<uint8_t> image(1474560), data(18432);
  FILE* file = argc > 1 ? std::fopen(argv[1], "rb") : nullptr;
  Expect(file && std::fread(image.data(), 1, image.size(), file) == image.size(), "the image");
  if (file) std::fclose(file);
  floppyset::Win32FloppyDevice device(0);
  uint32_t done = 0;
  Expect(device.Open(), "drive A: opens as a volume");
  Expect(device.Read(data.data(), 18432, done) && done == 18432 && device.Position() == 18432 &&
             !std::memcmp(data.data(), image.data(), 18432),
         "the first cylinder is read at position 0");
  device.SetPosition(36864);
  Expect(device.Read(data.data(), 512, done) && done == 512 && device.Position() == 37376 &&
             !std::memcmp(data.data(), image.data() + 36864, 512),
         "a sector is read at 36864");
  // A write lands in the file behind A: and reads back; the sector is then put back.
  const std::vector<uint8_t> pattern(512, 0xA5);
  device.SetPosition(36864);
  Expect(device.Write(pattern.data(), 512, done) && done == 512, "a sector is written");
  device.SetPosition(36864);
  Expect(device.Read(data.data(), 512, done) && !std::memcmp(data.data(), pattern.data(), 512),
         "it reads back");
  device.SetPosition(36864);
  Expect(device.Write(image.data() + 36864, 512, done), "the sector is put back");
  device.Close();
  device.Close();  // closing twice does nothing
  floppyset::Win32Host host;
  Expect(!host.OpenForRead("C:\\no such folder\\file"), "a missing file does not open");
  const std::string why = host.ErrorText();
  std::printf("a missing file: %s\n", why.c_str());
  Expect(!why.empty() && why.back() != '.' && why.back() != '\n',
         "the system says why, as a clause");
  std::printf("floppy device checks %s\n", failures ? "failed" : "passed");
  return failures != 0;
}
