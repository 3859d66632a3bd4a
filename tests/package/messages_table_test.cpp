// Every text of the string table, byte for byte as the program shows it (its typos and
// odd spacing included).
#include <gtest/gtest.h>

#include <map>

#include "ui/messages.h"

namespace floppyset {
namespace {

const std::map<int, std::string>& ExpectedTable() {
  static const std::map<int, std::string> table = {
      {300, "&About Setup..."},
      {500, "Choose directory for image unpack"},
      {502, "Track: write %02d of %02d"},
      {503,
       "This program creates the \"%s\" floppy disks.\n\nYou will need %d High Density 3.5\" / "
       "1.44MB floppy disks.\n\nWARNING! All data on those disks will be overwritten.\nPress OK to "
       "proceed or Cancel to abort floppies creation."},
      {504,
       "This program creates the \"%s\" floppy disk.\n\nYou will need one High Density 3.5\" / "
       "1.44MB floppy disk.\n\nWARNING! All data on this disk will be overwritten.\nPress OK to "
       "proceed or Cancel to abort floppy creation."},
      {505, "Would you like to unpack images on hard disk?"},
      {506,
       "Please, label the floppy disk as \"%s Disk %d/%d\"\nand insert disk in floppy drive "
       "%c:.\n\nPlease press OK when ready."},
      {507, "Floppy: write %d of %d"},
      {508,
       "Congratulations! All disks were successfully created.\n\nTo install \"%s\", insert disk "
       "labeled \"%s Disk 1/%d\" into drive A: and run SETUP.EXE."},
      {509,
       "Congratulations! All disks are successfully unpacked in %s. For install \"%s\" please run "
       "SETUP.EXE from %sdisk1\\."},
      {510, "Floppy access error!"},
      {511, "Unknown command line parameter: %s.\nRun %s /? for help."},
      {513, "Incorrect disk number: %d"},
      {514, "Congratulations! \"%s Disk %d/%d\" successfully created."},
      {515,
       "Congratulations! The disk was successfully created. To run \"%s\", power off the computer "
       "on which you wish to run this program, insert this diskette into drive A:, and power up "
       "the computer."},
      {516, "Wrire/Verify chech failed!"},
      {520, "Images processing..."},
      {521, "Please wait while setup copies installation files. This may take a few minutes."},
      {522, "Images"},
      {530, "Executable file authenticity  : %s\r\nEmbedded package authenticity : %s\r\n"},
      {531, "Package processing:\r\n=========================================================\r\n"},
      {532, "=========================================================\r\n"},
      {533,
       "Product name                  : %s\r\nNumber of disks               : %u\r\nData of "
       "creation of the setup : %02u/%02u/%04u %02u:%02u\r\n"},
      {534, "%02u/%02u/%04u %02u:%02u %15lu %s\r\n"},
      {535, "Image %u:\r\n"},
      {536,
       "File %s failed authenticity check!\n\nFile was changed or infected by virus.\n\nPlease "
       "contact software vendor for the replacement."},
      {537, "Track: formatting..."},
      {538, "Unsupported OS version detected. Windows 9x/ME/NT 4.0/2000 required."},
      {539, "Another instance of the program is already running"},
      {540, "The directory:\n'%s'\ndoes not exist. Do you want the directory to be created?"},
      {541, " %s\r\n"},
      {542,
       "Can't create specified directory.\nIt is invalid, incomplete or write protected.\nPlease "
       "type full path with drive letter;\nFor example 'C:\\VORIXSETUP'."},
      {543,
       "Setup requires at least %s of free disk space in the temporary directory (on drive %s). "
       "You have only %s on this drive. Please free more disk space and run the installation "
       "again"},
      {544,
       "Setup requires at least %s of free disk space on on drive %s to unpack files. You have "
       "only %s on this drive. Please free more disk space and run the installation again"},
      {545, "B"},
      {546, "KB"},
      {547, "MB"},
      {548, "GB"},
  };
  return table;
}

TEST(MessageTableTest, EveryTextIsExact) {
  for (const auto& [id, text] : ExpectedTable()) {
    EXPECT_EQ(LoadMessage(id), text) << "message " << id;
  }
}

TEST(MessageTableTest, HoldsNoOtherIds) {
  int count = 0;
#define FLOPPYSET_MESSAGE(id, symbol, text) \
  ++count;                                  \
  EXPECT_TRUE(ExpectedTable().count(id)) << "unexpected message " << id;
#include "messages.def"
#undef FLOPPYSET_MESSAGE
  EXPECT_EQ(count, static_cast<int>(ExpectedTable().size()));
  EXPECT_EQ(LoadMessage(501), "");
  EXPECT_EQ(LoadMessage(512), "");
}

TEST(MessageTableTest, TheOddSpellingsSurvive) {
  EXPECT_EQ(LoadMessage(kMsgVerifyFailed), "Wrire/Verify chech failed!");
  EXPECT_NE(LoadMessage(kMsgNoDestinationSpace).find("space on on drive"), std::string::npos);
  EXPECT_EQ(LoadMessage(kMsgAuthReport).substr(0, 31), "Executable file authenticity  :");
}

}  // namespace
}  // namespace floppyset
