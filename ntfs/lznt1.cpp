#include "ntfs/lznt1.h"

#include <algorithm>
#include <bit>

#include "support/byte_reader.h"

namespace ntfs {
namespace {

constexpr std::uint16_t k_chunk_compressed = 0x8000;
constexpr std::uint16_t k_chunk_size_mask = 0x0FFF;  // data size - 1
constexpr std::size_t k_chunk_header_bytes = 2;

// Walks the chunks of a unit into `out`; false when a chunk is unusable.
bool walk_chunks(std::span<const std::uint8_t> unit, std::span<std::uint8_t> out, std::size_t& produced) {
  support::byte_reader reader(unit);
  std::size_t position = 0;
  produced = 0;
  while (position < unit.size() && produced < out.size()) {
    // A single byte left over cannot start a chunk.
    if (!reader.fits(position, k_chunk_header_bytes)) break;
    const std::uint16_t header = reader.le16(position);
    if (header == 0) {
      position = (position / lznt1_chunk_bytes + 1) * lznt1_chunk_bytes;
      continue;
    }
    const std::size_t data_bytes = static_cast<std::size_t>(header & k_chunk_size_mask) + 1;
    const std::span<const std::uint8_t> data = reader.sub(position + k_chunk_header_bytes, data_bytes);
    if (data.size() != data_bytes) return false;  // runs past the unit
    const std::size_t room = std::min(lznt1_chunk_bytes, out.size() - produced);
    const std::span<std::uint8_t> target = out.subspan(produced, room);
    if ((header & k_chunk_compressed) != 0) {
      if (!lznt1_decompress_chunk(data, target)) return false;
    } else if (data_bytes == lznt1_chunk_bytes) {
      std::copy_n(data.begin(), room, target.begin());
    } else {
      return false;
    }
    // Every chunk stands for 4096 bytes of output, even when its data
    // produced fewer; the rest of the target was zero-filled.
    produced += room;
    position += k_chunk_header_bytes + data_bytes;
  }
  return true;
}

void copy_stored_unit(std::span<const std::uint8_t> unit, std::span<std::uint8_t> out, std::size_t& produced) {
  produced = std::min(unit.size(), out.size());
  std::copy_n(unit.begin(), produced, out.begin());
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(produced), out.end(), std::uint8_t{0});
}

}  // namespace

bool lznt1_decompress_chunk(std::span<const std::uint8_t> source, std::span<std::uint8_t> target,
                            std::size_t* produced_out) {
  if (produced_out) *produced_out = 0;
  if (target.size() > lznt1_max_target_bytes) return false;
  std::size_t in = 0;   // bytes of source consumed
  std::size_t out = 0;  // bytes of target produced so far in this chunk
  bool ok = true;
  bool done = false;
  while (!done && in < source.size() && out < target.size()) {
    const std::uint8_t flags = source[in++];
    for (int bit = 0; bit < 8; ++bit) {
      if (in >= source.size() || out >= target.size()) {
        done = true;
        break;
      }
      if (((flags >> bit) & 1) == 0) {
        target[out++] = source[in++];
        continue;
      }
      if (source.size() - in < 2) {  // a token cut short ends the data
        done = true;
        break;
      }
      const std::uint16_t token = static_cast<std::uint16_t>(source[in] | (source[in + 1] << 8));
      in += 2;
      // The displacement needs enough bits to reach back to the chunk
      // start: 4 bits up to 16 bytes in, one more bit each time that
      // doubles. k stays at most 10 for a 16384-byte target.
      const unsigned k = out == 0 ? 0u : static_cast<unsigned>(std::bit_width((out - 1) >> 4));
      const std::size_t displacement = (std::size_t{token} >> (12 - k)) + 1;
      const std::size_t length = std::size_t{token & (0x0FFFu >> k)} + 3;
      if (displacement > out) {
        ok = false;
        done = true;
        break;
      }
      const std::size_t copy = std::min(length, target.size() - out);
      // Byte by byte: a copy may overlap its own output and repeat it.
      for (std::size_t i = 0; i < copy; ++i, ++out) target[out] = target[out - displacement];
      if (copy < length) {
        done = true;
        break;
      }
    }
  }
  std::fill(target.begin() + static_cast<std::ptrdiff_t>(out), target.end(), std::uint8_t{0});
  if (produced_out) *produced_out = out;
  return ok;
}

bool decompress_unit(std::span<const std::uint8_t> unit, bool has_sparse_clusters, std::span<std::uint8_t> out,
                     std::size_t& produced_out) {
  produced_out = 0;
  const bool starts_with_stored_chunk = unit.size() >= 2 && unit[0] == 0xFF && unit[1] == 0x3F;
  if (!has_sparse_clusters && !starts_with_stored_chunk) {
    copy_stored_unit(unit, out, produced_out);
    return true;
  }
  std::size_t produced = 0;
  if (walk_chunks(unit, out, produced)) {
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(produced), out.end(), std::uint8_t{0});
    produced_out = produced;
    return true;
  }
  const std::span<const std::uint8_t> last = unit.last(std::min(unit.size(), lznt1_chunk_bytes));
  if (std::all_of(last.begin(), last.end(), [](std::uint8_t b) { return b == 0; })) return false;
  copy_stored_unit(unit, out, produced_out);
  return true;
}

}  // namespace ntfs
