// The file-backed drives, the image-file drive (--drive=DIR) and a --device path that is no
// floppy controller drive, the USB floppy probe and the --device checks over a made-up sysfs
// and procfs, and what a failing write leaves behind.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <functional>

#include "floppy/image_file_drive.h"
#include "platform/posix/linux_floppy.h"
#include "platform/posix/posix_host.h"
#include "support/fault_host.h"
#include "support/set_builder.h"
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
  ASSERT_TRUE(floppy->Finish());
  floppy->Close();
  EXPECT_EQ(ReadFileBytes(dir / "disk3.img").size(), kFloppyDiskBytes);

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

// What --device accepts: a whole removable disk of 2,880 sectors that is not mounted (block
// nodes are made where the test may: as root); everything else is refused with its reason.
TEST(DrivesTest, OnlyAnUnmountedFloppyIsADevice) {
  TempDir dir;
  const std::string root = dir / "root", node = dir / "sdz", image = dir / "floppy.img";
  WriteFileBytes(image, std::vector<uint8_t>(kFloppyDiskBytes));
  const bool nodes = ::mknod(node.c_str(), S_IFBLK | 0600, ::makedev(7, 250)) == 0;
  const std::string sys = root + "/sys/dev/block/7:250";
  const auto lay = [&](const std::string& removable, const std::string& size,
                       const std::string& mounts = "") {
    RunShell("rm -rf '" + root + "' && mkdir -p '" + sys + "/sdz1' '" + root + "/proc/self'");
    WriteFileText(sys + "/removable", removable + "\n");
    WriteFileText(sys + "/size", size + "\n");
    WriteFileText(root + "/proc/self/mounts", "proc /proc proc rw 0 0\n" + mounts);
  };
  const struct {
    std::string path;
    std::function<void()> setup;
    std::string refusal;  // "" when accepted
    bool needs_node = false;
  } cases[] = {
      {image, [&] { lay("1", "2880"); },
       "is a file, not a floppy drive: image files are written with --drive=DIR"},
      {dir.path(), [&] { lay("1", "2880"); }, "is a directory, not a floppy drive"},
      {"/dev/null", [&] { lay("1", "2880"); },
       "/dev/null is not a floppy drive (not a block device)"},
      {dir / "sdy", [&] { lay("1", "2880"); }, "sdy: No such file or directory"},
      {node, [&] { lay("1", "2880"); }, "", true},
      {node, [&] { lay("0", "2880"); }, "is not a removable drive", true},
      {node, [&] { lay("1", "31116288"); }, "it holds 31116288 sectors, not 2,880 of 512 bytes",
       true},
      {node, [&] { lay("1", "2880", node + " /media/my\\040disk vfat rw 0 0\n"); },
       "sdz is mounted on /media/my disk: unmount it first", true},
      {node, [&] { RunShell("rm -rf '" + root + "'"); }, "the system does not describe it", true},
      {node, [&] { lay("1", "2880"), WriteFileText(sys + "/partition", "1\n"); }, "is a partition",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + c.refusal);
    if (c.needs_node && !nodes) continue;  // no block nodes here (not root)
    c.setup();
    LinuxFloppyDrives drives(c.path, root);
    const std::string refusal = drives.Refusal();
    EXPECT_TRUE(c.refusal.empty() ? refusal.empty() : Has(refusal, c.refusal)) << refusal;
    EXPECT_TRUE(drives.ConfirmsEveryRun());
  }
  if (!nodes) GTEST_SKIP() << "block nodes cannot be made here: only files were checked";
}

// A write that fails names the file and the cause, and leaves nothing half-written: the
// image file of an unfinished disk is removed, and so is the directory made for it.
TEST(DrivesTest, AFailedImageWriteIsNamedAndRemoved) {
  const std::vector<uint8_t> data(18432, 0x3C);
  const struct {
    std::function<void(FaultHost&, const std::string&)> fault;
    std::string cause;
    bool opens;
  } cases[] = {
      {[](FaultHost& host, const std::string&) { host.SetDiskRoom(20000); },
       "cannot write DIR/sub/disk1.img: No space left on device", true},
      {[](FaultHost& host, const std::string& d) { host.FailCreateUnder(d + "/sub/disk1.img"); },
       "cannot create DIR/sub/disk1.img: Permission denied", false},
      {[](FaultHost& host, const std::string& d) { host.FailCreateUnder(d + "/sub"); },
       "cannot create the directory DIR/sub: Permission denied", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cause);
    TempDir dir;
    FaultHost host;
    c.fault(host, dir.path());
    const std::string folder = dir / "sub";
    ImageFileDrives drives(host, folder);
    std::unique_ptr<FloppyDevice> floppy = drives.MakeDevice(0);
    uint32_t done = 0;
    const bool opened = floppy->Open();
    EXPECT_EQ(opened, c.opens);
    EXPECT_FALSE(opened && floppy->Write(data.data(), data.size(), done) &&
                 floppy->Write(data.data(), data.size(), done));
    std::string text = floppy->FailureText();
    if (const size_t at = text.find(dir.path()); at != std::string::npos) {
      text.replace(at, dir.path().size(), "DIR");
    }
    EXPECT_EQ(text, c.cause);
    floppy->Close();
    EXPECT_FALSE(std::filesystem::exists(folder)) << "an unfinished disk leaves nothing";
  }
  // --images: a copy that runs out of room is removed.
  TempDir dir;
  FaultHost host;
  WriteFileBytes(dir / "image00.tii", std::vector<uint8_t>(100000, 1));
  host.SetDiskRoom(65536);
  std::string failure;
  EXPECT_FALSE(WriteImageFile(host, dir / "image00.tii", dir / "disk1.img", failure));
  EXPECT_EQ(failure, "cannot write " + (dir / "disk1.img") + ": No space left on device");
  EXPECT_FALSE(std::filesystem::exists(dir / "disk1.img"));
}

}  // namespace
}  // namespace floppyset::testing
