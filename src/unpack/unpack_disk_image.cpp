#include "unpack/unpack_disk_image.h"

#include "base/path.h"
#include "image/disk_image.h"
#include "image/flat_image.h"
#include "ui/messages.h"
#include "workspace/workspace.h"

namespace floppyset {

std::string DiskDirectory(const RunState& state, uint32_t image_index) {
  return state.DestinationDir + FormatText("disk%u", image_index + 1) + kPathSeparator;
}

bool UnpackDiskImage(const RunState& state, Host& host, uint32_t image_index,
                     UnpackReport* report) {
  const std::string directory = DiskDirectory(state, image_index);
  const std::string image_path = DiskImagePath(state.WorkspaceDir, image_index);
  bool unpacked = false;
  const auto pass_on = [&](const UnpackReport& image_report) {
    if (!report) return;
    report->Add(image_report);
    report->damage = image_report.damage;
  };
  if (state.PackageUnpackMode != 0) {
    FlatImage image(host, image_path);
    image.SetNameCodePage(state.TextAnsiCodePage);
    unpacked = image.ExtractAll(directory);
    pass_on(image.unpack_report());
    return unpacked;
  }
  DiskImage image(host, image_path);
  image.SetNameCodePage(state.TextOemCodePage);
  unpacked = image.ExtractTree(directory) && image.unpack_report().clean();
  pass_on(image.unpack_report());
  return unpacked;
}

}  // namespace floppyset
