// Reading the package behind the program and extracting its archive into the workspace.
#include "package/package_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "codec/lzh_reader.h"
#include "mkfloppyset/lzh_writer.h"
#include "package/extraction.h"
#include "package/integrity.h"
#include "package_builder.h"
#include "support/fault_host.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "workspace/workspace.h"

namespace floppyset {
namespace {

using namespace testing;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

constexpr uint32_t kSizeOfImage = 0x2000;
const std::string kProduct = "Example Product Setup, Build 42";  // 31 characters

// The example package's header, byte for byte: APST, plain windows, verify, autostart,
// 2,686,976 + 4,521,984 bytes, 3 disks, 2007-09-27 16:56:42.094 (Thursday).
Bytes ExampleHeader() {
  return {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00,
          0x00, 0x00, 0x29, 0x00, 0x00, 0x00, 0x45, 0x00, 0x03, 0x00, 0xD7, 0x07, 0x09, 0x00,
          0x04, 0x00, 0x1B, 0x00, 0x10, 0x00, 0x38, 0x00, 0x2A, 0x00, 0x5E, 0x00, 0x78, 0x56,
          0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x90, 0x20, 0x00, 0x00, 0x00, 0x0A, 0x00};
}

// A program file: the stub, `header`, the strings of the lengths it names, then `archive`.
Bytes Program(const Bytes& header, const std::string& final_message, const Bytes& archive) {
  Bytes program = ProgramImage(kSizeOfImage, 0x12345678);
  Append(program, header);
  Append(program, kProduct, GetLe(header, 48, 2));
  Append(program, final_message, GetLe(header, 50, 2));
  Append(program, "SETUP.EXE", GetLe(header, 52, 2));
  Append(program, archive);
  return program;
}

// image00.tii, image01.tii, ... holding ImageLike(size, i + 1).
std::vector<TestMember> Members(unsigned count, size_t size = 50000) {
  std::vector<TestMember> members;
  for (unsigned i = 0; i < count; ++i) {
    members.push_back(
        {"image0" + std::to_string(i) + ".tii", ImageLike(size, i + 1), 0x46FBE0C9 + i * 60});
  }
  return members;
}

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.SetTempDirectory(temp_.path());
    host_.SetFreeBytes(uint64_t{1} << 40);
    state_.ProgramPath = temp_ / "setup.exe";
    ASSERT_TRUE(CreateWorkspace(host_, kWorkspacePrefix, state_.WorkspaceDir));
  }
  bool Read(const Bytes& program) {
    WriteFileBytes(state_.ProgramPath, program);
    return ReadPackageHeader(state_, host_, ui_);
  }
  std::string Workspace(const std::string& name) const { return state_.WorkspaceDir + name; }
  std::string Copy() const { return Workspace("image.tii"); }
  ExtractionPlan Plan(uint32_t disks = 3, uint16_t kind = 1, bool salvage = false) const {
    ExtractionPlan plan;
    plan.archive_path = Copy();
    plan.workspace_dir = state_.WorkspaceDir;
    plan.apst = kind != 0;
    plan.disk_count = disks;
    plan.salvage = salvage;
    return plan;
  }
  ExtractionResult Extract(const Bytes& archive, uint16_t kind = 1, uint32_t disks = 3,
                           bool salvage = false) {
    WriteFileBytes(Copy(), archive);
    return ExtractPackageImages(Plan(disks, kind, salvage), host_, ui_);
  }
  Names WorkspaceFiles() const {
    Names names = Entries(state_.WorkspaceDir);
    names.erase(std::remove(names.begin(), names.end(), "image.tii"), names.end());
    return names;
  }

  TempDir temp_;
  FaultHost host_;
  ScriptedUi ui_;
  RunState state_;
};

