// Change journal records (versions 2 to 4) read as an extracted $J, or an
// extracted INDX stream searched for entries in its slack, with paths
// resolved through the journal fixture's $MFT and written in every layout.
//
// Input: two selector bytes (layout, extras), a third choosing $J or INDX,
// then the stream.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static const std::string mft = std::string(BRINDLE_FUZZ_FIXTURE_DIR) + "/journal.mft";
  static fuzz::memory_file stream;
  stream.assign({data + 3, size - 3});
  std::vector<std::string> arguments{"-mftfile", mft, data[2] & 1 ? "-indxfile" : "-usnfile", stream.path()};
  fuzz::add_layout_options(arguments, data[0], data[1]);
  fuzz::run_program_quietly(arguments);
  return 0;
}
