#include "support/digest_set.h"

#include <algorithm>

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace support {

const char* digest_library_text() { return OpenSSL_version(OPENSSL_VERSION); }

void digest_set::engine::open(const char* name) {
  // Fetching the method once spares the library a lookup in its provider
  // tables for every stream, which shows on volumes of many small files.
  method = EVP_MD_fetch(nullptr, name, nullptr);
  context = EVP_MD_CTX_new();
}

void digest_set::engine::close() {
  EVP_MD_CTX_free(context);
  EVP_MD_free(method);
  context = nullptr;
  method = nullptr;
}

void digest_set::engine::start(bool choose) {
  chosen = choose;
  usable = choose && method && context && EVP_DigestInit_ex2(context, method, nullptr) == 1;
}

void digest_set::engine::update(std::span<const std::uint8_t> bytes) {
  if (usable && !bytes.empty()) usable = EVP_DigestUpdate(context, bytes.data(), bytes.size()) == 1;
}

void digest_set::engine::finish(std::span<std::uint8_t> out) {
  if (!usable) return;
  unsigned int length = 0;
  unsigned char value[EVP_MAX_MD_SIZE];
  usable = EVP_DigestFinal_ex(context, value, &length) == 1 && length == out.size();
  if (usable) std::copy(value, value + length, out.begin());
}

digest_set::digest_set() {
  m_md5.open("MD5");
  m_sha1.open("SHA1");
  m_sha256.open("SHA256");
}

digest_set::~digest_set() {
  m_md5.close();
  m_sha1.close();
  m_sha256.close();
}

void digest_set::start(bool with_md5, bool with_sha1, bool with_sha256) {
  m_finished = false;
  m_md5.start(with_md5);
  m_sha1.start(with_sha1);
  m_sha256.start(with_sha256);
}

void digest_set::update(std::span<const std::uint8_t> bytes) {
  m_md5.update(bytes);
  m_sha1.update(bytes);
  m_sha256.update(bytes);
}

void digest_set::finish() {
  m_md5.finish(m_md5_value);
  m_sha1.finish(m_sha1_value);
  m_sha256.finish(m_sha256_value);
  m_finished = true;
}

}  // namespace support
