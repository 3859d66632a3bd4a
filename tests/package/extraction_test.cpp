#include "package/extraction.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "apst_archive.h"
#include "codec/lzh_reader.h"
#include "mkfloppyset/lzh_writer.h"
#include "workspace/workspace.h"
#include "support/fault_host.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

namespace floppyset {
namespace {

using testing::ApstArchive;
using testing::ImageLike;
using testing::ReadFileBytes;
using testing::TestMember;
namespace fs = std::filesystem;

class ExtractionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_.WorkspaceDir = temp_ / "ws/";
    fs::create_directory(state_.WorkspaceDir);
    state_.Header.ArchiveKind = 1;
  }

  ExtractionResult Extract(const std::vector<uint8_t>& archive) {
    testing::WriteFileBytes(ArchivePath(state_), archive);
    return ExtractPackageImages(state_, host_, ui_);
  }

  std::string Workspace(const std::string& name) const { return state_.WorkspaceDir + name; }

  std::vector<std::string> WorkspaceFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(state_.WorkspaceDir)) {
      if (entry.path().filename() != "image.tii") names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  static int64_t ModifiedSeconds(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mtime;
  }

  testing::TempDir temp_;
  testing::FaultHost host_;
  testing::ScriptedUi ui_;
  RunState state_;
};

TEST_F(ExtractionTest, ThreeMembersGiveThreeImagesWithTheirTimes) {
  std::vector<TestMember> members;
  for (unsigned i = 0; i < 3; ++i) {
    members.push_back(
        {"image0" + std::to_string(i) + ".tii", ImageLike(1474560, i + 1), 0x46FBE0C9 + i * 60});
  }
  const ExtractionResult result = Extract(ApstArchive(members));
  EXPECT_TRUE(result.complete) << result.code << " " << result.failed_member;
  ASSERT_EQ(WorkspaceFiles(),
            (std::vector<std::string>{"image00.tii", "image01.tii", "image02.tii"}));
  for (unsigned i = 0; i < 3; ++i) {
    EXPECT_EQ(ReadFileBytes(Workspace(members[i].name)), members[i].data) << i;
    EXPECT_EQ(ModifiedSeconds(Workspace(members[i].name)), 0x46FBE0C9 + i * 60);
  }
  // The bar rises with the archive bytes read, one pump per report, and ends full.
  const std::vector<int> positions = ui_.ProgressPositions(kControlExtractionBar);
  ASSERT_FALSE(positions.empty());
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_GE(positions.back(), 100);
  EXPECT_LT(positions.front(), 50);
  const auto pumps = std::count_if(ui_.Events().begin(), ui_.Events().end(), [](const auto& e) {
    return e.kind == testing::UiEventKind::kPump;
  });
  EXPECT_EQ(static_cast<size_t>(pumps), positions.size());
}

TEST_F(ExtractionTest, HeaderOnlyArchiveOrNoArchiveExtractsNothing) {
  ExtractionResult result = Extract({'A', 'P', 'S', 'T', 0, 0, 0, 0});
  EXPECT_FALSE(result.complete);
  EXPECT_EQ(result.code, kExtractNoMembers);
  EXPECT_TRUE(WorkspaceFiles().empty());

  for (const std::vector<uint8_t>& bad : {std::vector<uint8_t>{'A', 'P', 'S', 'T', 0, 0, 0},
                                          std::vector<uint8_t>{'A', 'P', 'S', 'X', 0, 0, 0, 0}}) {
    result = Extract(bad);
    EXPECT_EQ(result.code, kExtractNoArchive);
  }
  fs::remove(ArchivePath(state_));
  result = ExtractPackageImages(state_, host_, ui_);
  EXPECT_EQ(result.code, kExtractNoArchive);
  EXPECT_TRUE(ui_.ProgressPositions(kControlExtractionBar).empty());
  EXPECT_TRUE(WorkspaceFiles().empty());

  state_.WorkspaceDir.clear();
  EXPECT_EQ(ExtractPackageImages(state_, host_, ui_).code, kExtractNoWorkspace);
}

TEST_F(ExtractionTest, CrcMismatchStopsAfterItsMember) {
  std::vector<TestMember> members = {{"image00.tii", ImageLike(50000, 1)},
                                     {"image01.tii", ImageLike(50000, 2)},
                                     {"image02.tii", ImageLike(50000, 3)}};
  members[1].crc_xor = 1;
  const ExtractionResult result = Extract(ApstArchive(members));
  EXPECT_FALSE(result.complete);
  EXPECT_EQ(result.code, kExtractCrcMismatch);
  EXPECT_EQ(result.failed_member, "image01.tii");
  EXPECT_EQ(WorkspaceFiles(), (std::vector<std::string>{"image00.tii", "image01.tii"}));
  EXPECT_EQ(ReadFileBytes(Workspace("image01.tii")), members[1].data);  // written in full
}

