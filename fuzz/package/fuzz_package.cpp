// Arbitrary bytes after a first byte that picks the use: even, a program file through
// ReadPackageHeader and the package checksum; odd, an APST archive extracted into a
// workspace. Nothing may be written outside the workspace.
#include "fuzz_support.h"
#include "package/extraction.h"
#include "package/integrity.h"
#include "package/package_reader.h"
#include "platform/posix/posix_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace floppyset;
  static fuzzing::Sandbox sandbox;
  static PosixHost host;
  if (size-- == 0) return 0;
  fuzzing::SilentUi ui;
  RunState state;
  state.ProgramPath = sandbox.input_path();
  state.WorkspaceDir = sandbox.FreshDestination() + "/";
  state.Header.ArchiveKind = 1;
  if (*data++ & 1) {
    std::ofstream(ArchivePath(state), std::ios::binary)
        .write(reinterpret_cast<const char*>(data), size);
    ExtractPackageImages(state, host, ui);
  } else {
    sandbox.WriteInput(data, size);
    if (ReadPackageHeader(state, host, ui) && state.PackageFound) {
      if (state.FinalMessage.size() >= kFinalMessageLimit) std::abort();
      ComputePackageChecksum(state, host);
    }
  }
  sandbox.CheckNothingEscaped(true);
  return 0;
}
