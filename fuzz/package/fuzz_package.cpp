// Arbitrary bytes after a first byte that picks the use: even, a program file through
// ReadPackageHeader and the package checksum; odd, an archive extracted into a workspace as a
// three-disk set (bit 1: LHA, bit 2: salvage). Nothing may be written outside the workspace,
// and the workspace never holds more than the set's images. Also: the chunked package sum
// agrees with the plain s * 3 + b loop, a header survives encoding, and the quick probe of
// the Linux tool agrees with the full read on what is a setup program.
#include <algorithm>
#include <array>

#include "fuzz_support.h"
#include "package/extraction.h"
#include "package/integrity.h"
#include "package/package_header.h"
#include "package/package_reader.h"
#include "platform/posix/posix_host.h"

namespace {

using namespace floppyset;

void CheckPackageSum(const uint8_t* data, size_t size) {
  uint32_t plain = 0;
  for (size_t i = 0; i < size; ++i) plain = plain * 3 + data[i];
  const size_t half = size / 2;  // also continued from a sum
  if (PackageSum(data, size) != plain ||
      PackageSum(data + half, size - half, PackageSum(data, half)) != plain) {
    std::abort();
  }
}

std::array<uint8_t, kPackageHeaderSize> RoundTrip(const PackageHeader& header) {
  uint8_t bytes[kPackageHeaderSize];
  const auto encoded = EncodePackageHeader(header);
  std::copy(encoded.begin(), encoded.end(), bytes);
  return EncodePackageHeader(DecodePackageHeader(bytes));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace floppyset;
  static fuzzing::Sandbox sandbox;
  static PosixHost host;
  if (size-- == 0) return 0;
  fuzzing::SilentUi ui;
  RunState state;
  state.ProgramPath = sandbox.input_path();
  state.WorkspaceDir = sandbox.FreshDestination() + "/";
  const uint8_t use = *data++;
  if (use & 1) {
    std::ofstream(ArchivePath(state.WorkspaceDir), std::ios::binary)
        .write(reinterpret_cast<const char*>(data), size);
    ExtractionPlan plan;
    plan.archive_path = ArchivePath(state.WorkspaceDir);
    plan.workspace_dir = state.WorkspaceDir;
    plan.apst = (use & 2) == 0;
    plan.disk_count = 3;
    plan.salvage = (use & 4) != 0;
    const ExtractionResult result = ExtractPackageImages(plan, host, ui);
    if (result.images.size() != plan.disk_count) std::abort();
    if (host.ListDirectory(state.WorkspaceDir).size() > plan.disk_count + 1) std::abort();
  } else {
    sandbox.WriteInput(data, size);
    CheckPackageSum(data, size);
    state.RequirePlausiblePackage = (use & 2) != 0;
    if (ReadPackageHeader(state, host, ui) && state.PackageFound) {
      if (EncodePackageHeader(state.Header) != RoundTrip(state.Header)) std::abort();
      if (HoldsPlausiblePackage(host, state.ProgramPath) != state.PackagePlausible) std::abort();
      if (state.FinalMessage.size() >= kFinalMessageLimit) std::abort();
      ArchiveChecksum(state.WorkspaceDir, host);
    }
  }
  sandbox.CheckNothingEscaped(true);
  return 0;
}
