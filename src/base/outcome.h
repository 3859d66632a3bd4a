// What a run gives back: the state of every disk image of the set and how the run ended.
// The lower layers fill it; each front end turns it into its own form once (the Linux exit
// status and JSON, the Win32 closing message).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace floppyset {

enum class ImageCondition {
  kIntact,   // extracted whole, its CRC checked
  kDamaged,  // extracted, but its data (or its file system) cannot be trusted
  kMissing,  // not in the archive, or not reached
};

struct ImageAccount {
  ImageCondition condition = ImageCondition::kMissing;
  std::string reason;  // why it is damaged or missing, in words; empty when intact
  // An intact image whose file system is damaged all the same (cross-linked clusters, a
  // broken directory), and the files that would not come out whole, in words.
  std::vector<std::string> faults;
};

inline ImageAccount MakeAccount(ImageCondition condition, std::string reason = {}) {
  ImageAccount account;
  account.condition = condition;
  account.reason = std::move(reason);
  return account;
}

// One account per disk of the set, in disk order.
using SetAccount = std::vector<ImageAccount>;

inline bool IsWhole(const SetAccount& images) {
  for (const ImageAccount& image : images) {
    if (image.condition != ImageCondition::kIntact) return false;
  }
  return true;
}

// Whole, and no fault in any image's file system.
inline bool IsSound(const SetAccount& images) {
  for (const ImageAccount& image : images) {
    if (image.condition != ImageCondition::kIntact || !image.faults.empty()) return false;
  }
  return true;
}

inline bool AnyIntact(const SetAccount& images) {
  for (const ImageAccount& image : images) {
    if (image.condition == ImageCondition::kIntact) return true;
  }
  return false;
}

enum class RunEnding {
  kDone,       // the run or report did what was asked, for the whole set
  kHelp,       // the help was shown
  kUsage,      // a bad switch was refused
  kRefused,    // not run: another instance, no package, integrity failed, no temporary space
  kCancelled,  // the user cancelled
  kFailed,     // something of the set was lost, or the run could not finish
};

struct RunOutcome {
  RunEnding ending = RunEnding::kDone;
  std::string reason;         // for a refusal or failure, in words
  bool reason_shown = false;  // the user was shown it; otherwise the closing message is it
  SetAccount images;          // after extraction; empty before it
};

inline RunOutcome Ended(RunEnding ending, std::string reason = {}, bool reason_shown = true) {
  RunOutcome outcome;
  outcome.ending = ending;
  outcome.reason = std::move(reason);
  outcome.reason_shown = reason_shown;
  return outcome;
}

}  // namespace floppyset