TEST_F(PackageTest, HeaderStringsAndArchiveReadBack) {
  const Bytes archive = ImageLike(100003, 1);
  ASSERT_TRUE(Read(Program(ExampleHeader(), "", archive)));
  EXPECT_TRUE(state_.PackageFound);
  const PackageHeader& h = state_.Header;
  EXPECT_EQ(
      (std::vector<uint32_t>{h.ArchiveKind, h.DialogStyle, h.BootDisk, h.VerifyAfterWrite,
                             h.UnpackMode, h.AutostartMode, h.ArchiveSpace, h.UnpackedSpace,
                             h.DiskCount, h.ExpectedExeChecksum, h.ExpectedPackageChecksum,
                             h.ProductNameLength, h.FinalMessageLength, h.InstallerNameLength}),
      (std::vector<uint32_t>{1, 0, 0, 1, 0, 1, 2686976, 4521984, 3, 0x12345678, 0x90ABCDEF, 32, 0,
                             10}));
  EXPECT_EQ(h.CreationTime, (CalendarTime{2007, 9, 4, 27, 16, 56, 42, 94}));
  EXPECT_EQ(state_.PeCheckSum, 0x12345678u);
  EXPECT_EQ(state_.ProductName, kProduct);
  EXPECT_EQ(state_.InstallerName, "SETUP.EXE");
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(ReadFileBytes(Copy()), archive);  // every byte behind the strings

  // The final message is cut to its buffer; empty strings are empty.
  Bytes header = ExampleHeader();
  PutLe(header, 50, 12000, 2);
  ASSERT_TRUE(Read(Program(header, std::string(11999, 'x'), {1})));
  EXPECT_EQ(state_.FinalMessage, std::string(9999, 'x'));
  EXPECT_EQ(ReadFileBytes(Copy()), Bytes{1});
  header = ExampleHeader();
  PutLe(header, 10, 1, 2);  // UnpackMode, with autostart on but no installer name
  PutLe(header, 48, 0, 2);
  PutLe(header, 52, 0, 2);
  ASSERT_TRUE(Read(Program(header, "", {})));
  EXPECT_EQ(state_.ProductName + state_.InstallerName, "");
  EXPECT_EQ(state_.PackageUnpackMode, 1);
  EXPECT_FALSE(state_.IsAutostart());
  EXPECT_TRUE(fs::exists(Copy()));
}

TEST_F(PackageTest, TempSpaceIsCheckedOnTheFull64BitSum) {
  host_.SetFreeBytes(1048576);
  host_.SetVolumeRootFor("", "C:\\");
  EXPECT_FALSE(Read(Program(ExampleHeader(), "", {1})));
  ASSERT_EQ(ui_.Messages().size(), 1u);
  const std::string text = ui_.LastMessage().text;
  EXPECT_TRUE(Has(text, "least 6.88 MB") && Has(text, "drive C:\\)") && Has(text, "only 1 MB"));
  EXPECT_FALSE(fs::exists(Copy()));
  Bytes header = ExampleHeader();
  PutLe(header, 14, 0xFFFFFFFF);
  PutLe(header, 18, 2);  // 4 GiB + 1 byte, not the 1 byte of a 32-bit sum
  host_.SetFreeBytes(0xFFFFFFFF);
  EXPECT_FALSE(Read(Program(header, "", {})));
  host_.FailFreeSpaceQueries();  // unknown space is enough
  EXPECT_TRUE(Read(Program(ExampleHeader(), "", {1})));
  EXPECT_EQ(ui_.Messages().size(), 2u);
}