TEST_F(ExtractionTest, TruncatedLastMemberFailsWithDecoderResult4AndKeepsItsPart) {
  std::vector<TestMember> members = {{"image00.tii", ImageLike(200000, 1)},
                                     {"image01.tii", ImageLike(200000, 2)}};
  members[1].cut_packed_by = 1000;
  std::vector<uint8_t> archive = ApstArchive(members);
  const ExtractionResult result = Extract(archive);
  EXPECT_EQ(result.code, 4);
  EXPECT_EQ(result.failed_member, "image01.tii");
  const std::vector<uint8_t> part = ReadFileBytes(Workspace("image01.tii"));
  EXPECT_GT(part.size(), 0u);
  EXPECT_LT(part.size(), members[1].data.size());
  EXPECT_TRUE(std::equal(part.begin(), part.end(), members[1].data.begin()));
}

TEST_F(ExtractionTest, GarbageAfterTheLastMemberIsIgnored) {
  std::vector<uint8_t> archive = ApstArchive({{"image00.tii", ImageLike(30000, 5)}});
  for (const std::string& tail :
       {std::string("x"), std::string(23, '$'), std::string("$PK") + std::string(100, 'z')}) {
    std::vector<uint8_t> with_tail = archive;
    testing::Append(with_tail, tail, tail.size());
    const ExtractionResult result = Extract(with_tail);
    EXPECT_TRUE(result.complete) << tail.size();
    EXPECT_EQ(ReadFileBytes(Workspace("image00.tii")), ImageLike(30000, 5));
  }
}

// Names that would leave the workspace, or are no names at all, are refused before any
// file is made; extraction stops there.
TEST_F(ExtractionTest, UnsafeMemberNamesAreRefused) {
  fs::create_directory(temp_ / "ws/sub");
  const std::vector<std::string> names = {
      "../evil.tii",          "sub/evil.tii", "/tmp/evil.tii", "C:evil.tii", "..", ".", "",
      std::string("a\x01", 2)};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const ExtractionResult result =
        Extract(ApstArchive({{name, ImageLike(1000, 1)}, {"image01.tii", ImageLike(1000, 2)}}));
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.code, kExtractBadName);
    EXPECT_EQ(result.failed_member, name);
  }
  EXPECT_FALSE(fs::exists(temp_ / "evil.tii"));
  EXPECT_FALSE(fs::exists(temp_ / "ws/sub/evil.tii"));
  EXPECT_EQ(WorkspaceFiles(), (std::vector<std::string>{"sub"}));

  // A name without its NUL within 260 bytes, and a NameLength of 0.
  TestMember unterminated{std::string(300, 'a'), ImageLike(1000, 1)};
  unterminated.terminate = false;
  EXPECT_EQ(Extract(ApstArchive({unterminated})).code, kExtractBadName);
  TestMember nameless{"", ImageLike(1000, 1)};
  nameless.terminate = false;
  EXPECT_EQ(Extract(ApstArchive({nameless})).code, kExtractBadName);
  EXPECT_EQ(WorkspaceFiles(), (std::vector<std::string>{"sub"}));
}

TEST_F(ExtractionTest, OverlongPathsAndUncreatableFilesStopTheExtraction) {
  const std::string archive_path = temp_ / "archive.apst";
  testing::WriteFileBytes(archive_path, ApstArchive({{"image00.tii", ImageLike(5000, 1)}}));
  const std::string deep =
      temp_.path() + "/" + std::string(520 - temp_.path().size() - 12, 'd') + "/";
  ExtractionResult result = ApstExtractAll(host_, nullptr, archive_path, deep);
  EXPECT_EQ(result.code, kExtractPathTooLong);
  EXPECT_EQ(result.failed_member, "image00.tii");

  host_.FailCreate(Workspace("image01.tii"));
  result = Extract(ApstArchive({{"image00.tii", ImageLike(5000, 1)},
                                {"image01.tii", ImageLike(5000, 2)},
                                {"image02.tii", ImageLike(5000, 3)}}));
  EXPECT_EQ(result.code, kExtractCannotCreate);
  EXPECT_EQ(result.failed_member, "image01.tii");
  EXPECT_EQ(WorkspaceFiles(), (std::vector<std::string>{"image00.tii"}));
}

