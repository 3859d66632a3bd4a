#include "package/extraction.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "codec/lzh_reader.h"
#include "mkfloppyset/lzh_writer.h"
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

// image00.tii, image01.tii, ... holding ImageLike(size, i + 1).
std::vector<TestMember> Members(unsigned count, size_t size = 50000) {
  std::vector<TestMember> members;
  for (unsigned i = 0; i < count; ++i) {
    members.push_back(
        {"image0" + std::to_string(i) + ".tii", ImageLike(size, i + 1), 0x46FBE0C9 + i * 60});
  }
  return members;
}

class ExtractionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_.WorkspaceDir = temp_ / "ws/";
    fs::create_directory(state_.WorkspaceDir);
    state_.Header.ArchiveKind = 1;
  }
  ExtractionResult Extract(const Bytes& archive, uint16_t kind = 1) {
    state_.Header.ArchiveKind = kind;
    WriteFileBytes(ArchivePath(state_), archive);
    return ExtractPackageImages(state_, host_, ui_);
  }
  std::string Workspace(const std::string& name) const { return state_.WorkspaceDir + name; }
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

TEST_F(ExtractionTest, MembersBecomeImagesWithTheirTimesAndTheBarRises) {
  std::vector<TestMember> members = Members(3, 1474560);
  ASSERT_TRUE(Extract(ApstArchive(members)).complete);
  ASSERT_EQ(WorkspaceFiles(), (Names{"image00.tii", "image01.tii", "image02.tii"}));
  for (const TestMember& m : members) {
    struct stat st {};
    stat(Workspace(m.name).c_str(), &st);
    EXPECT_EQ(ReadFileBytes(Workspace(m.name)), m.data);
    EXPECT_EQ(st.st_mtime, m.modified_time);
  }
  // The bar rises with the archive bytes read, one pump per report, and ends full.
  const std::vector<int> positions = ui_.ProgressPositions(kControlExtractionBar);
  ASSERT_FALSE(positions.empty());
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_GE(positions.back(), 100);
  EXPECT_LT(positions.front(), 50);
  EXPECT_EQ(
      static_cast<size_t>(std::count_if(ui_.Events().begin(), ui_.Events().end(),
                                        [](auto& e) { return e.kind == UiEventKind::kPump; })),
      positions.size());

  // Garbage after the last member is ignored; LHA packages go through the LHA reader.
  for (const std::string& tail :
       {std::string("x"), std::string(23, '$'), "$PK" + std::string(100, 'z')}) {
    Bytes archive = ApstArchive(Members(1));
    Append(archive, tail, tail.size());
    EXPECT_TRUE(Extract(archive).complete) << tail.size();
  }
  EXPECT_TRUE(Extract(WriteLh0Archive({{"image00.tii", members[0].data, 0x373B8707}}), 0).complete);
  EXPECT_EQ(ReadFileBytes(Workspace("image00.tii")), members[0].data);
  EXPECT_GE(ui_.ProgressPositions(kControlExtractionBar).back(), 99);
}

// One row per way an extraction fails: its code, the member named, and the images left, each
// only what its member holds up to where it stopped.
TEST_F(ExtractionTest, EveryFailureNamesItsMemberAndLeavesOnlyWhatWasDecoded) {
  fs::create_directory(temp_ / "ws/sub");
  std::vector<TestMember> crc = Members(3), cut = Members(2, 200000), unterminated = Members(1),
                          nameless = Members(1),
                          large = {{"image00.tii", Bytes(3 * kMaxFloppyImageBytes)}};
  crc[1].crc_xor = 1;
  cut[1].cut_packed_by = 1000;
  unterminated[0].name = std::string(300, 'a');
  unterminated[0].terminate = nameless[0].terminate = false;
  nameless[0].name = "";
  Bytes lha = WriteLh0Archive({{"image00.tii", ImageLike(1000, 1), 0}});
  PutLe(lha, 11, 0xA0000000);  // 2.5 GiB declared
  lha[1] = 0;
  for (size_t i = 2; i < size_t{2} + lha[0]; ++i) lha[1] = static_cast<uint8_t>(lha[1] + lha[i]);
  struct Case {
    Bytes archive;
    int code;
    std::string failed;
    Names left;
    uint16_t kind = 1;
  };
  std::vector<Case> cases = {
      {{'A', 'P', 'S', 'T', 0, 0, 0, 0}, kExtractNoMembers, "", {}},
      {{'A', 'P', 'S', 'T', 0, 0, 0}, kExtractNoArchive, "", {}},
      {{'A', 'P', 'S', 'X', 0, 0, 0, 0}, kExtractNoArchive, "", {}},
      {ApstArchive(crc), kExtractCrcMismatch, "image01.tii", {"image00.tii", "image01.tii"}},
      {ApstArchive(cut), 4, "image01.tii", {"image00.tii", "image01.tii"}},
      {ApstArchive(unterminated), kExtractBadName, std::string(260, 'a'), {}},
      {ApstArchive(nameless), kExtractBadName, "", {}},
      {ApstArchive(large), kExtractTooLarge, "image00.tii", {}},
      {lha, kLzhTooLarge, "image00.tii", {}, 0},
  };
  for (const char* name : {"../evil.tii", "sub/evil.tii", "/tmp/evil.tii", "C:evil.tii", "..", ".",
                           "", "a\x01", "CON.tii"}) {
    cases.push_back({ApstArchive({{name, {1}}, Members(2)[1]}), kExtractBadName, name, {}});
  }
  host_.FailCreateNamed("image02.tii");
  cases.push_back({ApstArchive(Members(3)),
                   kExtractCannotCreate,
                   "image02.tii",
                   {"image00.tii", "image01.tii"}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failed);
    for (const std::string& name : WorkspaceFiles()) fs::remove(Workspace(name));
    fs::create_directory(temp_ / "ws/sub");
    const ExtractionResult result = Extract(c.archive, c.kind);
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.failed_member, c.failed);
    Names left = c.left;
    left.insert(left.begin(), "sub");
    std::sort(left.begin(), left.end());
    EXPECT_EQ(WorkspaceFiles(), left);
    for (size_t i = 0; i < c.left.size(); ++i) {
      const Bytes written = ReadFileBytes(Workspace(c.left[i])),
                  whole = ImageLike(written.size(), i + 1);
      EXPECT_GT(written.size(), 0u);
      EXPECT_EQ(written, whole);
    }
  }
  EXPECT_FALSE(fs::exists(temp_ / "evil.tii"));
  EXPECT_TRUE(Extract(ApstArchive({{"image00.tii", Bytes(kMaxFloppyImageBytes)}})).complete);

  fs::remove(ArchivePath(state_));
  EXPECT_EQ(ExtractPackageImages(state_, host_, ui_).code, kExtractNoArchive);
  state_.WorkspaceDir.clear();
  EXPECT_EQ(ExtractPackageImages(state_, host_, ui_).code, kExtractNoWorkspace);
}

TEST_F(ExtractionTest, DestinationsOfApstExtractAll) {
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

TEST_F(ExtractionTest, ProgressStepCountsOnlyArchiveReads) {
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

}  // namespace
}  // namespace floppyset