// Program files without a usable package: start-up goes on with nothing found and nothing
// left over from a package read before.
TEST_F(PackageTest, MissingOrMalformedPackageIsNotFound) {
  const Bytes good = Program(ExampleHeader(), "", ImageLike(64, 1));
  std::vector<Bytes> cases = {ProgramImage(kSizeOfImage, 0), good, good, good, {'M', 'Z'}};
  cases[0].resize(kSizeOfImage - 1);        // the package offset lies past the end
  cases[1].resize(kSizeOfImage + 20);       // header cut short
  cases[2].resize(kSizeOfImage + 54 + 40);  // strings run past the file
  PutLe(cases[3], 60, 0xFFFFFF00);          // PE headers past the end
  for (size_t i = 0; i <= cases.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(Read(good));
    fs::remove(Copy());
    if (i == cases.size()) fs::remove(state_.ProgramPath);
    EXPECT_TRUE(i < cases.size() ? Read(cases[i]) : ReadPackageHeader(state_, host_, ui_));
    EXPECT_FALSE(state_.PackageFound);
    EXPECT_EQ(state_.Header.DiskCount, 0);
    EXPECT_EQ(state_.ProductName, "");
    EXPECT_FALSE(fs::exists(Copy()));
  }
  EXPECT_TRUE(ui_.Messages().empty());

  // Without a workspace the archive is not copied into the current directory.
  state_.WorkspaceDir.clear();
  const fs::path before = fs::current_path();
  fs::current_path(temp_.path());
  EXPECT_TRUE(Read(good));
  fs::current_path(before);
  EXPECT_TRUE(state_.PackageFound);
  EXPECT_FALSE(fs::exists(temp_ / "image.tii"));
}

// What lies at SizeOfImage is a package only with its strings inside the file and its archive's
// signature in place; the flags, DialogStyle and DiskCount may be anything another builder
// wrote.
TEST(PackageVerdictTest, OnlyAPackageWithItsArchiveSignatureIsPlausible) {
  using V = PackageVerdict;
  const auto lha = [](const char* method, uint8_t level) {
    Bytes head(kArchiveSignatureSize, 0x20);
    std::copy_n(method, 5, head.begin() + 2);
    head[20] = level;
    return head;
  };
  const Bytes apst = {'A', 'P', 'S', 'T', 0, 0, 0, 0};
  Bytes cut = lha("-lh5-", 0);
  cut.pop_back();
  constexpr uint64_t kOffset = 0x1000;
  const struct {
    const char* name;
    uint16_t kind;
    Bytes head;
    int64_t archive_size;  // bytes behind the strings (below 0: missing from them)
    V verdict;
    std::function<void(PackageHeader&)> change = nullptr;
  } cases[] = {
      {"APST", 1, apst, 5000, V::kPlausible},
      {"any flags, style and kind", 0x8001, apst, 5000, V::kPlausible,
       [](PackageHeader& h) {
         h.DialogStyle = 7, h.BootDisk = h.VerifyAfterWrite = h.UnpackMode = 0xFFFF;
         h.AutostartMode = 2, h.DiskCount = 0, h.ArchiveSpace = h.UnpackedSpace = 0xFFFFFFFF;
       }},
      {"LHA level 0", 0, lha("-lh5-", 0), 5000, V::kPlausible},
      {"LHA level 1, stored", 0, lha("-lh0-", 1), 5000, V::kPlausible},
      {"LHA level 2, other method", 0, lha("-lzs-", 2), 5000, V::kPlausible},
      {"final message at its limit", 1, apst, 5000, V::kPlausible,
       [](PackageHeader& h) { h.FinalMessageLength = kFinalMessageLimit; }},
      {"final message past its limit", 1, apst, 5000, V::kFinalMessageTooLong,
       [](PackageHeader& h) { h.FinalMessageLength = kFinalMessageLimit + 1; }},
      {"LHA level 3", 0, lha("-lh5-", 3), 5000, V::kNoArchiveSignature},
      {"LHA header cut short", 0, cut, 20, V::kNoArchiveSignature},
      {"no method id", 0, lha("xlh5-", 0), 5000, V::kNoArchiveSignature},
      {"APST where LHA is named", 0, apst, 5000, V::kNoArchiveSignature},
      {"LHA where APST is named", 1, lha("-lh5-", 0), 5000, V::kNoArchiveSignature},
      {"APST cut short", 1, {'A', 'P', 'S'}, 3, V::kNoArchiveSignature},
      {"zeros (an all-zero overlay)", 0, Bytes(kArchiveSignatureSize, 0), 5000,
       V::kNoArchiveSignature},
      {"empty archive", 1, {}, 0, V::kEmptyArchive},
      {"strings past the end", 1, {}, -1, V::kOutsideFile},
      {"header past the end", 1, {}, -61, V::kOutsideFile},  // 53 bytes at the offset
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PackageHeader header;
    header.ArchiveKind = c.kind;
    header.DiskCount = 2;
    header.ProductNameLength = 20, header.FinalMessageLength = 30, header.InstallerNameLength = 10;
    if (c.change) c.change(header);
    const uint64_t end = kOffset + kPackageHeaderSize + header.ProductNameLength +
                         header.FinalMessageLength + header.InstallerNameLength;
    EXPECT_EQ(JudgePackage(header, kOffset, end + c.archive_size, c.head), c.verdict);
  }
  // Offsets near 4 GiB do not wrap.
  PackageHeader header;
  header.ProductNameLength = 0xFFFF;
  EXPECT_EQ(JudgePackage(header, 0xFFFFFFFF, 0x1000, apst), V::kOutsideFile);
}

