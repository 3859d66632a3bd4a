#include "mkfloppyset/pe_stub.h"

#include "base/bytes.h"

namespace floppyset {
namespace {

constexpr size_t kPeOffsetField = 60;
constexpr size_t kFileHeaderSize = 20;
// The setup program reads the 4-byte signature, the file header and 224 bytes of the
// optional header.
constexpr size_t kReadHeadersSize = 4 + kFileHeaderSize + 224;
constexpr size_t kSizeOfImageField = 56;
constexpr size_t kCheckSumField = 64;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;

}  // namespace

bool ParsePeStub(const std::vector<uint8_t>& program, PeLayout& layout, std::string& error) {
  if (program.size() < 64 || program[0] != 'M' || program[1] != 'Z') {
    error = "not a PE file (no MZ header)";
    return false;
  }
  const uint64_t pe = LoadLe32(program.data() + kPeOffsetField);
  if (pe + kReadHeadersSize > program.size()) {
    error = "not a PE file (PE headers missing or cut off)";
    return false;
  }
  const uint8_t* headers = program.data() + pe;
  if (LoadLe32(headers) != 0x00004550) {
    error = "not a PE file (no PE signature)";
    return false;
  }
  const uint8_t* optional = headers + 4 + kFileHeaderSize;
  const uint16_t magic = LoadLe16(optional);
  if ((magic != kPe32Magic && magic != kPe32PlusMagic) ||
      LoadLe16(headers + 4 + 16) < kCheckSumField + 4) {
    error = "not a PE file (unknown optional header)";
    return false;
  }
  layout.size_of_image = LoadLe32(optional + kSizeOfImageField);
  layout.checksum = LoadLe32(optional + kCheckSumField);
  layout.checksum_offset = static_cast<size_t>(pe) + 4 + kFileHeaderSize + kCheckSumField;
  return true;
}

std::vector<uint8_t> MinimalPeStub() {
  constexpr uint32_t kPeOffset = 64;
  std::vector<uint8_t> stub(kPeOffset + kReadHeadersSize, 0);
  uint8_t* b = stub.data();
  b[0] = 'M';
  b[1] = 'Z';
  StoreLe32(b + kPeOffsetField, kPeOffset);
  uint8_t* pe = b + kPeOffset;
  StoreLe32(pe, 0x00004550);       // "PE\0\0"
  StoreLe16(pe + 4, 0x014C);       // i386
  StoreLe16(pe + 4 + 16, 224);     // SizeOfOptionalHeader
  StoreLe16(pe + 4 + 18, 0x0102);  // executable, 32-bit
  uint8_t* opt = pe + 4 + kFileHeaderSize;
  StoreLe16(opt, kPe32Magic);
  StoreLe32(opt + 28, 0x00400000);  // ImageBase
  StoreLe32(opt + 32, 0x1000);      // SectionAlignment
  StoreLe32(opt + 36, 0x200);       // FileAlignment
  StoreLe16(opt + 40, 4);           // operating system version 4.0
  StoreLe16(opt + 48, 4);           // subsystem version 4.0
  StoreLe32(opt + kSizeOfImageField, 0x1000);
  StoreLe32(opt + 60, 0x200);  // SizeOfHeaders
  StoreLe16(opt + 68, 2);      // Windows GUI
  StoreLe32(opt + 92, 16);     // NumberOfRvaAndSizes
  return stub;
}

uint32_t PeChecksum(const uint8_t* data, size_t size, size_t checksum_offset) {
  uint64_t sum = 0;
  // The CheckSum field counts as zero.
  auto byte_at = [&](size_t i) -> uint32_t {
    if (i >= size || (i >= checksum_offset && i < checksum_offset + 4)) return 0;
    return data[i];
  };
  for (size_t i = 0; i < size; i += 2) {
    sum += byte_at(i) | byte_at(i + 1) << 8;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + size);
}

bool PrepareStub(std::vector<uint8_t>& program, uint32_t& checksum, std::string& error) {
  PeLayout layout;
  if (!ParsePeStub(program, layout, error)) return false;
  if (program.size() > layout.size_of_image) {
    error = "the stub is longer (" + std::to_string(program.size()) +
            " bytes) than its SizeOfImage (" + std::to_string(layout.size_of_image) + ")";
    return false;
  }
  program.resize(layout.size_of_image, 0);
  checksum = PeChecksum(program.data(), program.size(), layout.checksum_offset);
  StoreLe32(program.data() + layout.checksum_offset, checksum);
  return true;
}

}  // namespace floppyset
