// Walks and unpacks arbitrary flat images; nothing may be written outside the destination.
#include "fuzz_support.h"
#include "image/flat_image.h"
#include "platform/posix/posix_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static floppyset::fuzzing::Sandbox sandbox;
  static floppyset::PosixHost host;
  sandbox.WriteInput(data, size);
  floppyset::FlatImage image(host, sandbox.input_path());
  size_t records = 0;
  for (auto* r = image.FirstRecord(); r; r = image.NextRecord(r)) {
    // Each record takes at least its header: the walk ends within the file.
    if (++records > size / floppyset::kFlatHeaderSize) std::abort();
  }
  image.ExtractAll(sandbox.FreshDestination());
  sandbox.CheckNothingEscaped();
  return 0;
}
