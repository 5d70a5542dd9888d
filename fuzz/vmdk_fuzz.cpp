// A VMware disk of the fuzzer's making read as -vmdk: extent header,
// embedded descriptor, grain directory and tables, then the volume behind.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "storage/vmdk_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  storage::vmdk_descriptor descriptor;
  storage::parse_vmdk_descriptor({data, size}, descriptor);
  static fuzz::memory_file disk;
  disk.assign({data, size});
  fuzz::run_program_quietly({"-vmdk", disk.path(), "-csv"});
  return 0;
}