// The setup program reads an implausible package as it stands (and blames its file); a front
// end that requires plausibility forgets it, before asking for space or copying anything.
TEST_F(PackageTest, AnImplausiblePackageIsNoneWhereAPackageIsRequired) {
  Bytes signed_archive = {'A', 'P', 'S', 'T'};
  Append(signed_archive, ImageLike(64, 1));
  for (const bool required : {false, true}) {
    for (const bool plausible : {false, true}) {
      SCOPED_TRACE(std::to_string(required) + std::to_string(plausible));
      fs::remove(Copy());
      state_.RequirePlausiblePackage = required;
      ASSERT_TRUE(
          Read(Program(ExampleHeader(), "", plausible ? signed_archive : ImageLike(64, 1))));
      EXPECT_EQ(state_.PackagePlausible, plausible);
      EXPECT_EQ(state_.PackageFound, plausible || !required);
      EXPECT_EQ(state_.ProductName.empty(), required && !plausible);
      EXPECT_EQ(fs::exists(Copy()), plausible || !required);
    }
  }
  // Nor is space asked for by the sizes such a "header" names (6.88 MB here).
  host_.SetFreeBytes(0);
  EXPECT_TRUE(Read(Program(ExampleHeader(), "", ImageLike(64, 1))));
  EXPECT_TRUE(ui_.Messages().empty());
}

// The workspace is the run's own: whatever the archive put there goes, beyond DiskCount too.
TEST_F(PackageTest, WorkspaceIsNewAndEmptiedWhole) {
  std::string second;
  ASSERT_TRUE(CreateWorkspace(host_, "TII", second));
  EXPECT_NE(second, state_.WorkspaceDir);
  EXPECT_EQ(second.rfind(temp_.path() + "/TII", 0), 0u);
  host_.SetTempDirectory("");
  EXPECT_FALSE(CreateWorkspace(host_, "TII", second));
  EXPECT_EQ(second, "");
  for (const char* name : {"image.tii", "image00.tii", "image05.tii", "other.txt"}) {
    WriteFileText(state_.WorkspaceDir + name, "x");
  }
  state_.Header.DiskCount = 3;
  DeleteWorkspaceFiles(state_.WorkspaceDir, host_);
  EXPECT_TRUE(host_.ListDirectory(state_.WorkspaceDir).empty());
}

