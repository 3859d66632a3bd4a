// Arbitrary bytes as an LHA archive, extracted into a scratch directory. Nothing may appear
// outside the destination; a small member limit keeps headers that claim gigabytes (and
// many members of the largest size) from filling the disk.
#include "codec/lzh_reader.h"
#include "fuzz_support.h"
#include "platform/posix/posix_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static floppyset::fuzzing::Sandbox sandbox;
  static floppyset::PosixHost host;
  sandbox.WriteInput(data, size);
  floppyset::LzhReader(host, sandbox.input_path(), sandbox.FreshDestination(), nullptr, nullptr,
                       64 * 1024)
      .ExtractAll();
  sandbox.CheckNothingEscaped(true);
  return 0;
}
