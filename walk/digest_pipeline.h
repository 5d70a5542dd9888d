// Digests a long stream on a helper thread while the stream is still being
// read: the reader fills one 1 MiB buffer while the helper digests the
// other. The bytes reach the digests whole and in order, so the values are
// those of digesting on one thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "ntfs/stream_reader.h"
#include "support/digest_set.h"

namespace walk {

class digest_pipeline final : public ntfs::stream_sink {
 public:
  static constexpr std::size_t buffer_bytes = 1 << 20;

  explicit digest_pipeline(support::digest_set& digests) : m_digests(digests) {}
  ~digest_pipeline() override;
  digest_pipeline(const digest_pipeline&) = delete;
  digest_pipeline& operator=(const digest_pipeline&) = delete;

  bool write(std::span<const std::uint8_t> bytes) override;
  // Returns once every byte written has been digested; call it before the
  // digests are finished or abandoned.
  void drain();

 private:
  void hand_over();
  void digest_handed_over();

  support::digest_set& m_digests;
  std::vector<std::uint8_t> m_filling;    // the reader's
  std::size_t m_filled = 0;               // bytes
  std::vector<std::uint8_t> m_digesting;  // the helper's while m_busy
  std::size_t m_handed = 0;               // bytes
  bool m_busy = false;
  bool m_stop = false;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::thread m_helper;  // started by the first full buffer
};

}  // namespace walk
