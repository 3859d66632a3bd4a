// Arbitrary program-file bytes through ReadPackageHeader and the package checksum.
#include "fuzz_support.h"
#include "package/integrity.h"
#include "package/package_reader.h"
#include "platform/posix/posix_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace floppyset;
  static fuzzing::Sandbox sandbox;
  sandbox.WriteInput(data, size);
  PosixHost host;
  fuzzing::SilentUi ui;
  RunState state;
  state.ProgramPath = sandbox.input_path();
  state.WorkspaceDir = sandbox.FreshDestination() + "/";
  if (ReadPackageHeader(state, host, ui) && state.PackageFound) {
    if (state.FinalMessage.size() >= kFinalMessageLimit) std::abort();
    ComputePackageChecksum(state, host);
  }
  sandbox.CheckNothingEscaped(true);
  return 0;
}
