// In the guest: the format path, which the run cannot reach as the emulated drive never
// refuses a write. Cylinders 60 and 61 are formatted, 60 written and read back; then the host
// overwrites cylinder 60 behind the drive's back, and a read-back must see that.
#include <cstdio>
#include <vector>

#include "platform/posix/linux_floppy.h"

int main(int argc, char** argv) {
  using namespace floppyset;
  if (argc != 2) return 2;
  LinuxFloppyDrives drives(argv[1]);
  std::unique_ptr<FloppyDevice> device = drives.MakeDevice(0);
  constexpr uint32_t kCylinder = 18432;
  std::vector<uint8_t> data(kCylinder), back(kCylinder);
  for (uint32_t i = 0; i < kCylinder; ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 512);
  uint32_t done = 0;
  auto read_back = [&] {
    device->SetPosition(60 * kCylinder);
    return device->Read(back.data(), kCylinder, done);
  };
  bool ok = drives.drives()[0].can_format && device->Open() && device->FormatTracks(60, 0, 2) &&
            device->FormatTracks(61, 0, 2) &&
            (device->SetPosition(60 * kCylinder), device->Write(data.data(), kCylinder, done)) &&
            read_back() && back == data;
  std::printf("format probe: %s\nprobe: overwrite cylinder 60, then press Enter\n",
              ok ? "ok" : "failed");
  std::fflush(stdout);
  for (int c = 0; (c = std::getchar()) != EOF && c != '\n';) {
  }
  ok = read_back() && back == std::vector<uint8_t>(kCylinder, 0x33);
  std::printf("read-back probe: %s\n", ok ? "ok" : "failed");
  return ok ? 0 : 1;
}
