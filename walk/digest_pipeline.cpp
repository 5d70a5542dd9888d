#include "walk/digest_pipeline.h"

#include <algorithm>
#include <cstring>

namespace walk {

digest_pipeline::~digest_pipeline() {
  if (!m_helper.joinable()) return;
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_changed.notify_all();
  m_helper.join();
}

bool digest_pipeline::write(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    if (m_filling.size() != buffer_bytes) m_filling.resize(buffer_bytes);
    const std::size_t take = std::min(bytes.size(), buffer_bytes - m_filled);
    std::memcpy(m_filling.data() + m_filled, bytes.data(), take);
    m_filled += take;
    bytes = bytes.subspan(take);
    if (m_filled == buffer_bytes) hand_over();
  }
  return true;
}

void digest_pipeline::drain() {
  if (!m_helper.joinable()) {
    // Shorter than one buffer: nothing to overlap.
    if (m_filled > 0) m_digests.update(std::span<const std::uint8_t>(m_filling.data(), m_filled));
    m_filled = 0;
    return;
  }
  if (m_filled > 0) hand_over();
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [&] { return !m_busy; });
}

void digest_pipeline::hand_over() {
  if (!m_helper.joinable()) m_helper = std::thread([this] { digest_handed_over(); });
  {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return !m_busy; });
    std::swap(m_filling, m_digesting);
    m_handed = m_filled;
    m_busy = true;
  }
  m_filled = 0;
  m_changed.notify_all();
}

void digest_pipeline::digest_handed_over() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [&] { return m_busy || m_stop; });
    if (!m_busy) return;
    lock.unlock();
    m_digests.update(std::span<const std::uint8_t>(m_digesting.data(), m_handed));
    lock.lock();
    m_busy = false;
    m_changed.notify_all();
  }
}

}  // namespace walk
