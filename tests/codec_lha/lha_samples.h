// Sample files and LHA archives for the LHA tests: jlha compresses, and its archives are
// re-wrapped into level-1 headers without extended headers (the form the reader takes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace floppyset::testing {

struct SampleFile {
  std::string name;
  std::vector<uint8_t> data;
};

// Text, a program, zeros, random bytes, one byte and a 1.44 MB FAT12 image of real files
// (the implode tests' floppy image).
std::vector<SampleFile> MakeSampleFiles(const std::string& work_dir);

// The files compressed by jlha into a level-0 archive (-lh5-, or -lh0- where that does not
// pay); empty on failure.
std::vector<uint8_t> CompressWithJlha(const std::string& work_dir,
                                      const std::vector<SampleFile>& files);

struct ArchivedMember {
  std::string method, name;
  std::vector<uint8_t> packed;
  uint32_t original_size = 0;
  uint16_t crc = 0;
};
std::vector<ArchivedMember> ParseLevel0(const std::vector<uint8_t>& archive);

// One member with a level-1 header of 25 + name length bytes and no extended header.
std::vector<uint8_t> Level1Member(const ArchivedMember& member);
// Every member of a level-0 archive as Level1Member, then the final 0 byte.
std::vector<uint8_t> RewrapAsLevel1(const std::vector<uint8_t>& level0);

// MSB-first bit writer for hand-made -lh5- streams; the last byte is padded with zeros.
class BitWriter {
 public:
  void Put(uint32_t value, unsigned bits);
  const std::vector<uint8_t>& Finish() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  unsigned used_ = 0;  // bits used in the last byte
};

// A bitwise CRC-16/ARC, independent of the table-driven code under test.
uint16_t ReferenceCrc16(const uint8_t* data, size_t size, uint16_t crc = 0);

}  // namespace floppyset::testing
