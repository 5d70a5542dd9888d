// An extracted $MFT of the fuzzer's making, walked in every layout: record
// headers, fixups, every attribute, attribute lists across records, path
// resolution and the formatting of all of it.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static fuzz::memory_file mft;
  mft.assign({data + 2, size - 2});
  std::vector<std::string> arguments{"-mftfile", mft.path()};
  fuzz::add_layout_options(arguments, data[0], data[1]);
  fuzz::run_program_quietly(arguments);
  return 0;
}
