// Sample inputs and LHA archives for the LHA tests: jlha compresses, the archives are
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

// Text, a binary, zeros, random bytes and a 1.44 MB FAT12 image of real files (mtools).
std::vector<SampleFile> MakeSampleFiles(const std::string& work_dir);
std::vector<uint8_t> MakeFat12Image(const std::string& work_dir);
std::vector<uint8_t> PseudoRandomBytes(size_t size, uint32_t seed);

// Writes the files into `work_dir` and compresses them with jlha (level-0 headers, -lh5-,
// stored where compression does not pay); empty on failure.
std::vector<uint8_t> CompressWithJlha(const std::string& work_dir,
                                      const std::vector<SampleFile>& files);

struct ArchivedMember {
  std::string method;
  std::string name;
  std::vector<uint8_t> packed;
  uint32_t original_size = 0;
  uint16_t crc = 0;
};

// The members of a level-0 archive (jlha's "a0" form).
std::vector<ArchivedMember> ParseLevel0(const std::vector<uint8_t>& archive);

// MSB-first bit writer for hand-made -lh5- streams.
class BitWriter {
 public:
  void Put(uint32_t value, unsigned bits);
  std::vector<uint8_t> Finish();  // pads the last byte with zero bits

 private:
  std::vector<uint8_t> bytes_;
  unsigned used_ = 0;  // bits used in the last byte
};

// One member with a level-1 header and no extended header (header size 25 + name length).
std::vector<uint8_t> Level1Member(const std::string& method, const std::string& name,
                                  const std::vector<uint8_t>& packed, uint32_t original_size,
                                  uint16_t crc);
std::vector<uint8_t> Level1Member(const ArchivedMember& member);
// Re-wraps every member of a level-0 archive into Level1Member form, ending with a 0 byte.
std::vector<uint8_t> RewrapAsLevel1(const std::vector<uint8_t>& level0);

// A bitwise CRC-16/ARC, independent of the table-driven code under test.
uint16_t ReferenceCrc16(const uint8_t* data, size_t size, uint16_t crc = 0);

}  // namespace floppyset::testing
