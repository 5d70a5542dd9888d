// Bounds-checked little-endian (and a few big-endian) reads over a byte span.
//
// Every on-disk structure is read through this class. A read that would
// leave the span yields 0 (or an empty span) and sets a sticky error flag,
// so a run of reads can be checked once at the end; the reader keeps where
// the first failed read began and how many bytes it wanted, for messages
// that say where a structure ended too soon:
//
//     byte_reader r(bytes);
//     auto type = r.le32(0);
//     auto length = r.le32(4);
//     if (!r.ok()) return false;
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <span>

namespace support {

class byte_reader {
 public:
  byte_reader() = default;
  explicit byte_reader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

  std::size_t size() const { return m_bytes.size(); }
  bool ok() const { return !m_failed; }
  // The first failed read: its offset and width in bytes (0 when none failed).
  std::size_t failed_at() const { return m_failed_at; }
  std::size_t failed_width() const { return m_failed_width; }
  std::span<const std::uint8_t> bytes() const { return m_bytes; }

  // True when [offset, offset + length) lies inside the span; never overflows.
  bool fits(std::size_t offset, std::size_t length) const {
    return offset <= m_bytes.size() && length <= m_bytes.size() - offset;
  }

  std::uint8_t u8(std::size_t offset) {
    if (!fits(offset, 1)) return fail<std::uint8_t>(offset, 1);
    return m_bytes[offset];
  }
  std::uint16_t le16(std::size_t offset) { return read<std::uint16_t, 2>(offset); }
  std::uint32_t le32(std::size_t offset) { return read<std::uint32_t, 4>(offset); }
  std::uint64_t le64(std::size_t offset) { return read<std::uint64_t, 8>(offset); }
  // The 48-bit entry number at the start of an 8-byte file reference.
  std::uint64_t le48(std::size_t offset) { return read<std::uint64_t, 6>(offset); }

  // Unsigned little-endian integer of 0..8 bytes (run lists use odd widths).
  std::uint64_t le_n(std::size_t offset, std::size_t width) {
    if (width > 8 || !fits(offset, width)) return fail<std::uint64_t>(offset, width);
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value |= std::uint64_t{m_bytes[offset + i]} << (8 * i);
    return value;
  }

  // Big-endian fields, for the few formats that store them (VHD).
  std::uint32_t be32(std::size_t offset) { return static_cast<std::uint32_t>(be_n(offset, 4)); }
  std::uint64_t be64(std::size_t offset) { return be_n(offset, 8); }

  std::span<const std::uint8_t> sub(std::size_t offset, std::size_t length) {
    if (!fits(offset, length)) return fail<std::span<const std::uint8_t>>(offset, length);
    return m_bytes.subspan(offset, length);
  }

 private:
  std::uint64_t be_n(std::size_t offset, std::size_t width) {
    if (!fits(offset, width)) return fail<std::uint64_t>(offset, width);
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = value << 8 | m_bytes[offset + i];
    return value;
  }

  template <typename T>
  T fail(std::size_t offset, std::size_t width) {
    if (!m_failed) {
      m_failed_at = offset;
      m_failed_width = width;
    }
    m_failed = true;
    return T{};
  }

  template <typename T, std::size_t Width>
  T read(std::size_t offset) {
    if (!fits(offset, Width)) return fail<T>(offset, Width);
    if constexpr (Width == sizeof(T) && std::endian::native == std::endian::little) {
      // One unaligned load once the bounds are known.
      T value;
      std::memcpy(&value, m_bytes.data() + offset, sizeof value);
      return value;
    } else {
      T value = 0;
      for (std::size_t i = 0; i < Width; ++i) value |= static_cast<T>(T{m_bytes[offset + i]} << (8 * i));
      return value;
    }
  }

  std::span<const std::uint8_t> m_bytes;
  bool m_failed = false;
  std::size_t m_failed_at = 0;
  std::size_t m_failed_width = 0;
};

}  // namespace support
