#include "lha_samples.h"

#include <fstream>

#include "support/temp_dir.h"

namespace floppyset::testing {
namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::string LoremText(size_t size) {
  static const char* const kWords[] = {"floppy ",  "disk ",  "image ",  "setup ",  "archive ",
                                       "member ",  "the ",   "of ",     "and ",    "LHA\n",
                                       "cluster ", "FAT12 ", "sector ", "header ", "CRC-16 "};
  std::string text;
  uint32_t state = 12345;
  while (text.size() < size) {
    state = state * 1103515245 + 12345;
    text += kWords[(state >> 16) % 15];
  }
  text.resize(size);
  return text;
}

std::vector<uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

}  // namespace

std::vector<uint8_t> PseudoRandomBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  for (auto& b : out) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    b = static_cast<uint8_t>(state);
  }
  return out;
}

std::vector<uint8_t> MakeFat12Image(const std::string& work_dir) {
  const std::string image = work_dir + "/fat12.ima";
  const std::string files = work_dir + "/fat12-files";
  RunShell("mkdir -p '" + files + "'");
  WriteFileText(files + "/README.TXT", LoremText(40000));
  WriteFileBytes(files + "/DATA.BIN", PseudoRandomBytes(100000, 7));
  RunShell("head -c 300000 /bin/bash > '" + files + "/PROGRAM.EXE'");
  RunShell("cp /usr/share/common-licenses/GPL-3 '" + files + "/LICENSE.TXT' 2>/dev/null");
  const int status = RunShell("mformat -C -f 1440 -i '" + image + "' :: >/dev/null && mcopy -i '" +
                              image + "' '" + files + "'/* :: >/dev/null");
  if (status != 0) return {};
  return ReadFileBytes(image);
}

std::vector<SampleFile> MakeSampleFiles(const std::string& work_dir) {
  std::vector<SampleFile> files;
  files.push_back({"text.txt", Bytes(LoremText(50000))});
  files.push_back({"exactly.8k", Bytes(LoremText(8192))});
  files.push_back({"zeros.bin", std::vector<uint8_t>(70000, 0)});
  files.push_back({"random.bin", PseudoRandomBytes(20000, 1)});
  files.push_back({"tiny", {'x'}});
  RunShell("head -c 120000 /bin/ls > '" + work_dir + "/ls.bin'");
  files.push_back({"program.bin", ReadFileBytes(work_dir + "/ls.bin")});
  files.push_back({"image00.tii", MakeFat12Image(work_dir)});
  return files;
}

std::vector<uint8_t> CompressWithJlha(const std::string& work_dir,
                                      const std::vector<SampleFile>& files) {
  const std::string source = work_dir + "/jlha-input";
  RunShell("rm -rf '" + source + "' && mkdir -p '" + source + "'");
  std::string names;
  for (const SampleFile& file : files) {
    WriteFileBytes(source + "/" + file.name, file.data);
    names += " '" + file.name + "'";
  }
  const std::string archive = work_dir + "/jlha.lzh";
  if (RunShell("cd '" + source + "' && jlha a0q1 '" + archive + "'" + names + " >/dev/null 2>&1") !=
      0) {
    return {};
  }
  return ReadFileBytes(archive);
}

std::vector<uint8_t> Level1Member(const std::string& method, const std::string& name,
                                  const std::vector<uint8_t>& packed, uint32_t original_size,
                                  uint16_t crc) {
  std::vector<uint8_t> m(27 + name.size(), 0);
  m[0] = static_cast<uint8_t>(25 + name.size());
  for (size_t i = 0; i < 5; ++i) m[2 + i] = static_cast<uint8_t>(method[i]);
  const auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) m[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(7, static_cast<uint32_t>(packed.size()));
  put32(11, original_size);
  put32(15, 0x3A2B1C0D);
  m[19] = 0x20;
  m[20] = 1;
  m[21] = static_cast<uint8_t>(name.size());
  for (size_t i = 0; i < name.size(); ++i) m[22 + i] = static_cast<uint8_t>(name[i]);
  m[22 + name.size()] = static_cast<uint8_t>(crc);
  m[23 + name.size()] = static_cast<uint8_t>(crc >> 8);
  m[24 + name.size()] = 'M';
  uint8_t sum = 0;
  for (size_t i = 2; i < m.size(); ++i) sum = static_cast<uint8_t>(sum + m[i]);
  m[1] = sum;
  m.insert(m.end(), packed.begin(), packed.end());
  return m;
}

std::vector<ArchivedMember> ParseLevel0(const std::vector<uint8_t>& archive) {
  std::vector<ArchivedMember> members;
  size_t at = 0;
  while (at + 24 < archive.size() && archive[at] != 0) {
    ArchivedMember m;
    const size_t header_size = archive[at];
    m.method.assign(archive.begin() + at + 2, archive.begin() + at + 7);
    const uint32_t packed_size = Le32(archive, at + 7);
    m.original_size = Le32(archive, at + 11);
    const size_t name_length = archive[at + 21];
    m.name.assign(archive.begin() + at + 22, archive.begin() + at + 22 + name_length);
    const size_t crc_at = at + 22 + name_length;
    m.crc = static_cast<uint16_t>(archive[crc_at] | archive[crc_at + 1] << 8);
    const size_t data_at = at + 2 + header_size;
    m.packed.assign(archive.begin() + data_at, archive.begin() + data_at + packed_size);
    members.push_back(std::move(m));
    at = data_at + packed_size;
  }
  return members;
}

std::vector<uint8_t> Level1Member(const ArchivedMember& m) {
  return Level1Member(m.method, m.name, m.packed, m.original_size, m.crc);
}

std::vector<uint8_t> RewrapAsLevel1(const std::vector<uint8_t>& level0) {
  std::vector<uint8_t> out;
  for (const ArchivedMember& m : ParseLevel0(level0)) {
    const std::vector<uint8_t> member = Level1Member(m);
    out.insert(out.end(), member.begin(), member.end());
  }
  out.push_back(0);
  return out;
}

void BitWriter::Put(uint32_t value, unsigned bits) {
  for (unsigned i = bits; i-- > 0;) {
    if (used_ == 0) bytes_.push_back(0);
    if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> used_);
    used_ = (used_ + 1) & 7;
  }
}

std::vector<uint8_t> BitWriter::Finish() {
  return bytes_;
}

uint16_t ReferenceCrc16(const uint8_t* data, size_t size, uint16_t crc) {
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

}  // namespace floppyset::testing