TEST_F(PackageTest, MembersBecomeImagesWithTheirTimesAndTheBarRises) {
  std::vector<TestMember> members = Members(3, 1474560);
  ASSERT_TRUE(Extract(ApstArchive(members)).complete);
  ASSERT_EQ(WorkspaceFiles(), (Names{"image00.tii", "image01.tii", "image02.tii"}));
  for (const TestMember& m : members) {
    struct stat st {};
    ASSERT_EQ(stat(Workspace(m.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, m.modified_time);
    EXPECT_EQ(ReadFileBytes(Workspace(m.name)), m.data);
  }
  // The bar rises with the archive bytes read, one pump per report, and ends full.
  const std::vector<int> positions = ui_.ProgressPositions(kControlExtractionBar);
  ASSERT_FALSE(positions.empty());
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_GE(positions.back(), 100);
  EXPECT_LT(positions.front(), 50);
  EXPECT_EQ(std::count_if(ui_.Events().begin(), ui_.Events().end(),
                          [](auto& e) { return e.kind == UiEventKind::kPump; }),
            std::ssize(positions));

  // Garbage after the last member is ignored; LHA packages go through the LHA reader.
  for (const std::string& tail :
       {std::string("x"), std::string(23, '$'), "$PK" + std::string(100, 'z')}) {
    Bytes archive = ApstArchive(Members(1));
    Append(archive, tail, tail.size());
    EXPECT_TRUE(Extract(archive, 1, 1).complete) << tail.size();
  }
  EXPECT_TRUE(
      Extract(WriteLh0Archive({{"image00.tii", members[0].data, 0x373B8707}}), 0, 1).complete);
  EXPECT_EQ(ReadFileBytes(Workspace("image00.tii")), members[0].data);
  EXPECT_GE(ui_.ProgressPositions(kControlExtractionBar).back(), 99);
}

// The letters of a set's account, one a disk: I intact, D damaged, M missing.
std::string Conditions(const SetAccount& images) {
  std::string letters;
  for (const ImageAccount& image : images) {
    letters += image.condition == ImageCondition::kIntact    ? 'I'
               : image.condition == ImageCondition::kDamaged ? 'D'
                                                             : 'M';
  }
  return letters;
}

// One row per way a set's archive is damaged or incomplete: the account of its images, the
// first failure, and the images left in the workspace: only the intact ones, each exactly
// what its member holds. Unsafe names and members that are no image of the set are stepped
// over; a damaged member ends the extraction, or with salvage only itself.
TEST_F(PackageTest, EveryIntactImageComesOutAndEveryLossIsNamed) {
  fs::create_directory(Workspace("sub"));
  std::vector<TestMember> crc = Members(3), cut = Members(2, 200000), unterminated = Members(1),
                          nameless = Members(1), upper = Members(2),
                          large = {{"image00.tii", Bytes(3 * kMaxFloppyImageBytes)}};
  crc[1].crc_xor = 1;
  cut[1].cut_packed_by = 1000;
  unterminated[0].name = std::string(300, 'a');
  unterminated[0].terminate = nameless[0].terminate = false;
  nameless[0].name = "";
  upper[1].name = "IMAGE01.TII";
  // Extra members of 44 bytes each beyond the set's one image: none of them is written.
  std::vector<TestMember> bomb = Members(1);
  for (int i = 0; i < 300; ++i) bomb.push_back({"x" + std::to_string(i), Bytes(3000000)});
  Bytes ascii = ApstArchive(Members(1));
  ascii[8 + 24 + 12] = 1;  // the literal-mode byte of the only member
  Bytes lha = WriteLh0Archive({{"image00.tii", ImageLike(1000, 1), 0}});
  PutLe(lha, 11, 0xA0000000);  // 2.5 GiB declared
  lha[1] = 0;
  for (size_t i = 2; i < size_t{2} + lha[0]; ++i) lha[1] = static_cast<uint8_t>(lha[1] + lha[i]);
  Bytes lha_bad = WriteLh0Archive({{"image00.tii", ImageLike(1000, 1), 0},
                                   {"image01.tii", ImageLike(1000, 2), 0},
                                   {"image02.tii", ImageLike(1000, 3), 0}});
  struct Case {
    std::string what;
    Bytes archive;
    std::string account;
    int code;
    std::string failed;
    Names left;
    uint16_t kind = 1;
    bool salvage = false;
    bool no_create = false;  // image02.tii cannot be created
  };
  std::vector<Case> cases = {
      {"no member", {'A', 'P', 'S', 'T', 0, 0, 0, 0}, "MMM", kExtractNoMembers, "", {}},
      {"short", {'A', 'P', 'S', 'T', 0, 0, 0}, "MMM", kExtractNoArchive, "", {}},
      {"magic", {'A', 'P', 'S', 'X', 0, 0, 0, 0}, "MMM", kExtractNoArchive, "", {}},
      {"crc", ApstArchive(crc), "IDM", kExtractCrcMismatch, "image01.tii", {"image00.tii"}},
      {"crc salvaged",
       ApstArchive(crc),
       "IDI",
       kExtractCrcMismatch,
       "image01.tii",
       {"image00.tii", "image02.tii"},
       1,
       true},
      {"cut", ApstArchive(cut), "IDM", 4, "image01.tii", {"image00.tii"}},
      {"unterminated",
       ApstArchive(unterminated),
       "MMM",
       kExtractBadName,
       std::string(260, 'a'),
       {}},
      {"nameless", ApstArchive(nameless), "DMM", kExtractBadName, "", {}},
      {"large", ApstArchive(large), "DMM", kExtractTooLarge, "image00.tii", {}},
      {"ascii", ascii, "DMM", kExtractAsciiMode, "image00.tii", {}},
      {"upper case", ApstArchive(upper), "IIM", 0, "", {"image00.tii", "image01.tii"}},
      {"bomb", ApstArchive(bomb), "IMM", 0, "", {"image00.tii"}},
      {"lha large", lha, "DMM", kLzhTooLarge, "", {}, 0},
  };
  for (const char* name : {"../evil.tii", "sub/evil.tii", "/tmp/evil.tii", "C:evil.tii", "..", ".",
                           "", "a\x01", "CON.tii"}) {
    cases.push_back({name,
                     ApstArchive({{name, {1}}, Members(2)[1]}),
                     *name ? "MIM" : "DIM",  // a nameless member stands for the next disk
                     kExtractBadName,
                     name,
                     {"image01.tii"}});
  }
  for (const bool salvage : {false, true}) {
    // The second member's header no longer matches its checksum: it is named by its disk.
    Bytes archive = lha_bad;
    archive[size_t{2} + archive[0] + 1000 + 1] ^= 0xFF;
    cases.push_back({"lha header", archive, salvage ? "IDI" : "IDM", kLzhBadHeader, "",
                     salvage ? Names{"image00.tii", "image02.tii"} : Names{"image00.tii"}, 0,
                     salvage});
  }
  for (const bool salvage : {false, true}) {
    // The second member's data (stored, so its bytes are plain) no longer matches its CRC.
    Bytes archive = lha_bad;
    archive[archive.size() - 1 - 1000 - (2 + archive[0]) - 500] ^= 0xFF;
    cases.push_back({"lha crc", archive, salvage ? "IDI" : "IDM", kLzhBadData, "",
                     salvage ? Names{"image00.tii", "image02.tii"} : Names{"image00.tii"}, 0,
                     salvage});
  }
  cases.push_back({"cannot create",
                   ApstArchive(Members(3)),
                   "IID",
                   kExtractCannotCreate,
                   "image02.tii",
                   {"image00.tii", "image01.tii"},
                   1,
                   false,
                   true});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.no_create) host_.FailCreateNamed("image02.tii");
    for (const std::string& name : WorkspaceFiles()) fs::remove(Workspace(name));
    fs::create_directory(Workspace("sub"));
    const ExtractionResult result = Extract(c.archive, c.kind, 3, c.salvage);
    EXPECT_EQ(Conditions(result.images), c.account);
    EXPECT_EQ(result.complete, c.account == "III");
    EXPECT_EQ(result.code, c.code);
    if (c.kind != 0) {
      EXPECT_EQ(result.failed_member, c.failed);
    }
    for (const ImageAccount& image : result.images) {
      EXPECT_EQ(image.reason.empty(), image.condition == ImageCondition::kIntact);
    }
    Names left = c.left;
    left.insert(left.begin(), "sub");
    std::sort(left.begin(), left.end());
    EXPECT_EQ(WorkspaceFiles(), left);
    for (const std::string& name : c.left) {
      const Bytes written = ReadFileBytes(Workspace(name));
      EXPECT_EQ(written, ImageLike(written.size(), name[6] - '0' + 1));
    }
  }
  EXPECT_FALSE(fs::exists(temp_ / "evil.tii"));
  EXPECT_TRUE(Extract(ApstArchive({{"image00.tii", Bytes(kMaxFloppyImageBytes)}}), 1, 1).complete);

  fs::remove(Copy());
  EXPECT_EQ(ExtractPackageImages(Plan(), host_, ui_).code, kExtractNoArchive);
  state_.WorkspaceDir.clear();
  EXPECT_EQ(ExtractPackageImages(Plan(), host_, ui_).code, kExtractNoWorkspace);
}

