// Arbitrary bytes after a first byte that picks the use. Bit 1 set: a flat image, walked,
// checked and unpacked. Else a FAT12 image, sized, checked and copied out: with bit 0 clear,
// the rest is laid over the standard 1.44 MB layout (boot sector, first 1,024 FAT bytes, first
// 32 root slots, data area) so that short inputs reach deep structures; with it set, the rest
// is the whole image. Bit 2 set: names are read as a UTF-8 locale reads them (code page 437,
// VFAT long names, NT lower-case marks). Nothing may be written outside the destination.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "image/disk_image.h"
#include "image/flat_image.h"
#include "image/image_check.h"
#include "platform/posix/posix_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static floppyset::fuzzing::Sandbox sandbox;
  static floppyset::PosixHost host;
  if (size-- == 0) return 0;
  const uint8_t use = *data++;
  if (use & 2) {
    sandbox.WriteInput(data, size);
    floppyset::FlatImage flat(host, sandbox.input_path());
    if (use & 4) flat.SetNameCodePage(437);
    size_t records = 0;
    for (auto* r = flat.FirstRecord(); r; r = flat.NextRecord(r)) {
      // Each record takes at least its header: the walk ends within the file.
      if (++records > size / floppyset::kFlatHeaderSize) std::abort();
    }
    const floppyset::ImageCheck check = floppyset::CheckFlatImage(flat);
    flat.ExtractAll(sandbox.FreshDestination());
    // A list cut short is named alike by the check and the unpack.
    if (flat.IsReady() && flat.unpack_report().damage != check.reason) std::abort();
    sandbox.CheckNothingEscaped();
    return 0;
  }
  if (use & 1) {
    sandbox.WriteInput(data, size);
  } else {  // the image ends where the input's data area ends: clusters behind it lie outside
    const size_t data_area = size > 2560 ? size - 2560 : 0;
    std::vector<uint8_t> image(33 * 512 + data_area, 0);
    const uint8_t boot[] = {0xEB, 0x3C, 0x90, 'F', 'U', 'Z', 'Z', ' ', ' ', ' ',
                            ' ',  0x00, 0x02, 1,   1,   0,   2,   224, 0,   0x40,
                            0x0B, 0xF0, 9,    0,   18,  0,   2,   0};
    std::memcpy(image.data(), boot, sizeof boot);
    const size_t pieces[][3] = {{0, 0, 512},
                                {512, 512, 1024},
                                {1536, 19 * 512, 1024},
                                {2560, 33 * 512, data_area}};  // input, image, length
    for (const auto& [from, to, length] : pieces) {
      if (size > from) std::memcpy(image.data() + to, data + from, std::min(length, size - from));
    }
    sandbox.WriteInput(image.data(), image.size());
  }
  floppyset::DiskImage image(host, sandbox.input_path());
  if (!image.IsOpen()) return 0;
  if (use & 4) image.SetNameCodePage(437);
  if (image.UsedImageSize() > image.size()) std::abort();
  if (floppyset::CheckDiskImage(image).readable != image.IsReadable()) std::abort();
  image.EnterSubdirectory("SUB");
  image.LeaveSubdirectory();
  image.CurrentDirectory = 0;
  image.ExtractTree(sandbox.FreshDestination());
  sandbox.CheckNothingEscaped();
  return 0;
}
