// Arbitrary program-file bytes through ReadPackageHeader and the package checksum.
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "fuzz_support.h"
#include "package/integrity.h"
#include "package/package_reader.h"
#include "platform/posix/posix_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace floppyset;
  const std::string program = fuzzing::FuzzRoot() + "/setup.exe";
  {
    std::ofstream out(program, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  PosixHost host;
  fuzzing::SilentUi ui;
  RunState state;
  state.ProgramPath = program;
  state.WorkspaceDir = fuzzing::FuzzRoot() + "/ws/";
  if (ReadPackageHeader(state, host, ui) && state.PackageFound) {
    if (state.FinalMessage.size() >= kFinalMessageLimit) std::abort();
    ComputePackageChecksum(state, host);
    ExeChecksumMatches(state);
    PackageChecksumMatches(state);
  }
  // (DeleteWorkspaceFiles would try up to 65535 image names per input: the check empties it.)
  fuzzing::CheckAndClean("setup.exe");
  return 0;
}
