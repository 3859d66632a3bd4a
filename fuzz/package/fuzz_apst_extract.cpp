// Arbitrary archive bytes through the APST extraction into a workspace; nothing may be
// written outside it.
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "fuzz_support.h"
#include "package/extraction.h"
#include "package/package_reader.h"
#include "platform/posix/posix_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace floppyset;
  PosixHost host;
  fuzzing::SilentUi ui;
  RunState state;
  state.WorkspaceDir = fuzzing::FuzzRoot() + "/ws/";
  state.Header.ArchiveKind = 1;
  {
    std::ofstream out(ArchivePath(state), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  ExtractPackageImages(state, host, ui);
  fuzzing::CheckAndClean();
  return 0;
}