TEST_F(PackageTest, DestinationsOfApstExtractAll) {
  const std::string archive = temp_ / "archive.apst";
  WriteFileBytes(archive, ApstArchive(Members(2, 5000)));
  const std::string deep =
      temp_.path() + "/" + std::string(520 - temp_.path().size() - 12, 'd') + "/";
  const ExtractionResult result = ApstExtractAll(host_, nullptr, archive, deep);
  EXPECT_EQ(result.code, kExtractPathTooLong);
  EXPECT_EQ(result.failed_member, "image00.tii");
  // Without a trailing separator the destination is the one output file.
  EXPECT_TRUE(ApstExtractAll(host_, nullptr, archive, temp_ / "one.img").complete);
  EXPECT_EQ(ReadFileBytes(temp_ / "one.img"), ImageLike(5000, 2));
}

TEST_F(PackageTest, ProgressStepCountsOnlyArchiveReads) {
  ExtractionProgress progress;
  progress.ui = &ui_;
  progress.total = 1000;
  ArchiveProgressStep(&progress, 0, 500);  // written bytes change nothing
  ArchiveProgressStep(&progress, 1, 333);
  ArchiveProgressStep(&progress, 1, 2048);
  progress.total = 100000000;  // large archives do not wrap the percentage
  progress.done = 0;
  ArchiveProgressStep(&progress, 1, 99000000);
  progress.total = 0;
  ArchiveProgressStep(&progress, 1, 1);
  EXPECT_EQ(ui_.ProgressPositions(kControlExtractionBar), (std::vector<int>{33, 238, 99}));
}

