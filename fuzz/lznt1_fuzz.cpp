// LZNT1 chunks and compression units as a compressed stream holds them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ntfs/lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static std::vector<std::uint8_t> out(64 * 1024);
  const std::span<const std::uint8_t> unit(data + 1, size - 1);
  std::size_t produced = 0;
  // A unit is 16 clusters; cluster sizes from 512 bytes to 4 KiB give 8 to 64 KiB.
  const std::size_t unit_bytes = std::size_t{8192} << (data[0] & 3);
  ntfs::decompress_unit(unit, data[0] & 4, {out.data(), unit_bytes}, produced);
  ntfs::lznt1_decompress_chunk(unit, {out.data(), ntfs::lznt1_max_target_bytes}, &produced);
  return 0;
}
