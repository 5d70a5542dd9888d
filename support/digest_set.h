// The content digests chosen for a run, fed together: each chunk of a
// stream is passed to every chosen digest, so a stream is read once however
// many digests are asked for. MD5 (RFC 1321), SHA-1 and SHA-256 (FIPS 180-4)
// come from OpenSSL's libcrypto, which picks the processor's SHA
// instructions and its hand-tuned MD5 at run time.
//
//     support::digest_set digests;
//     digests.start(true, false, true);   // MD5 and SHA-256
//     digests.update(chunk);              // for every chunk, in order
//     digests.finish();
//     if (const auto* md5 = digests.md5_value()) ...
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// libcrypto's digest method and context (EVP_MD, EVP_MD_CTX).
struct evp_md_st;
struct evp_md_ctx_st;

namespace support {

using md5_digest = std::array<std::uint8_t, 16>;
using sha1_digest = std::array<std::uint8_t, 20>;
using sha256_digest = std::array<std::uint8_t, 32>;

// The name of the library that computes the digests, with its version
// ("OpenSSL 3.0.19 ..."), for the version text.
const char* digest_library_text();

class digest_set {
 public:
  digest_set();
  ~digest_set();
  digest_set(const digest_set&) = delete;
  digest_set& operator=(const digest_set&) = delete;

  // Starts a new stream with the chosen digests and forgets earlier values.
  void start(bool with_md5, bool with_sha1, bool with_sha256);
  bool any_chosen() const { return m_md5.chosen || m_sha1.chosen || m_sha256.chosen; }

  void update(std::span<const std::uint8_t> bytes);
  // Completes the chosen digests; their values stay until the next start().
  // A digest the library fails to complete has no value.
  void finish();
  // Drops the stream (after a failed read, say): no values until the next
  // start() and finish().
  void abandon() { m_finished = false; }

  // The value of a chosen digest after finish(), otherwise null.
  const md5_digest* md5_value() const { return value_of(m_md5, m_md5_value); }
  const sha1_digest* sha1_value() const { return value_of(m_sha1, m_sha1_value); }
  const sha256_digest* sha256_value() const { return value_of(m_sha256, m_sha256_value); }

 private:
  // One algorithm: the library's method, fetched once, and a context that
  // is reset for every stream.
  struct engine {
    evp_md_st* method = nullptr;
    evp_md_ctx_st* context = nullptr;
    bool chosen = false;
    bool usable = false;      // started and fed without a library error

    void open(const char* name);
    void close();
    void start(bool choose);
    void update(std::span<const std::uint8_t> bytes);
    void finish(std::span<std::uint8_t> out);
  };

  template <class digest>
  const digest* value_of(const engine& e, const digest& value) const {
    return m_finished && e.chosen && e.usable ? &value : nullptr;
  }

  engine m_md5, m_sha1, m_sha256;
  md5_digest m_md5_value{};
  sha1_digest m_sha1_value{};
  sha256_digest m_sha256_value{};
  bool m_finished = false;
};

}  // namespace support
