// The input is a whole program file, run as the Linux tool runs it, in the mode its last byte
// picks: the reports with the set's account (/L /P /A, what --test judges), the unpack run
// (/D, destination typed), the floppy run (/F) onto image-file drives, or the intact images
// exported after extraction (--images); an input of odd length has its names read as a UTF-8
// locale reads them. The Ui says yes to everything but Retry. Both integrity
// sums are made to match first, so that mutations reach the archive and the images (a mismatch is
// a refusal; fuzz_package covers the sums), and DiskCount is kept below 256 (Prepare).
// Every run must keep to these bounds, else abort():
//  - nothing is made or changed outside the destination and the workspace;
//  - the workspace takes at most the archive and the images (ImageSizeLimit each), an unpack
//    at most twice the images, a floppy run one 1.44 MB file per disk, an export the images;
//  - the workspace is gone at the end;
//  - a run ends as done only for a whole set, and a report or unpack only for a sound one,
//    with a folder for every disk, a full-size file for every floppy or every image exported;
//    a finished unpack wrote exactly the bytes of the images' files;
//  - the JSON reports of the Linux tool are JSON, their strings UTF-8.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "app/program.h"
#include "floppy/image_file_drive.h"
#include "fuzz_support.h"
#include "image/disk_image.h"
#include "image/flat_image.h"
#include "json_check.h"
#include "package/extraction.h"
#include "package/integrity.h"
#include "package/package_header.h"
#include "report/json_report.h"
#include "support/fault_host.h"
#include "workspace/workspace.h"

namespace floppyset::fuzzing {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_program: %s\n", what.c_str());
  std::abort();
}

bool Below(const std::string& path, const std::string& dir) {
  return path.rfind(dir + "/", 0) == 0 || path == dir;
}

// Refuses (aborts on) any change outside the two places a run may write to.
class FenceHost : public testing::FaultHost {
 public:
  std::string temp_dir, destination;

  std::unique_ptr<File> CreateForWrite(const std::string& path) override {
    return FaultHost::CreateForWrite(Checked(path));
  }
  CreateDirectoryResult MakeDirectory(const std::string& path) override {
    return FaultHost::MakeDirectory(Checked(path));
  }
  bool SetAttributes(const std::string& path, uint32_t attributes) override {
    return FaultHost::SetAttributes(Checked(path), attributes);
  }
  bool SetFileTimes(const std::string& path, FileTime c, FileTime a, FileTime w) override {
    return FaultHost::SetFileTimes(Checked(path), c, a, w);
  }
  bool RemoveFile(const std::string& path) override { return FaultHost::RemoveFile(Checked(path)); }
  std::optional<int> RunProcess(const std::string&, const std::vector<std::string>&,
                                const std::string&) override {
    Fail("a process was started");
  }

 private:
  const std::string& Checked(const std::string& path) const {
    if (!Below(path, temp_dir) && !Below(path, destination)) Fail("change outside: " + path);
    return path;
  }
};

class YesUi : public SilentUi {
 public:
  std::string destination;
  Answer ShowMessage(const MessageRequest& request) override {
    switch (request.buttons) {
      case Buttons::kYesNo:
        return Answer::kYes;
      case Buttons::kRetryCancel:
        return Answer::kCancel;
      default:
        return Answer::kOk;
    }
  }
  bool RunDestinationDialog(const std::function<bool(const std::string&)>& on_ok) override {
    return on_ok(destination) || on_ok(destination);  // OK is posted again after a creation
  }
  int RunWorkDialog(int dialog, const std::function<int()>& work) override {
    const int result = work();
    if (after_work) after_work(dialog);
    return result;
  }
  std::function<void(int)> after_work;
};

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}
void PutLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> 8 * i);
}

// The expected sums of the package header set to those of the file, where it has one, and
// DiskCount kept below 256: a set of 65,535 missing images is reported line by line, which
// takes seconds under the sanitizers, and each image's account is the same code at any count.
void Prepare(std::vector<uint8_t>& b) {
  if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return;
  const uint64_t optional = uint64_t{Le32(b, 60)} + 24;
  if (optional + 68 > b.size()) return;
  const uint64_t header = Le32(b, optional + 56);
  if (header + kPackageHeaderSize > b.size()) return;
  const uint64_t archive = header + kPackageHeaderSize + (b[header + 48] | b[header + 49] << 8) +
                           (b[header + 50] | b[header + 51] << 8) +
                           (b[header + 52] | b[header + 53] << 8);
  if (archive > b.size()) return;
  b[header + 23] = 0;  // DiskCount's high byte
  PutLe32(b, header + 40, Le32(b, optional + 64));
  PutLe32(b, header + 44, PackageSum(b.data() + archive, b.size() - archive));
}

// Every image exported is its workspace image, byte for byte; the others are not there.
void CheckExport(const RunState& state, const ImageFileDrives& drives, const ImageExport& done) {
  uint32_t there = 0;
  for (uint32_t index = 0; index < state.Images.size(); ++index) {
    const std::string path = drives.DiskPath(index + 1);
    if (!fs::exists(path)) continue;
    ++there;
    if (state.Images[index].condition != ImageCondition::kIntact) Fail("a lost image exported");
    std::ifstream a(path, std::ios::binary),
        b(DiskImagePath(state.WorkspaceDir, index), std::ios::binary);
    if (!std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {})) {
      Fail("image " + std::to_string(index + 1) + " was exported unlike itself");
    }
  }
  if (there != done.written) Fail("the export's count is not what it wrote");
}

