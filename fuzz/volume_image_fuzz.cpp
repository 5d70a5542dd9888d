// A real fixture image with the fuzzer's bytes written over it, walked as
// -image: boot sector and geometry, partition tables, the MFT through its
// run list, non-resident attribute lists, $Secure, compressed and sparse
// streams behind digests and header bytes, and the free-cluster carving.
//
// Input: two selector bytes (layout, extras), a third choosing the base
// image and the walk, then patches (see patched_fixture).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static const char* const names[] = {"basic.img", "streams.img", "gpt.img", "sector4k.img"};
  static std::unique_ptr<fuzz::patched_fixture> images[std::size(names)];
  auto& image = images[data[2] & 3];
  if (!image) image = std::make_unique<fuzz::patched_fixture>(names[data[2] & 3]);
  if (image->empty()) return 0;
  image->apply({data + 3, size - 3});
  std::vector<std::string> arguments{"-image", image->path()};
  if (data[2] & 4) arguments.emplace_back("-filter_unalloc_clusters");
  fuzz::add_layout_options(arguments, data[0], data[1]);
  fuzz::run_program_quietly(arguments);
  image->restore();
  return 0;
}
