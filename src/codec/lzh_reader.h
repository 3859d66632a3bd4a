// Extracts every member of an LHA archive (methods -lh0-, -lh4-, -lh5-, level-1 headers; their
// extended headers are stepped over) into a destination directory, checking each member's
// CRC-16, which is read 5 bytes before the end of the header, where such headers keep it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/byte_stream.h"

namespace floppyset {

// Called with the percentage of the archive read so far, each time it rises by a point or more.
using LzhProgressFn = void (*)(void* param, uint16_t percentage);

// Results of LzhReader::ExtractAll. Extraction stops at the first member that fails; members
// already extracted stay.
enum LzhResult : int {
  kLzhOk = 0,  // every member extracted, or the archive is empty (a single 0 byte or nothing)
  kLzhCannotOpenArchive = 1,  // the archive cannot be opened (nothing is extracted) or a read
                              // failed where the next header was expected
  kLzhBadHeader = 3,          // header checksum wrong, header too small for its fixed fields,
                              // a name running past the header, or the archive ends inside a
                              // header; nothing of that member is written
  kLzhBadData = 4,       // the CRC-16 differs, a write failed, or the compressed data is corrupt or
                         // short (decoding stops once it has run well past the data's end); the
                         // member's file stays as written
  kLzhCannotCreate = 5,  // the member's file cannot be created
  kLzhBadMethod = 6,     // the method is not -lh0-, -lh4- or -lh5-; an empty file of the
                         // member's name stays behind
  kLzhUnsafeHeader = 7,  // a name that is not a plain file name; the member is stepped over
  kLzhTooLarge = 9,      // the member's size is above the reader's limit; nothing is written
  kLzhBadLevel = 10,     // a header of level 0 or 2, which this reader does not read
  kLzhSkipped = 11,      // (to MemberDone only) the caller wanted no file of this member
};

// What the reader asks its caller about each member.
struct MemberHooks {
  // Makes the file a member is written to (its name from output_name); null when it cannot
  // be made.
  std::function<std::unique_ptr<ByteSink>(const std::string& file)> create;
  // The file name to write the member to, below the destination; "" skips it unwritten.
  // Unset: every member is written under its stored name.
  std::function<std::string(const std::string& stored_name)> output_name;
  // After each member: its stored name ("" when the header had none), the file written (""
  // when none) and the result, kLzhOk or a failure (kLzhSkipped for a member not wanted).
  std::function<void(const std::string& stored_name, const std::string& file, int result)>
      member_done;
};

class LzhReader {
 public:
  // Reads `archive` (null: it could not be opened) and makes each member's file through
  // hooks.create. A member whose stored size is above `member_limit` is refused before its
  // file is made.
  LzhReader(ByteSource* archive, MemberHooks hooks, LzhProgressFn progress, void* param,
            uint64_t member_limit = UINT64_MAX);
  ~LzhReader();
  LzhReader(const LzhReader&) = delete;
  LzhReader& operator=(const LzhReader&) = delete;

  // Extracts all members; an LzhResult. Members whose names are not plain file names, and
  // members the hooks skip, are stepped over (their sizes are known); any other failure ends
  // the extraction unless `salvage` is set, in which case the reader goes on at the next
  // member: behind the failed one's data, or at the next byte that starts a sound header.
  // With salvage the result is the first failure met.
  int ExtractAll(bool salvage = false);
  // After ExtractAll: whether it ended before the end of the archive, and at which member
  // (its stored name, "" when its header had none) with which result.
  bool Stopped() const;
  const std::string& StopMember() const;
  int StopCode() const;
  // The name of the member being (or last) extracted; empty before the first header.
  const std::string& CurrentMemberName() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace floppyset