uint32_t PlainSum(const uint8_t* data, size_t size, uint32_t sum = 0) {
  for (size_t i = 0; i < size; ++i) sum = sum * 3 + data[i];
  return sum;
}

// The vectorised sum against the plain loop around its block sizes, unaligned and split; then
// the checksum of the workspace archive, 0 when it is absent.
TEST(PackageSumTest, AgreesWithThePlainLoop) {
  Bytes data = ImageLike(300007, 7);
  data.resize(400000, 0xFF);  // every byte unsigned
  for (const size_t size : {1, 63, 1023, 1024, 1025, 4097, 65535, 300007, 400000}) {
    const size_t half = size / 2;
    EXPECT_EQ(PackageSum(data.data() + 1, size - 1, 7), PlainSum(data.data() + 1, size - 1, 7));
    EXPECT_EQ(PackageSum(data.data() + half, size - half, PackageSum(data.data(), half, 7)),
              PlainSum(data.data(), size, 7))
        << size;
  }
  TempDir temp;
  FaultHost host;
  const std::string workspace = temp.path() + "/";
  EXPECT_EQ(ArchiveChecksum(workspace, host), 0u);
  WriteFileBytes(temp / "image.tii", data);
  EXPECT_EQ(ArchiveChecksum(workspace, host), PlainSum(data.data(), data.size()));
}

}  // namespace
}  // namespace floppyset
