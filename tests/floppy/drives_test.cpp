// The file-backed drives, the image-file drive (--drive=DIR) and a --device path that is no
// floppy controller drive, and the USB floppy probe over a made-up /sys/block.
#include <gtest/gtest.h>

#include "floppy/image_file_drive.h"
#include "platform/posix/linux_floppy.h"
#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"

namespace floppyset::testing {
namespace {

// The image-file drive is drive A: alone and keeps to the 1.44 MB disk; a --device path
// that is no floppy controller drive reads and writes in place, within 1.44 MB, and refuses to
// format.
TEST(DrivesTest, FileDrivesKeepToTheirPlace) {
  TempDir dir;
  PosixHost host;
  ImageFileDrives images(host, dir.path());
  EXPECT_FALSE(images.IsFloppyDrive(1));
  images.BeginDisk(3);
  std::unique_ptr<FloppyDevice> floppy = images.MakeDevice(0);
  ASSERT_TRUE(floppy->Open());
  EXPECT_TRUE(floppy->FormatTracks(79, 0, 2));
  EXPECT_FALSE(floppy->FormatTracks(79, 1, 2)) << "there is no cylinder 80";
  std::vector<uint8_t> data(18432, 0x3C), back(18432);
  uint32_t done = 0;
  floppy->SetPosition(kFloppyDiskBytes - 512);
  EXPECT_FALSE(floppy->Write(data.data(), 1024, done)) << "past the end of the disk";
  EXPECT_EQ(floppy->Position(), kFloppyDiskBytes - 512);
  floppy->Close();
  EXPECT_EQ(ReadFileBytes(dir / "disk3.img").size(), kFloppyDiskBytes);
  EXPECT_FALSE(ImageFileDrives(host, dir / "no/such").MakeDevice(0)->Open());

  const std::string device = dir / "floppy.img";
  WriteFileBytes(device, std::vector<uint8_t>(kFloppyDiskBytes));
  EXPECT_FALSE(IsFloppyControllerDrive(device));
  floppy = LinuxFloppyDrives(device).MakeDevice(0);
  ASSERT_TRUE(floppy->Open());
  EXPECT_FALSE(floppy->FormatTracks(0, 0, 2)) << "only the floppy controller formats";
  floppy->SetPosition(18432);
  ASSERT_TRUE(floppy->Write(data.data(), 18432, done));
  floppy->SetPosition(18432);
  ASSERT_TRUE(floppy->Read(back.data(), 18432, done));
  EXPECT_EQ(back, data);
  floppy->SetPosition(kFloppyDiskBytes);
  EXPECT_FALSE(floppy->Read(back.data(), 512, done)) << "nothing behind the disk";
  floppy->SetPosition(kFloppyDiskBytes - 512);
  EXPECT_FALSE(floppy->Write(data.data(), 1024, done)) << "nothing written behind the disk";
  floppy->Close();
  EXPECT_EQ(ReadFileBytes(device)[18432], 0x3C);
  EXPECT_FALSE(LinuxFloppyDrives("/no/such/device").MakeDevice(0)->Open());
}

TEST(DrivesTest, UsbFloppiesAreRemovableScsiDisksOf2880Sectors) {
  TempDir sys;
  for (const auto& [name, removable, size] : std::vector<std::tuple<std::string, int, int>>{
           {"sdd", 1, 2880},
           {"sda", 0, 2880},  // a fixed disk of floppy size
           {"sdb", 1, 2880},
           {"sdc", 1, 31116288},  // a memory stick
           {"loop0", 1, 2880}}) {
    ASSERT_EQ(RunShell("mkdir -p '" + (sys / name) + "'"), 0);
    WriteFileText(sys / name + "/removable", std::to_string(removable) + "\n");
    WriteFileText(sys / name + "/size", std::to_string(size) + "\n");
  }
  EXPECT_EQ(FindUsbFloppyDrives(sys.path()), (std::vector<std::string>{"/dev/sdb", "/dev/sdd"}));
  EXPECT_TRUE(FindUsbFloppyDrives(sys / "missing").empty());
}

}  // namespace
}  // namespace floppyset::testing
