// The report mode: the /A, /P and /L reports written into the report window.
#pragma once

#include "app/run_state.h"
#include "host/host.h"
#include "ui/ui.h"

namespace floppyset {

// Banner, then /A, /P and /L in that order, each followed by the separator line.
void ReportThread(const RunState& state, Host& host, Ui& ui);

// Message 530 from the kept checksum values ("OK" or "Failed").
void AuthenticityReport(const RunState& state, Ui& ui);
// Message 533: product name, disk count, creation time in local time.
void PackageInfoReport(const RunState& state, Host& host, Ui& ui);
// Every disk image's heading and files, FAT12 depth-first or flat records.
void FileListReport(const RunState& state, Host& host, Ui& ui);

}  // namespace floppyset
