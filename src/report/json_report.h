// The reports as one JSON document, for scripts that catalogue many sets.
#pragma once

#include <string>

#include "app/run_state.h"
#include "host/host.h"

namespace floppyset {

// The layout of the documents; raised when a member changes meaning or goes.
inline constexpr int kJsonSchema = 1;

struct JsonCodePages {
  int ansi = 1252;  // texts of the package header and paths of flat images
  int oem = 437;    // names on FAT12 disks
};

// The document for the reports selected in state.ReportFlags (/A: "integrity"; /P: product,
// disk count, creation time and "package"; /L: "images"), read from the extracted images.
std::string JsonReport(const RunState& state, Host& host, JsonCodePages pages);

// The document of a run that ended without a report: whether the file is a setup program,
// the reason and the exit status, and the header fields when the package header was read.
std::string JsonFailure(const RunState& state, bool setup, const std::string& reason,
                        int exit_status, JsonCodePages pages);

// `text` as a JSON string literal (quotes, backslashes and control characters escaped);
// `text` must be UTF-8.
std::string JsonString(const std::string& text);

}  // namespace floppyset