// Sizes in the archive are not covered by the package checksum: whatever a member decodes to
// or declares, no image grows past the largest floppy.
TEST_F(ExtractionTest, ImagesStopAtTheLargestFloppySize) {
  std::vector<TestMember> apst = {{"image00.tii", std::vector<uint8_t>(3 * kMaxFloppyImageBytes)}};
  ExtractionResult result = Extract(ApstArchive(apst));
  EXPECT_EQ(result.code, kExtractTooLarge);
  EXPECT_EQ(result.failed_member, "image00.tii");
  EXPECT_FALSE(fs::exists(Workspace("image00.tii")));  // no part of it is taken for an image
  apst[0].data.resize(kMaxFloppyImageBytes);
  EXPECT_TRUE(Extract(ApstArchive(apst)).complete);
  fs::remove(Workspace("image00.tii"));

  state_.Header.ArchiveKind = 0;
  std::vector<LzhMember> lha(1);
  lha[0].name = "image00.tii";
  lha[0].data = ImageLike(1000, 1);
  std::vector<uint8_t> archive = WriteLh0Archive(lha);
  testing::PutLe32(archive, 11, 0xA0000000);  // 2.5 GiB
  uint8_t sum = 0;
  for (size_t i = 2; i < size_t{2} + archive[0]; ++i) sum = static_cast<uint8_t>(sum + archive[i]);
  archive[1] = sum;
  result = Extract(archive);
  EXPECT_EQ(result.code, kLzhTooLarge);
  EXPECT_EQ(result.failed_member, "image00.tii");
  EXPECT_FALSE(fs::exists(Workspace("image00.tii")));
}

TEST_F(ExtractionTest, ADestinationWithoutSeparatorIsTheOutputFile) {
  const std::string archive_path = temp_ / "archive.apst";
  testing::WriteFileBytes(archive_path, ApstArchive({{"image00.tii", ImageLike(5000, 1)},
                                                     {"image01.tii", ImageLike(6000, 2)}}));
  const ExtractionResult result = ApstExtractAll(host_, nullptr, archive_path, temp_ / "one.img");
  EXPECT_TRUE(result.complete);
  EXPECT_EQ(ReadFileBytes(temp_ / "one.img"), ImageLike(6000, 2));
}

TEST_F(ExtractionTest, ProgressStepCountsOnlyArchiveReads) {
  ExtractionProgress progress;
  progress.ui = &ui_;
  progress.total = 1000;
  ArchiveProgressStep(&progress, 0, 500);  // written bytes change nothing
  EXPECT_TRUE(ui_.ProgressPositions(kControlExtractionBar).empty());
  ArchiveProgressStep(&progress, 1, 333);
  ArchiveProgressStep(&progress, 1, 2048);  // past the end: the bar stays full
  EXPECT_EQ(ui_.ProgressPositions(kControlExtractionBar), (std::vector<int>{33, 238}));
  // Large archives do not wrap the percentage.
  progress.total = 100000000;
  progress.done = 0;
  ArchiveProgressStep(&progress, 1, 99000000);
  EXPECT_EQ(ui_.ProgressPositions(kControlExtractionBar).back(), 99);
  progress.total = 0;
  ArchiveProgressStep(&progress, 1, 1);
  EXPECT_EQ(ui_.ProgressPositions(kControlExtractionBar).size(), 3u);
}

TEST_F(ExtractionTest, LhaPackagesExtractThroughTheLhaReader) {
  state_.Header.ArchiveKind = 0;
  std::vector<LzhMember> members(2);
  for (unsigned i = 0; i < 2; ++i) {
    members[i].name = "image0" + std::to_string(i) + ".tii";
    members[i].data = ImageLike(100000, i + 7);
    members[i].dos_time_date = 0x373B8707;
  }
  const ExtractionResult result = Extract(WriteLh0Archive(members));
  EXPECT_TRUE(result.complete) << result.code << " " << result.failed_member;
  EXPECT_EQ(ReadFileBytes(Workspace("image00.tii")), members[0].data);
  EXPECT_EQ(ReadFileBytes(Workspace("image01.tii")), members[1].data);
  const std::vector<int> positions = ui_.ProgressPositions(kControlExtractionBar);
  ASSERT_FALSE(positions.empty());
  EXPECT_GE(positions.back(), 99);  // the reader reports whole points of the archive read
}

}  // namespace
}  // namespace floppyset
