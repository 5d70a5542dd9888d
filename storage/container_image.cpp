#include "storage/container_image.h"

#include <algorithm>
#include <cstring>

namespace storage {

std::int64_t container_image::read_at(std::uint64_t offset, void* buffer, std::size_t length) {
  auto* target = static_cast<std::uint8_t*>(buffer);
  const std::size_t unit = piece_bytes();
  const std::uint64_t size = size_bytes();
  if (offset >= size || length == 0) return 0;
  length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size - offset));
  if (read_piece(offset, target, length) == static_cast<std::int64_t>(length)) return static_cast<std::int64_t>(length);
  std::size_t done = 0;
  while (done < length) {
    // Pieces follow the container's own alignment, so a bad chunk is one piece.
    const std::uint64_t at = offset + done;
    const std::size_t piece = static_cast<std::size_t>(
        std::min<std::uint64_t>(length - done, unit - at % unit));
    const std::int64_t got = read_piece(at, target + done, piece);
    const std::size_t kept = got > 0 ? static_cast<std::size_t>(got) : 0;
    if (kept < piece) {
      std::memset(target + done + kept, 0, piece - kept);
      ++m_unreadable_pieces;
    }
    done += piece;
  }
  return static_cast<std::int64_t>(length);
}

}  // namespace storage
