// A real fixture image with the fuzzer's bytes written over it, walked as
// -image: boot sector and geometry, partition tables, the MFT through its
// run list, non-resident attribute lists, $Secure, compressed and sparse
// streams behind digests and header bytes, and the free-cluster carving.
//
// Input: two selector bytes (layout, extras), a third choosing the base
// image and the walk, then patches of [offset: 4 bytes LE][length: 1][bytes].
// Offsets wrap at the image size; the base is restored after each run.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

struct base_image {
  std::vector<std::uint8_t> original;
  std::unique_ptr<fuzz::memory_file> file;
};

base_image& base(std::uint8_t selector) {
  static const char* const names[] = {"basic.img", "streams.img", "gpt.img", "sector4k.img"};
  static base_image images[std::size(names)];
  base_image& image = images[selector % std::size(names)];
  if (!image.file) {
    image.original = fuzz::read_fixture(names[selector % std::size(names)]);
    image.file = std::make_unique<fuzz::memory_file>();
    image.file->assign(image.original);
  }
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  base_image& image = base(data[2] & 3);
  if (image.original.empty()) return 0;
  struct patch { std::uint64_t offset; std::size_t length; };
  std::vector<patch> patches;
  for (std::size_t at = 3; at + 5 <= size;) {
    const std::uint64_t offset = (data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
                                  static_cast<std::uint64_t>(data[at + 3]) << 24) % image.original.size();
    std::size_t length = data[at + 4];
    at += 5;
    if (length > size - at) length = size - at;
    if (length > image.original.size() - offset) length = image.original.size() - offset;
    image.file->overwrite(offset, {data + at, length});
    patches.push_back({offset, length});
    at += length;
  }
  std::vector<std::string> arguments{"-image", image.file->path()};
  if (data[2] & 4) arguments.emplace_back("-filter_unalloc_clusters");
  fuzz::add_layout_options(arguments, data[0], data[1]);
  fuzz::run_program_quietly(arguments);
  for (const patch& p : patches) image.file->overwrite(p.offset, {image.original.data() + p.offset, p.length});
  return 0;
}
