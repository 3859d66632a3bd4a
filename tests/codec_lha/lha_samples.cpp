#include "lha_samples.h"

#include <algorithm>

#include "implode_corpus.h"
#include "support/temp_dir.h"

namespace floppyset::testing {
namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<uint8_t> Head(const std::string& path, size_t size) {
  std::vector<uint8_t> data = ReadFileBytes(path);
  data.resize(std::min(data.size(), size));
  return data;
}

}  // namespace

std::vector<SampleFile> MakeSampleFiles(const std::string& work_dir) {
  return {{"text.txt", Head("/usr/share/common-licenses/GPL-3", 50000)},
          {"exactly.8k", Head("/usr/share/common-licenses/GPL-2", 8192)},
          {"zeros.bin", std::vector<uint8_t>(70000, 0)},
          {"random.bin", implode_testing::RandomBytes(20000, 1)},
          {"tiny", {'x'}},
          {"program.bin", Head("/bin/ls", 120000)},
          {"image00.tii", implode_testing::MakeFloppyImage(work_dir, 1400 * 1024)}};
}

std::vector<uint8_t> CompressWithJlha(const std::string& work_dir,
                                      const std::vector<SampleFile>& files) {
  const std::string source = work_dir + "/jlha-input", archive = work_dir + "/jlha.lzh";
  RunShell("rm -rf '" + source + "' '" + archive + "' && mkdir -p '" + source + "'");
  std::string names;
  for (const SampleFile& file : files) {
    WriteFileBytes(source + "/" + file.name, file.data);
    names += " '" + file.name + "'";
  }
  if (RunShell("cd '" + source + "' && jlha a0q1 '" + archive + "'" + names + " >/dev/null 2>&1")) {
    return {};
  }
  return ReadFileBytes(archive);
}

std::vector<uint8_t> Level1Member(const ArchivedMember& member) {
  const std::string& name = member.name;
  std::vector<uint8_t> m(27 + name.size(), 0);
  m[0] = static_cast<uint8_t>(25 + name.size());
  std::copy_n(member.method.begin(), 5, m.begin() + 2);
  for (int i = 0; i < 4; ++i) {
    m[7 + i] = static_cast<uint8_t>(member.packed.size() >> (8 * i));
    m[11 + i] = static_cast<uint8_t>(member.original_size >> (8 * i));
    m[15 + i] = static_cast<uint8_t>(0x3A2B1C0D >> (8 * i));  // a DOS time stamp
  }
  m[19] = 0x20;
  m[20] = 1;
  m[21] = static_cast<uint8_t>(name.size());
  std::copy(name.begin(), name.end(), m.begin() + 22);
  m[22 + name.size()] = static_cast<uint8_t>(member.crc);
  m[23 + name.size()] = static_cast<uint8_t>(member.crc >> 8);
  m[24 + name.size()] = 'M';
  for (size_t i = 2; i < m.size(); ++i) m[1] = static_cast<uint8_t>(m[1] + m[i]);
  m.insert(m.end(), member.packed.begin(), member.packed.end());
  return m;
}

std::vector<ArchivedMember> ParseLevel0(const std::vector<uint8_t>& archive) {
  std::vector<ArchivedMember> members;
  for (size_t at = 0; at + 24 < archive.size() && archive[at] != 0;) {
    ArchivedMember m;
    m.method.assign(archive.begin() + at + 2, archive.begin() + at + 7);
    m.original_size = Le32(archive, at + 11);
    const size_t name_end = at + 22 + archive[at + 21];
    m.name.assign(archive.begin() + at + 22, archive.begin() + name_end);
    m.crc = static_cast<uint16_t>(archive[name_end] | archive[name_end + 1] << 8);
    const size_t data_at = at + 2 + archive[at];
    m.packed.assign(archive.begin() + data_at, archive.begin() + data_at + Le32(archive, at + 7));
    at = data_at + m.packed.size();
    members.push_back(std::move(m));
  }
  return members;
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

uint16_t ReferenceCrc16(const uint8_t* data, size_t size, uint16_t crc) {
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

}  // namespace floppyset::testing
