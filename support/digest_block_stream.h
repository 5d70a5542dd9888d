// The 64-byte block framing shared by MD5, SHA-1 and SHA-256: whole blocks
// go to the compression function straight from the caller's bytes, only a
// trailing partial block is copied aside, and the final block gets the
// 0x80 marker, zero fill and the 64-bit message length in bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace support {

class digest_block_stream {
 public:
  static constexpr std::size_t block_bytes = 64;

  void reset() {
    m_buffered_bytes = 0;
    m_length_bytes = 0;
  }

  // `compress(const std::uint8_t* blocks, std::size_t block_count)`.
  template <class compress_function>
  void update(std::span<const std::uint8_t> bytes, compress_function&& compress) {
    std::size_t size = bytes.size();
    if (size == 0) return;
    const std::uint8_t* p = bytes.data();
    m_length_bytes += size;
    if (m_buffered_bytes != 0) {
      const std::size_t room = block_bytes - m_buffered_bytes;
      const std::size_t take = size < room ? size : room;
      std::memcpy(m_buffer + m_buffered_bytes, p, take);
      m_buffered_bytes += take;
      p += take;
      size -= take;
      if (m_buffered_bytes < block_bytes) return;
      compress(m_buffer, std::size_t{1});
      m_buffered_bytes = 0;
    }
    const std::size_t blocks = size / block_bytes;
    if (blocks != 0) {
      compress(p, blocks);
      p += blocks * block_bytes;
      size -= blocks * block_bytes;
    }
    if (size != 0) {
      std::memcpy(m_buffer, p, size);
      m_buffered_bytes = size;
    }
  }

  // Pads and compresses the last one or two blocks. The length goes into
  // the last 8 bytes little-endian (MD5) or big-endian (SHA). Leaves the
  // stream reset.
  template <class compress_function>
  void finish(bool big_endian_length, compress_function&& compress) {
    const std::uint64_t length_bits = m_length_bytes * 8;  // modulo 2^64, as the digests define it
    std::size_t used = m_buffered_bytes;
    m_buffer[used++] = 0x80;
    if (used > block_bytes - 8) {
      std::memset(m_buffer + used, 0, block_bytes - used);
      compress(m_buffer, std::size_t{1});
      used = 0;
    }
    std::memset(m_buffer + used, 0, block_bytes - 8 - used);
    for (int i = 0; i < 8; ++i) {
      const int shift = big_endian_length ? 56 - 8 * i : 8 * i;
      m_buffer[block_bytes - 8 + i] = static_cast<std::uint8_t>(length_bits >> shift);
    }
    compress(m_buffer, std::size_t{1});
    reset();
  }

 private:
  std::uint8_t m_buffer[block_bytes] = {};
  std::size_t m_buffered_bytes = 0;  // bytes waiting in m_buffer, always < 64
  std::uint64_t m_length_bytes = 0;  // message length so far
};

}  // namespace support
