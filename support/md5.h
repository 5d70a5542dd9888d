// Streaming MD5 (RFC 1321).
//
//     support::md5 context;
//     context.update(chunk);        // any number of times, any lengths
//     support::md5::digest value;
//     context.final(value);         // the object is then ready for a new message
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "support/digest_block_stream.h"

namespace support {

class md5 {
 public:
  static constexpr std::size_t digest_bytes = 16;
  static constexpr std::size_t hex_chars = 2 * digest_bytes;
  using digest = std::array<std::uint8_t, digest_bytes>;

  md5() { init(); }

  // Starts a new message.
  void init();
  void update(std::span<const std::uint8_t> bytes);
  // Writes the digest of everything fed since init() and starts a new message.
  void final(digest& out);

  static digest of(std::span<const std::uint8_t> bytes);

 private:
  std::uint32_t m_state[4];
  digest_block_stream m_blocks;
};

}  // namespace support
