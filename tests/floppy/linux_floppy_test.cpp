// Linux drives: the USB floppy probe over a made-up /sys/block, and a --device path that is
// not a floppy controller drive (read and write, no format).
#include "platform/posix/linux_floppy.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace floppyset::testing {
namespace {

void AddBlockDevice(const TempDir& sys, const std::string& name, const std::string& removable,
                    const std::string& size) {
  ASSERT_EQ(RunShell("mkdir -p '" + (sys / name) + "'"), 0);
  WriteFileText(sys / name + "/removable", removable + "\n");
  WriteFileText(sys / name + "/size", size + "\n");
}

TEST(LinuxFloppyTest, UsbFloppiesAreRemovableDisksOf2880Sectors) {
  TempDir sys;
  AddBlockDevice(sys, "sdd", "1", "2880");
  AddBlockDevice(sys, "sda", "0", "2880");  // a fixed disk of floppy size
  AddBlockDevice(sys, "sdb", "1", "2880");
  AddBlockDevice(sys, "sdc", "1", "31116288");  // a memory stick
  AddBlockDevice(sys, "loop0", "1", "2880");    // not a SCSI disk
  EXPECT_EQ(FindUsbFloppyDrives(sys.path()), (std::vector<std::string>{"/dev/sdb", "/dev/sdd"}));
  EXPECT_TRUE(FindUsbFloppyDrives(sys / "missing").empty());
}

TEST(LinuxFloppyTest, OverrideIsTheOnlyDriveAndWritesInPlace) {
  TempDir dir;
  const std::string path = dir / "floppy.img";
  WriteFileBytes(path, std::vector<uint8_t>(1474560));
  LinuxFloppyDrives drives(path);
  ASSERT_TRUE(drives.IsFloppyDrive(0));
  EXPECT_FALSE(drives.IsFloppyDrive(1));
  EXPECT_EQ(drives.Label(0), path);
  EXPECT_FALSE(IsFloppyControllerDrive(path));

  std::unique_ptr<FloppyDevice> device = drives.MakeDevice(0);
  ASSERT_TRUE(device->Open());
  std::vector<uint8_t> data(18432, 0x3C), back(18432);
  uint32_t done = 0;
  device->SetPosition(18432);
  ASSERT_TRUE(device->Write(data.data(), 18432, done));
  EXPECT_EQ(device->Position(), 36864u);
  device->SetPosition(18432);
  ASSERT_TRUE(device->Read(back.data(), 18432, done));
  EXPECT_EQ(back, data);
  device->SetPosition(1474560);
  EXPECT_FALSE(device->Read(back.data(), 512, done)) << "nothing behind the disk";
  EXPECT_EQ(device->Position(), 1474560u);
  EXPECT_FALSE(device->FormatTracks(0, 0, 2)) << "only the floppy controller formats";
  device->Close();
  EXPECT_EQ(ReadFileBytes(path)[18432], 0x3C);
}

TEST(LinuxFloppyTest, WhatIsNotAFloppyControllerDrive) {
  EXPECT_FALSE(IsFloppyControllerDrive("/dev/null"));
  EXPECT_FALSE(IsFloppyControllerDrive("/no/such/device"));
  LinuxFloppyDrives drives("/no/such/device");
  EXPECT_FALSE(drives.MakeDevice(0)->Open());
  EXPECT_EQ(drives.MakeDevice(1), nullptr);
}

}  // namespace
}  // namespace floppyset::testing
