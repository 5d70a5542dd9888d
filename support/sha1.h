// Streaming SHA-1 (FIPS 180-4).
//
//     support::sha1 context;
//     context.update(chunk);        // any number of times, any lengths
//     support::sha1::digest value;
//     context.final(value);         // the object is then ready for a new message
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "support/digest_block_stream.h"
#include "support/digest_engine.h"

namespace support {

class sha1 {
 public:
  static constexpr std::size_t digest_bytes = 20;
  static constexpr std::size_t hex_chars = 2 * digest_bytes;
  using digest = std::array<std::uint8_t, digest_bytes>;

  explicit sha1(digest_engine engine = digest_engine::fastest);

  // Starts a new message.
  void init();
  void update(std::span<const std::uint8_t> bytes);
  // Writes the digest of everything fed since init() and starts a new message.
  void final(digest& out);

  // True when this object runs on the processor's SHA extensions.
  bool accelerated() const;

  static digest of(std::span<const std::uint8_t> bytes);

 private:
  void (*m_compress)(std::uint32_t* state, const std::uint8_t* blocks, std::size_t block_count);
  std::uint32_t m_state[5];
  digest_block_stream m_blocks;
};

}  // namespace support
