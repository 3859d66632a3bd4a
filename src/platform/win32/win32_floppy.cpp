#include "platform/win32/win32_floppy.h"

#include <cstring>

#include "ui/messages.h"

namespace floppyset {
namespace {

// VWIN32 control codes.
constexpr DWORD kVwin32DosIoctl = 1;  // int 21h function 440Dh
constexpr DWORD kVwin32DosInt25 = 2;  // absolute sector read
constexpr DWORD kVwin32DosInt26 = 3;  // absolute sector write

// Generic block-device IOCTL minor codes (category 08h).
constexpr DWORD kLockLogicalVolume = 0x084A;
constexpr DWORD kUnlockLogicalVolume = 0x086A;
constexpr DWORD kFormatTrack = 0x0842;
constexpr DWORD kGetDeviceParameters = 0x0860;
constexpr DWORD kCarryFlag = 1;

// NT disk IOCTLs and media types (the DDK's values).
constexpr DWORD kIoctlDiskFormatTracks = 0x0007C018;
constexpr DWORD kIoctlDiskGetMediaTypes = 0x00070C00;
constexpr DWORD kFsctlLockVolume = 0x00090018;
constexpr DWORD kFsctlUnlockVolume = 0x0009001C;
constexpr DWORD kFsctlDismountVolume = 0x00090020;
constexpr DWORD kMediaF3_1Pt44_512 = 2;
constexpr DWORD kMediaUnknown = 0;
constexpr DWORD kMediaRemovable = 11;
constexpr DWORD kMediaFixed = 12;

#pragma pack(push, 1)
struct DiocRegisters {
  uint32_t reg_EBX, reg_EDX, reg_ECX, reg_EAX, reg_EDI, reg_ESI, reg_Flags;
};
struct FormatTrackBlock {
  uint8_t special_functions;
  uint16_t head;
  uint16_t cylinder;
};
struct FormatParameters {
  uint32_t media_type, start_cylinder, end_cylinder, start_head, end_head;
};
#pragma pack(pop)
static_assert(sizeof(DiocRegisters) == 28 && sizeof(FormatParameters) == 20);

// VWIN32 takes 32-bit addresses; it exists only on 32-bit Windows 9x.
uint32_t Address32(const void* pointer) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

HANDLE OpenVwin32() {
  return CreateFileA("\\\\.\\VWIN32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// One VWIN32 call; true when the device answered and the carry flag is clear.
bool CallVwin32(HANDLE vwin32, DWORD code, const DiocRegisters& in) {
  DiocRegisters out = in;
  DWORD returned = 0;
  if (!DeviceIoControl(vwin32, code, const_cast<DiocRegisters*>(&in), sizeof in, &out, sizeof out,
                       &returned, nullptr)) {
    return false;
  }
  return (out.reg_Flags & kCarryFlag) == 0;
}

std::string VolumePath(char letter) {
  char path[] = "\\\\.\\A:";
  path[4] = letter;
  return path;
}

}  // namespace

NtFormatRange FormatRangeNt(uint16_t cylinder, uint16_t head, uint16_t tracks) {
  NtFormatRange range;
  range.start_cylinder = cylinder;
  range.end_cylinder = cylinder + (tracks - 1) / 2;
  range.start_head = head;
  range.end_head = head + ((tracks + 1) & 1);
  return range;
}

void NextTrack9x(uint16_t& cylinder, uint16_t& head) {
  if (head != 0) {
    head = 0;
    ++cylinder;
  } else {
    ++head;
  }
}

bool IsWindows9x() {
  return (GetVersion() & 0x80000000u) != 0;
}

bool IsFloppyDriveNt(char letter) {
  HANDLE volume = CreateFileA(VolumePath(letter).c_str(), 0, FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (volume == INVALID_HANDLE_VALUE) return false;
  alignas(8) uint8_t geometry[480] = {};
  DWORD returned = 0;
  const bool answered = DeviceIoControl(volume, kIoctlDiskGetMediaTypes, nullptr, 0, geometry,
                                        sizeof geometry, &returned, nullptr);
  CloseHandle(volume);
  if (!answered || returned == 0) return false;
  uint32_t media_type = 0;  // DISK_GEOMETRY: Cylinders (8 bytes), then MediaType
  std::memcpy(&media_type, geometry + 8, sizeof media_type);
  return media_type != kMediaUnknown && media_type != kMediaFixed && media_type != kMediaRemovable;
}

bool IsFloppyDrive9x(char letter) {
  HANDLE vwin32 = OpenVwin32();
  if (vwin32 == INVALID_HANDLE_VALUE) return false;
  uint8_t parameters[100] = {};
  DiocRegisters registers{};
  registers.reg_EAX = 0x440D;
  registers.reg_ECX = kGetDeviceParameters;
  registers.reg_EBX = static_cast<uint8_t>(letter) - 0x40;
  registers.reg_EDX = Address32(parameters);
  registers.reg_Flags = kCarryFlag;
  DiocRegisters out = registers;
  DWORD returned = 0;
  const bool answered = DeviceIoControl(vwin32, kVwin32DosIoctl, &registers, sizeof registers, &out,
                                        sizeof out, &returned, nullptr) &&
                        (out.reg_Flags & kCarryFlag) == 0;
  CloseHandle(vwin32);
  if (!answered) return false;
  switch (parameters[1]) {  // device type
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 7:
    case 9:
      return true;
    default:
      return false;
  }
}

bool Win32FloppyDevice::Open() {
  return IsWindows9x() ? OpenVolume9x() : OpenVolumeNt();
}

bool Win32FloppyDevice::OpenVolumeNt() {
  open_failure_.clear();
  // Read and write asked for by name: MAXIMUM_ALLOWED may hand out a read-only handle (Wine
  // does), and then every write fails as if the disk were bad.
  handle_ =
      CreateFileA(VolumePath(static_cast<char>('A' + drive_)).c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  // Since Vista a raw write to a volume with a mounted file system fails unless the volume
  // is locked or dismounted; both calls exist on NT 4.0 as well.
  DWORD returned = 0;
  if (!DeviceIoControl(handle_, kFsctlLockVolume, nullptr, 0, nullptr, 0, &returned, nullptr)) {
    open_failure_ = FormatMessageId(kMsgDriveInUse, 'A' + drive_);
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return false;
  }
  locked_ = true;
  DeviceIoControl(handle_, kFsctlDismountVolume, nullptr, 0, nullptr, 0, &returned, nullptr);
  return true;
}

bool Win32FloppyDevice::OpenVolume9x() {
  handle_ = OpenVwin32();
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  DiocRegisters lock{};
  lock.reg_EAX = 0x440D;
  lock.reg_ECX = kLockLogicalVolume;
  lock.reg_EBX = drive_ + 1u;  // BL: 1-based drive, BH: lock level 0
  lock.reg_EDX = 1;            // permissions
  if (CallVwin32(handle_, kVwin32DosIoctl, lock)) return true;
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  return false;
}

void Win32FloppyDevice::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  if (IsWindows9x()) {
    DiocRegisters unlock{};
    unlock.reg_EAX = 0x440D;
    unlock.reg_ECX = kUnlockLogicalVolume;
    unlock.reg_EBX = drive_ + 1u;
    CallVwin32(handle_, kVwin32DosIoctl, unlock);
  } else if (locked_) {
    DWORD returned = 0;
    DeviceIoControl(handle_, kFsctlUnlockVolume, nullptr, 0, nullptr, 0, &returned, nullptr);
  }
  locked_ = false;
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

bool Win32FloppyDevice::Read(uint8_t* buffer, uint32_t count, uint32_t& done) {
  if (IsWindows9x()) return TransferSectors9x(kVwin32DosInt25, buffer, count, done);
  return ReadAtPosition(buffer, count, done);
}

bool Win32FloppyDevice::Write(const uint8_t* data, uint32_t count, uint32_t& done) {
  if (IsWindows9x()) return TransferSectors9x(kVwin32DosInt26, data, count, done);
  return WriteAtPosition(data, count, done);
}

bool Win32FloppyDevice::ReadAtPosition(uint8_t* buffer, uint32_t count, uint32_t& done) {
  if (SetFilePointer(handle_, static_cast<LONG>(position_), nullptr, FILE_BEGIN) ==
      INVALID_SET_FILE_POINTER) {
    return false;
  }
  DWORD transferred = 0;
  if (!ReadFile(handle_, buffer, count, &transferred, nullptr)) return false;
  done = transferred;
  position_ = SetFilePointer(handle_, 0, nullptr, FILE_CURRENT);
  return true;
}

bool Win32FloppyDevice::WriteAtPosition(const uint8_t* data, uint32_t count, uint32_t& done) {
  if (SetFilePointer(handle_, static_cast<LONG>(position_), nullptr, FILE_BEGIN) ==
      INVALID_SET_FILE_POINTER) {
    return false;
  }
  DWORD transferred = 0;
  if (!WriteFile(handle_, data, count, &transferred, nullptr)) return false;
  done = transferred;
  position_ = SetFilePointer(handle_, 0, nullptr, FILE_CURRENT);
  return true;
}

bool Win32FloppyDevice::TransferSectors9x(DWORD service, const uint8_t* buffer, uint32_t count,
                                          uint32_t& done) {
  const uint32_t sectors = count >> 9;  // 512-byte sectors, whatever the disk says
  DiocRegisters registers{};
  registers.reg_EAX = drive_;  // 0-based for the sector services
  registers.reg_EBX = Address32(buffer);
  registers.reg_ECX = sectors;
  registers.reg_EDX = position_;
  registers.reg_Flags = kCarryFlag;
  if (!CallVwin32(handle_, service, registers)) return false;
  position_ += sectors;
  done = sectors << 9;  // a tail short of a sector is not moved
  return true;
}

bool Win32FloppyDevice::FormatTracks(uint16_t cylinder, uint16_t head, uint16_t tracks) {
  if (IsWindows9x()) return FormatTracks9x(cylinder, head, tracks);
  return FormatTracksNt(cylinder, head, tracks);
}

bool Win32FloppyDevice::FormatTracksNt(uint16_t cylinder, uint16_t head, uint16_t tracks) {
  const NtFormatRange range = FormatRangeNt(cylinder, head, tracks);
  FormatParameters parameters;
  parameters.media_type = kMediaF3_1Pt44_512;
  parameters.start_cylinder = range.start_cylinder;
  parameters.end_cylinder = range.end_cylinder;
  parameters.start_head = range.start_head;
  parameters.end_head = range.end_head;
  DWORD returned = 0;
  return DeviceIoControl(handle_, kIoctlDiskFormatTracks, &parameters, sizeof parameters, nullptr,
                         0, &returned, nullptr);
}

bool Win32FloppyDevice::FormatTracks9x(uint16_t cylinder, uint16_t head, uint16_t tracks) {
  FormatTrackBlock block{};  // special functions 0: format the track
  DiocRegisters registers{};
  registers.reg_EAX = 0x440D;
  registers.reg_ECX = kFormatTrack;
  registers.reg_EBX = drive_ + 1u;
  registers.reg_EDX = Address32(&block);
  for (uint16_t track = 0; track < tracks; ++track) {
    block.head = head;
    block.cylinder = cylinder;
    if (!CallVwin32(handle_, kVwin32DosIoctl, registers)) return false;
    NextTrack9x(cylinder, head);
  }
  return true;
}

bool Win32FloppyDrives::IsFloppyDrive(uint8_t drive) {
  if (drive >= 26) return false;
  const char letter = static_cast<char>('A' + drive);
  return IsWindows9x() ? IsFloppyDrive9x(letter) : IsFloppyDriveNt(letter);
}

std::string Win32FloppyDrives::Label(uint8_t drive) {
  return std::string(1, static_cast<char>('A' + drive)) + ":\\";
}

std::unique_ptr<FloppyDevice> Win32FloppyDrives::MakeDevice(uint8_t drive) {
  return std::make_unique<Win32FloppyDevice>(drive);
}

}  // namespace floppyset
