#include "workspace/workspace.h"

#include <algorithm>
#include <vector>

#include "base/path.h"
#include "ui/messages.h"

namespace floppyset {
namespace {

// The archive is copied in blocks of this size.
constexpr size_t kCopyBlock = 1 << 20;

}  // namespace

bool CopyArchiveToWorkspace(const std::string& workspace, Host& host, File& program) {
  // Without a workspace the copy would land in the current directory.
  if (workspace.empty()) return false;
  const std::unique_ptr<File> copy = host.CreateForWrite(ArchivePath(workspace));
  const std::optional<uint64_t> size = program.Size();
  if (!copy || !size) return false;
  uint64_t remaining = *size > program.Tell() ? *size - program.Tell() : 0;
  std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(remaining, kCopyBlock)));
  while (remaining != 0) {
    const size_t count = static_cast<size_t>(std::min<uint64_t>(remaining, block.size()));
    const int64_t got = program.Read(block.data(), count);
    if (got <= 0 || !copy->Write(block.data(), static_cast<size_t>(got))) return false;
    remaining -= static_cast<uint64_t>(got);
  }
  return true;
}

bool CreateWorkspace(Host& host, const std::string& prefix, std::string& out) {
  out.clear();
  // A private directory of a name nobody can foresee: nothing of anyone else's is ever
  // entered, and the clean-up removes only what this run made.
  const std::string made = host.CreateTempDirectory(prefix);
  if (made.empty()) return false;
  if (made.size() + 1 > kMaxPath) {  // no room for the NUL
    host.RemoveEmptyDirectory(made);
    return false;
  }
  out = made;
  return true;
}

std::string DiskImageName(uint32_t index) {
  return FormatText("image%02u.tii", index);
}

std::string DiskImagePath(const std::string& workspace, uint32_t index) {
  return workspace + DiskImageName(index);
}

std::string ArchivePath(const std::string& workspace) {
  return workspace + kArchiveFileName;
}

void DeleteWorkspaceFiles(const std::string& workspace, Host& host) {
  if (workspace.empty()) return;
  // Every member lands here under its own name, whatever DiskCount says; the directory is
  // this run's own, so all of it goes.
  for (const std::string& name : host.ListDirectory(workspace)) host.RemoveFile(workspace + name);
}

std::string DescribeLostImage(uint32_t index, const ImageAccount& image) {
  return FormatMessageId(
      image.condition == ImageCondition::kMissing ? kMsgImageMissing : kMsgImageDamaged,
      unsigned{index + 1}, DiskImageName(index).c_str(), image.reason.c_str());
}

std::string DescribeSetDamage(const SetAccount& images) {
  std::string text = DescribeLostImages(images);
  for (uint32_t index = 0; index < images.size(); ++index) {
    for (const std::string& fault : images[index].faults) {
      if (!text.empty()) text += '\n';
      text += FormatMessageId(kMsgImageFault, unsigned{index + 1}, DiskImageName(index).c_str(),
                              fault.c_str());
    }
  }
  return text;
}

std::string DescribeLostImages(const SetAccount& images) {
  std::string text;
  for (uint32_t index = 0; index < images.size(); ++index) {
    if (images[index].condition == ImageCondition::kIntact) continue;
    if (!text.empty()) text += '\n';
    text += DescribeLostImage(index, images[index]);
  }
  return text;
}

}  // namespace floppyset
