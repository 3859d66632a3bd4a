// Walks, sizes and copies out arbitrary FAT12 images. With the first input byte even, the
// rest is laid over the standard 1.44 MB layout (boot sector, FAT, root directory, data
// area) so that short inputs reach deep structures; with it odd, the rest is the whole image.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "image/disk_image.h"
#include "platform/posix/posix_host.h"

namespace {

using floppyset::DirectoryEntry;
using floppyset::DiskImage;

constexpr size_t kSector = 512;

std::vector<uint8_t> Overlay(const uint8_t* data, size_t size) {
  // The image ends where the input's data area ends: clusters behind it lie outside.
  const size_t data_area = size > 2560 ? size - 2560 : 0;
  std::vector<uint8_t> image(33 * kSector + data_area, 0);
  const uint8_t boot[] = {0xEB, 0x3C, 0x90, 'F', 'U', 'Z', 'Z', ' ', ' ', ' ',
                          ' ',  0x00, 0x02, 1,   1,   0,   2,   224, 0,   0x40,
                          0x0B, 0xF0, 9,    0,   18,  0,   2,   0};
  std::memcpy(image.data(), boot, sizeof boot);
  // Boot sector, first 1,024 FAT bytes, first 32 root slots, then the data area.
  const struct {
    size_t input, image, length;
  } pieces[] = {{0, 0, 512},
                {512, kSector, 1024},
                {1536, 19 * kSector, 1024},
                {2560, 33 * kSector, data_area}};
  for (const auto& piece : pieces) {
    if (size <= piece.input) break;
    const size_t length = std::min(piece.length, size - piece.input);
    std::memcpy(image.data() + piece.image, data + piece.input, length);
  }
  return image;
}

void CheckSlot(const DiskImage& image, const DirectoryEntry* entry) {
  if (!entry) return;
  if (entry->raw < image.data() || entry->raw + 32 > image.data() + image.size()) std::abort();
}

// The walk of the /L report: every file and subdirectory, recursively, within a budget of
// directories (the report's own walk is not under test here).
void Walk(DiskImage& image, int depth, int& budget) {
  if (--budget < 0) return;
  for (auto* e = image.FirstFile(); e; e = image.NextFile(e)) {
    CheckSlot(image, e);
    image.HighestCluster(e);
  }
  for (auto* e = image.FirstSubdirectory(); e; e = image.NextSubdirectory(e)) {
    CheckSlot(image, e);
    if (depth >= 4) continue;
    const uint16_t saved = image.CurrentDirectory;
    image.CurrentDirectory = e->first_cluster();
    Walk(image, depth + 1, budget);
    image.CurrentDirectory = saved;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static floppyset::fuzzing::Sandbox sandbox;
  static floppyset::PosixHost host;
  if (size == 0) return 0;
  if (data[0] & 1) {
    sandbox.WriteInput(data + 1, size - 1);
  } else {
    const std::vector<uint8_t> overlay = Overlay(data + 1, size - 1);
    sandbox.WriteInput(overlay.data(), overlay.size());
  }
  DiskImage image(host, sandbox.input_path());
  if (!image.IsOpen()) return 0;
  int budget = 64;
  Walk(image, 0, budget);
  if (image.UsedImageSize() > image.size()) std::abort();
  image.EnterSubdirectory("SUB");
  image.LeaveSubdirectory();
  image.CurrentDirectory = 0;
  image.ExtractTree(sandbox.FreshDestination());
  sandbox.CheckNothingEscaped();
  return 0;
}
