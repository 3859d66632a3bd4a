// Turning the workspace archive "image.tii" into the disk images "image00.tii"... : the
// APST reader with its "$PKF" imploded members, the LHA kind through LzhReader, and the
// progress reports that keep the extraction dialog alive.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/outcome.h"
#include "codec/lzh_reader.h"
#include "host/host.h"
#include "ui/ui.h"

namespace floppyset {

struct ExtractionResult {
  bool complete = false;
  // The first member that failed (its stored name, possibly unsafe: show it, never open it).
  std::string failed_member;
  // Why: the decoder's result (Explode 1..4) or one of kExtract...
  int code = 0;
  // Extraction ended before the end of the archive; `stopped_at` names the member and why.
  bool stopped = false;
  std::string stopped_at;
  // The disk images of the set, in disk order (ExtractPackageImages only).
  SetAccount images;
  // Members stepped over, each with the reason (stored names: show them, never open them).
  std::vector<std::string> skipped_members;
};

// Failure codes beside the decoders' own.
inline constexpr int kExtractNoArchive = 100;     // missing, short, or not an archive
inline constexpr int kExtractNoMembers = 101;     // no member header where the first belongs
inline constexpr int kExtractBadName = 102;       // not a plain file name, or not terminated
inline constexpr int kExtractCannotCreate = 103;  // the output file could not be made
inline constexpr int kExtractReadFailed = 104;    // seek or read of the archive failed
inline constexpr int kExtractWriteFailed = 105;   // the output could not be written
inline constexpr int kExtractCrcMismatch = 106;   // decoded bytes differ from MemberCrc
inline constexpr int kExtractNoWorkspace = 107;   // WorkspaceDir is empty
inline constexpr int kExtractPathTooLong = 108;   // destination + name over 519 characters
inline constexpr int kExtractTooLarge = 109;      // the image would pass its size limit
inline constexpr int kExtractAsciiMode = 110;     // imploded in ASCII mode, which is not read

// No disk image grows past these, whatever the archive's sizes say (they are not covered by
// the package checksum): a FAT12 image is at most a 2.88 MB floppy, and a flat image, which
// holds the files of one disk directory, at most 64 MiB. Extraction stops with
// kExtractTooLarge (kLzhTooLarge) at the limit, writes nothing past it and leaves no file.
inline constexpr uint64_t kMaxFloppyImageBytes = 2949120;
inline constexpr uint64_t kMaxFlatImageBytes = uint64_t{64} << 20;
// The files of `dir` on the host, made as a reader's hooks ask for them.
std::function<std::unique_ptr<ByteSink>(const std::string&)> FilesIn(Host& host,
                                                                     const std::string& dir);

// The limit for the images of a package: flat when its stored UnpackMode is non-zero.
uint64_t ImageSizeLimit(uint16_t package_unpack_mode);
// What went wrong with a member, in a few words: an APST failure code (Explode's 1..4 or
// kExtract...), or with `lha` an LzhResult.
std::string ExtractionFailureText(int code, bool lha = false);

// What the extraction of a package's disk images is asked to do.
struct ExtractionPlan {
  std::string archive_path;   // the workspace copy of the archive
  std::string workspace_dir;  // ends in a separator
  bool apst = true;           // the APST kind; else LHA
  uint32_t disk_count = 0;    // the images are the members "image00.tii" ... below this
  uint64_t limit = kMaxFloppyImageBytes;
  // Go on past a damaged member to the members behind it.
  bool salvage = false;
};

// Extracts the plan's disk images into its workspace, reporting progress to control 153 of
// the window on top. Only members named as the set's images are written (a name in another
// case counts), each once; any other member is stepped over unwritten, so the workspace holds
// at most disk_count images. A member with an unsafe name is stepped over and the members
// behind it are still read. A damaged member ends the extraction (unless `salvage`); its
// file is removed, so that no damaged image is ever taken for one.
ExtractionResult ExtractPackageImages(const ExtractionPlan& plan, Host& host, Ui& ui);

// --- progress ---------------------------------------------------------------------------

// The progress function of the APST kind: direction 1 = bytes read from the archive,
// direction 0 = bytes written to a member file.
using ArchiveProgressFn = void (*)(void* param, uint16_t direction, uint32_t count);

// The progress context of the APST kind.
struct ExtractionProgress {
  Ui* ui = nullptr;
  uint32_t total = 0;  // archive size
  uint32_t done = 0;   // archive bytes consumed
};

// For direction 1: done += count; percent = done * 100 / total (32-bit) to control 153,
// then one message is pumped. `context` is an ExtractionProgress.
void ArchiveProgressStep(void* context, uint16_t direction, uint32_t count);
// The progress function of the LHA kind: `ui` is a Ui; percentage to control 153, one pump.
void SetExtractionProgress(void* ui, uint16_t percentage);

// --- the APST archive -------------------------------------------------------------------

inline constexpr uint32_t kApstMagic = 0x54535041;    // "APST"
inline constexpr uint32_t kMemberMagic = 0x464B5024;  // "$PKF"
inline constexpr size_t kApstHeaderSize = 8;
inline constexpr size_t kMemberHeaderSize = 24;
// Member names are read into 260 bytes and must end with their NUL within them.
inline constexpr size_t kMemberNameCapacity = 260;
// The output path buffer: at most 519 characters and the NUL.
inline constexpr size_t kOutputPathCapacity = 520;
// Archive reads are 2048 bytes, as the decoder asks.
inline constexpr uint32_t kArchiveReadBlock = 2048;

struct ApstMemberHeader {
  uint32_t Magic = 0;
  uint32_t MemberCrc = 0;
  uint16_t NameLength = 0;
  uint32_t PackedSize = 0;
  uint32_t FileAttributes = 0;
  uint32_t ModifiedTime = 0;  // seconds since 1970-01-01 UTC
};

// The reader's position in the archive. Positions are 64-bit so that no stored size can
// wrap them back to an earlier member.
struct MemberCursor {
  File* stream = nullptr;
  ApstMemberHeader header;
  uint64_t header_position = 0;
  uint64_t name_position = 0;
  uint64_t data_position = 0;
  uint64_t next_position = 0;
};

// The parameter block handed through Explode to ReadArchiveBlock and WriteOutputBlock.
struct ExplodeContext {
  File* input = nullptr;
  File* output = nullptr;
  uint32_t crc = 0xFFFFFFFF;
  ArchiveProgressFn progress = nullptr;
  void* progress_param = nullptr;
  bool write_failed = false;
  uint64_t written = 0;
  uint64_t limit = UINT64_MAX;  // bytes the output may hold
  bool too_large = false;       // the stream went past `limit`; reads then end the input
};

// Opens `path` and returns it only when its first 4 of 8 bytes equal `magic`.
std::unique_ptr<File> ApstOpen(Host& host, uint32_t magic, const std::string& path);
bool ApstClose(std::unique_ptr<File> stream);
bool ApstFirstMember(MemberCursor& cursor, File& stream);
// Reads the member header at the next position; false at the end of the archive.
bool ApstNextMember(MemberCursor& cursor);
// Reads min(NameLength, capacity) bytes of the name into `name`; true when all were read.
bool ApstReadMemberName(MemberCursor& cursor, std::string& name, size_t capacity);
// Extracts the current member: into destination + its name when `destination` ends in a
// separator (or is empty), else into the file `destination`. 0 or a failure code.
int ApstExtractMember(MemberCursor& cursor, Host& host, const std::string& destination,
                      ArchiveProgressFn progress, void* progress_param,
                      uint64_t limit = kMaxFloppyImageBytes);
// Explodes from the input's position into the output; the decoder's result (0 = success)
// with the CRC-32 of the written bytes in `crc`. kExtractWriteFailed when a write failed,
// kExtractTooLarge when the output would pass `limit` bytes (nothing past it is written).
int ExplodeFile(File& input, File& output, uint32_t& crc, ArchiveProgressFn progress,
                void* progress_param, uint64_t limit = kMaxFloppyImageBytes);
// The decoder's stream callbacks; `param` is an ExplodeContext.
uint32_t ReadArchiveBlock(uint8_t* buffer, uint32_t* size, void* param);
void WriteOutputBlock(uint8_t* buffer, uint32_t* size, void* param);

// Extracts the members of an APST archive into `destination_dir`, reporting progress to `ui`
// (may be null). The hooks choose each member's file and hear how it went (unset: every
// member under its stored name). A member whose name is not a plain file name is stepped
// over; any other failure ends the extraction unless `salvage` is set, in which case the
// reader goes on behind the failed member, or at the next sound member header.
ExtractionResult ApstExtractAll(Host& host, Ui* ui, const std::string& archive_path,
                                const std::string& destination_dir,
                                uint64_t limit = kMaxFloppyImageBytes,
                                const MemberHooks& hooks = {}, bool salvage = false);

}  // namespace floppyset
