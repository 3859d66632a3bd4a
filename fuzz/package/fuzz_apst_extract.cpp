// Arbitrary archive bytes through the APST extraction into a workspace; nothing may be
// written outside it.
#include "fuzz_support.h"
#include "package/extraction.h"
#include "platform/posix/posix_host.h"
#include "workspace/workspace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace floppyset;
  static fuzzing::Sandbox sandbox;
  PosixHost host;
  fuzzing::SilentUi ui;
  RunState state;
  state.WorkspaceDir = sandbox.FreshDestination() + "/";
  state.Header.ArchiveKind = 1;
  std::ofstream(ArchivePath(state), std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  ExtractPackageImages(state, host, ui);
  sandbox.CheckNothingEscaped(true);
  return 0;
}
