#include "support/digest_set.h"

namespace support {

void digest_set::start(bool with_md5, bool with_sha1, bool with_sha256) {
  m_with_md5 = with_md5;
  m_with_sha1 = with_sha1;
  m_with_sha256 = with_sha256;
  m_finished = false;
  m_md5.init();
  m_sha1.init();
  m_sha256.init();
}

void digest_set::update(std::span<const std::uint8_t> bytes) {
  if (m_with_md5) m_md5.update(bytes);
  if (m_with_sha1) m_sha1.update(bytes);
  if (m_with_sha256) m_sha256.update(bytes);
}

void digest_set::finish() {
  if (m_with_md5) m_md5.final(m_md5_value);
  if (m_with_sha1) m_sha1.final(m_sha1_value);
  if (m_with_sha256) m_sha256.final(m_sha256_value);
  m_finished = true;
}

void digest_set::abandon() {
  m_finished = false;
  m_md5.init();
  m_sha1.init();
  m_sha256.init();
}

}  // namespace support
