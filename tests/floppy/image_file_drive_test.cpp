// The image-file drive: a run writes DIR/disk<n>.img, equal to the image over the written
// cylinders and zero behind them, with the documented prompts.
#include "floppy/image_file_drive.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/path.h"
#include "floppy/floppy_run.h"
#include "floppy_test_images.h"
#include "workspace/workspace.h"
#include "platform/posix/posix_host.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "ui/messages.h"

namespace floppyset::testing {
namespace {

bool AllZero(const std::vector<uint8_t>& bytes, size_t from) {
  return std::all_of(bytes.begin() + from, bytes.end(), [](uint8_t b) { return b == 0; });
}

TEST(ImageFileDriveTest, RunWritesOneFilePerDiskLaidOutLikeTheDisk) {
  TempDir workspace, output;
  PosixHost host;
  ScriptedUi ui;
  RunState state;
  state.WorkspaceDir = WithTrailingSeparator(workspace.path());
  state.ProductName = "Demo";
  state.Header.DiskCount = 2;
  state.Header.VerifyAfterWrite = 1;
  ASSERT_TRUE(MakeFat12Image(DiskImagePath(state, 0), ImageContent::kHighCluster1403));
  ASSERT_TRUE(MakeFat12Image(DiskImagePath(state, 1), ImageContent::kEmptyRoot));
  ImageFileDrives drives(host, output.path());
  ui.Expect(kMsgInsertDisk, Answer::kOk);
  ui.Expect(kMsgInsertDisk, Answer::kOk);

  CreateFloppySet(state, host, ui, drives);

  ASSERT_EQ(ui.MessageIds(), (std::vector<int>{506, 506})) << ui.Transcript();
  EXPECT_NE(ui.Messages()[0].text.find("floppy drive A:"), std::string::npos);
  const struct {
    uint32_t index;
    size_t written;
  } disks[] = {{0, 40 * kCylinderBufferSize}, {1, kCylinderBufferSize}};
  for (const auto& disk : disks) {
    std::vector<uint8_t> image = ReadFileBytes(DiskImagePath(state, disk.index));
    std::vector<uint8_t> floppy = ReadFileBytes(drives.DiskPath(disk.index + 1));
    ASSERT_EQ(floppy.size(), kFloppyDiskBytes);
    EXPECT_TRUE(std::equal(floppy.begin(), floppy.begin() + disk.written, image.begin()))
        << "disk " << disk.index + 1;
    EXPECT_TRUE(AllZero(floppy, disk.written)) << "disk " << disk.index + 1;
  }
  EXPECT_EQ(drives.DiskPath(2), output / "disk2.img");
  EXPECT_FALSE(state.CompletionMessage.empty());
}

TEST(ImageFileDriveTest, DeviceKeepsToTheDisk) {
  TempDir output;
  PosixHost host;
  ImageFileDrives drives(host, output.path());
  EXPECT_TRUE(drives.IsFloppyDrive(0));
  EXPECT_FALSE(drives.IsFloppyDrive(1));
  EXPECT_EQ(drives.Label(0), output.path());

  drives.BeginDisk(3);
  std::unique_ptr<FloppyDevice> device = drives.MakeDevice(0);
  ASSERT_TRUE(device->Open());
  EXPECT_TRUE(device->FormatTracks(79, 0, 2));
  EXPECT_FALSE(device->FormatTracks(79, 1, 2)) << "there is no cylinder 80";

  std::vector<uint8_t> data(1024, 0xAB);
  uint32_t done = 0;
  device->SetPosition(kFloppyDiskBytes - 512);
  EXPECT_FALSE(device->Write(data.data(), 1024, done)) << "past the end of the disk";
  EXPECT_EQ(device->Position(), kFloppyDiskBytes - 512);
  EXPECT_TRUE(device->Write(data.data(), 512, done));
  EXPECT_EQ(done, 512u);
  EXPECT_EQ(device->Position(), kFloppyDiskBytes);
  device->Close();
  EXPECT_EQ(ReadFileBytes(output / "disk3.img").size(), kFloppyDiskBytes);

  TempDir other;
  ImageFileDrives missing(host, other / "no/such");
  std::unique_ptr<FloppyDevice> nowhere = missing.MakeDevice(0);
  EXPECT_FALSE(nowhere->Open());
}

}  // namespace
}  // namespace floppyset::testing
