// The content digests chosen for a run, fed together: each chunk of a
// stream is passed to every chosen digest, so a stream is read once however
// many digests are asked for.
//
//     support::digest_set digests;
//     digests.start(true, false, true);   // MD5 and SHA-256
//     digests.update(chunk);              // for every chunk, in order
//     digests.finish();
//     if (const auto* md5 = digests.md5_value()) ...
#pragma once

#include <cstdint>
#include <span>

#include "support/digest_engine.h"
#include "support/md5.h"
#include "support/sha1.h"
#include "support/sha256.h"

namespace support {

class digest_set {
 public:
  explicit digest_set(digest_engine engine = digest_engine::fastest) : m_sha1(engine), m_sha256(engine) {}

  // Starts a new stream with the chosen digests and forgets earlier values.
  void start(bool with_md5, bool with_sha1, bool with_sha256);
  bool any_chosen() const { return m_with_md5 || m_with_sha1 || m_with_sha256; }

  void update(std::span<const std::uint8_t> bytes);
  // Completes the chosen digests; their values stay until the next start().
  void finish();
  // Drops the stream (after a failed read, say): no values until the next
  // start() and finish().
  void abandon();

  // The value of a chosen digest after finish(), otherwise null.
  const md5::digest* md5_value() const { return m_finished && m_with_md5 ? &m_md5_value : nullptr; }
  const sha1::digest* sha1_value() const { return m_finished && m_with_sha1 ? &m_sha1_value : nullptr; }
  const sha256::digest* sha256_value() const { return m_finished && m_with_sha256 ? &m_sha256_value : nullptr; }

 private:
  md5 m_md5;
  sha1 m_sha1;
  sha256 m_sha256;
  md5::digest m_md5_value{};
  sha1::digest m_sha1_value{};
  sha256::digest m_sha256_value{};
  bool m_with_md5 = false;
  bool m_with_sha1 = false;
  bool m_with_sha256 = false;
  bool m_finished = false;
};

}  // namespace support
