// The file-backed drives, the image-file drive (--drive=DIR) and a --device path that is no
// floppy controller drive, and the USB floppy probe over a made-up /sys/block.
#include <gtest/gtest.h>

#include "floppy/image_file_drive.h"
#include "platform/posix/linux_floppy.h"
#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"

namespace floppyset::testing {
namespace {

// Each is drive A: only and reads back what it wrote; only the image-file drive accepts a
// format, and it keeps to the 1.44 MB disk.
TEST(DrivesTest, FileDrivesKeepToTheDisk) {
  TempDir dir;
  PosixHost host;
  const std::string device = dir / "floppy.img";
  WriteFileBytes(device, std::vector<uint8_t>(kFloppyDiskBytes));
  ImageFileDrives images(host, dir.path());
  LinuxFloppyDrives override(device);
  images.BeginDisk(3);
  for (const auto& [drives, label, file, formats] :
       std::vector<std::tuple<FloppyDrives*, std::string, std::string, bool>>{
           {&images, dir.path(), dir / "disk3.img", true}, {&override, device, device, false}}) {
    EXPECT_TRUE(drives->IsFloppyDrive(0));
    EXPECT_FALSE(drives->IsFloppyDrive(1));
    EXPECT_EQ(drives->Label(0), label);
    std::unique_ptr<FloppyDevice> floppy = drives->MakeDevice(0);
    ASSERT_TRUE(floppy->Open()) << label;
    EXPECT_EQ(floppy->FormatTracks(79, 0, 2), formats) << label;
    EXPECT_FALSE(floppy->FormatTracks(79, 1, 2)) << "there is no cylinder 80";
    std::vector<uint8_t> data(18432, 0x3C), back(18432);
    uint32_t done = 0;
    floppy->SetPosition(18432);
    ASSERT_TRUE(floppy->Write(data.data(), 18432, done));
    EXPECT_EQ(floppy->Position(), 36864u);
    floppy->SetPosition(18432);
    ASSERT_TRUE(floppy->Read(back.data(), 18432, done));
    EXPECT_EQ(back, data);
    if (formats) {  // a device is as large as it is; an image file stops at the disk
      floppy->SetPosition(kFloppyDiskBytes - 512);
      EXPECT_FALSE(floppy->Write(data.data(), 1024, done)) << "past the end of the disk";
      EXPECT_EQ(floppy->Position(), kFloppyDiskBytes - 512);
      EXPECT_TRUE(floppy->Write(data.data(), 512, done));
    }
    floppy->SetPosition(kFloppyDiskBytes);
    EXPECT_FALSE(floppy->Read(back.data(), 512, done)) << "nothing behind the disk";
    EXPECT_EQ(floppy->Position(), kFloppyDiskBytes);
    floppy->Close();
    const std::vector<uint8_t> written = ReadFileBytes(file);
    EXPECT_EQ(written.size(), kFloppyDiskBytes);
    EXPECT_EQ(written[18432], 0x3C);
  }
  EXPECT_FALSE(IsFloppyControllerDrive(device));
  EXPECT_FALSE(IsFloppyControllerDrive("/dev/null"));
  EXPECT_FALSE(ImageFileDrives(host, dir / "no/such").MakeDevice(0)->Open());
  EXPECT_FALSE(LinuxFloppyDrives("/no/such/device").MakeDevice(0)->Open());
  EXPECT_EQ(LinuxFloppyDrives("/no/such/device").MakeDevice(1), nullptr);
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
