// Decoder for the PKWARE Data Compression Library "implode" format, binary literal mode.
//
// All input arrives through a read callback in blocks of at most 2048 bytes and all output
// leaves through a write callback in blocks of 4096 bytes, followed by one final block of 0 to
// 4095 bytes. The decoder keeps its whole state in a work area that the caller allocates and
// allocates nothing itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace floppyset {

inline constexpr uint32_t kExplodeReadSize = 2048;   // capacity offered to every read
inline constexpr uint32_t kExplodeWriteSize = 4096;  // size of every write but the last

// Results of Explode.
enum ExplodeResult : uint32_t {
  kExplodeOk = 0,             // end-of-stream marker reached, all output written
  kExplodeBadDictionary = 1,  // dictionary-size byte not 4, 5 or 6
  kExplodeBadMode = 2,        // literal-mode byte not 0 (binary)
  kExplodeTooShort = 3,       // the first read delivered 4 bytes or fewer
  kExplodeCorrupt = 4,        // input ended early or is corrupt; output so far was written
};

// Places up to *size bytes (always 2048 on entry) in buffer and returns how many; 0 = no more.
using ExplodeReadFn = uint32_t (*)(uint8_t* buffer, uint32_t* size, void* param);
// Takes the *size bytes at buffer (0 to 4096).
using ExplodeWriteFn = void (*)(uint8_t* buffer, uint32_t* size, void* param);

// The decoder's state. The caller allocates it (it is about 33 KB; heap, not stack, in
// constrained threads) and may reuse it for any number of streams.
struct ExplodeWorkArea {
  // Output window: the last 4096 bytes already written (the longest distance), room for
  // several 4096-byte blocks, then room for the longest repetition and a copy's overrun.
  static constexpr size_t kHistorySize = 4096;
  static constexpr size_t kSpanSize = 6 * kExplodeWriteSize;
  static constexpr size_t kSlackSize = 576;

  uint8_t window[kHistorySize + kSpanSize + kSlackSize];
  uint8_t input[kExplodeReadSize];
};

// The archive reader reserves 36312 bytes for the work area.
static_assert(sizeof(ExplodeWorkArea) <= 36312);

// Decodes one stream; returns an ExplodeResult (0 to 4).
uint32_t Explode(ExplodeReadFn read, ExplodeWriteFn write, ExplodeWorkArea* work, void* param);

}  // namespace floppyset