void CheckJson(const std::string& document) {
  if (!JsonCheck::Valid(document)) Fail("a JSON report that is not JSON: " + document);
}

// The bytes of every file of the set's intact images, as their directories or records say.
uint64_t FileBytes(const RunState& state, Host& host) {
  struct Sum : FatTreeVisitor {
    uint64_t bytes = 0;
    void File(const DirectoryEntry& file) override { bytes += file.size(); }
  } sum;
  for (uint32_t index = 0; index < state.Images.size(); ++index) {
    if (state.Images[index].condition != ImageCondition::kIntact) continue;
    const std::string path = DiskImagePath(state.WorkspaceDir, index);
    if (state.PackageUnpackMode != 0) {
      const FlatImage flat(host, path);
      for (auto* r = flat.FirstRecord(); r; r = flat.NextRecord(r)) sum.bytes += r->DataSize();
    } else {
      DiskImage(host, path).WalkTree(sum);
    }
  }
  return sum.bytes;
}

enum class Mode { kReport, kUnpack, kFloppy, kImages };

void RunOnce(Sandbox& sandbox, Mode mode, uint64_t input_size) {
  const std::string out = sandbox.FreshDestination();
  FenceHost host;
  host.temp_dir = out + "/tmp";
  host.destination = out + "/dest";
  fs::create_directory(host.temp_dir);
  host.SetTempDirectory(host.temp_dir);
  host.AddWriteRoot(host.destination);
  YesUi ui;
  ui.destination = host.destination;
  ImageFileDrives drives(host, host.destination);
  if (mode == Mode::kFloppy) fs::create_directory(host.destination);
  RunState state;
  state.ProgramPath = sandbox.input_path();
  state.RequirePlausiblePackage = true;
  if (input_size % 2) state.TextOemCodePage = 437, state.TextAnsiCodePage = 1252;  // UTF-8 names
  ImageExport exported;
  uint64_t file_bytes = 0;
  ui.after_work = [&](int dialog) {
    if (dialog != kDialogBannerExtraction && dialog != kDialogPlainExtraction) return;
    if (mode == Mode::kUnpack) file_bytes = FileBytes(state, host);
    if (mode == Mode::kReport) CheckJson(JsonReport(state, host, JsonCodePages()));
    if (mode == Mode::kImages) {
      exported = ExportIntactImages(host, state.WorkspaceDir, state.Images, host.destination);
      CheckExport(state, drives, exported);
    }
  };
  static const char* const kSwitches[] = {" /L /P /A", " /D", " /F", " /P"};
  RunOutcome outcome =
      RunProgram(state, host, ui, drives, state.ProgramPath + kSwitches[int(mode)]);
  if (mode == Mode::kImages && exported.written < state.Header.DiskCount) {
    outcome.ending = RunEnding::kFailed;
  }

  const uint64_t disks = state.Header.DiskCount;
  const uint64_t workspace = host.BytesWritten(host.temp_dir + "/");
  const uint64_t images = workspace - host.BytesWritten(ArchivePath(state.WorkspaceDir));
  if (workspace > input_size + disks * ImageSizeLimit(state.PackageUnpackMode)) {
    Fail("the workspace took " + std::to_string(workspace) + " bytes");
  }
  const uint64_t written = host.BytesWritten(host.destination + "/");
  const uint64_t allowed = mode == Mode::kUnpack   ? 2 * images
                           : mode == Mode::kFloppy ? disks * kFloppyDiskBytes
                           : mode == Mode::kImages ? images
                                                   : 0;
  if (written > allowed) Fail("the destination took " + std::to_string(written) + " bytes");
  if (!host.ListDirectory(host.temp_dir).empty()) Fail("the workspace was left");
  sandbox.CheckNothingEscaped();

  if (mode == Mode::kReport) {
    CheckJson(JsonFailure(state, true, outcome.reason, 1, JsonCodePages()));
  }
  if (outcome.ending != RunEnding::kDone) return;
  if (outcome.images.size() != disks || !IsWhole(outcome.images)) Fail("done, but not whole");
  if (mode != Mode::kFloppy && !IsSound(outcome.images)) Fail("done, but not sound");
  if (mode == Mode::kUnpack && written != file_bytes) {
    Fail("done, but " + std::to_string(written) + " bytes unpacked of " +
         std::to_string(file_bytes));
  }
  for (uint64_t disk = 1; disk <= disks && mode != Mode::kReport; ++disk) {
    std::error_code error;
    const bool there =
        mode == Mode::kUnpack
            ? fs::is_directory(host.destination + "/disk" + std::to_string(disk), error)
        : mode == Mode::kFloppy
            ? fs::file_size(drives.DiskPath(uint32_t(disk)), error) == kFloppyDiskBytes
            : fs::exists(drives.DiskPath(uint32_t(disk)), error);
    if (!there) Fail("done, but disk " + std::to_string(disk) + " is not there");
  }
}

}  // namespace
}  // namespace floppyset::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace floppyset::fuzzing;
  static Sandbox sandbox;
  std::vector<uint8_t> program(data, data + size);
  floppyset::fuzzing::Prepare(program);
  sandbox.WriteInput(program.data(), size);
  RunOnce(sandbox, size == 0 ? Mode::kReport : Mode(data[size - 1] % 4), size);
  return 0;
}
