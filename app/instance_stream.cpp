#include "app/instance_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <atomic>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

namespace app {

std::uint64_t instance_chunk_entries_for(std::uint64_t count, std::uint32_t instances) {
  constexpr std::uint64_t chunks_per_instance = 8;
  constexpr std::uint64_t max_chunk_entries = 512;
  return std::clamp<std::uint64_t>(count / (chunks_per_instance * std::max<std::uint32_t>(instances, 1)), 1,
                                   max_chunk_entries);
}

chunk_claims::~chunk_claims() {
  if (m_shared) ::munmap(m_shared, sizeof *m_shared);
  if (m_descriptor >= 0) ::close(m_descriptor);
}

bool chunk_claims::create() {
  m_descriptor = ::memfd_create("brindle-chunks", MFD_CLOEXEC);
  if (m_descriptor < 0) return false;
  // A new file's bytes read as zeros: the counter starts at chunk 0.
  if (::ftruncate(m_descriptor, sizeof *m_shared) != 0 || !map(m_descriptor)) return false;
  pthread_mutexattr_t attributes;
  if (::pthread_mutexattr_init(&attributes) != 0) return false;
  const bool made = ::pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                    ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                    ::pthread_mutex_init(&m_shared->write_lock, &attributes) == 0;
  ::pthread_mutexattr_destroy(&attributes);
  return made;
}

bool chunk_claims::map(int descriptor) {
  m_descriptor = descriptor;
  void* page = ::mmap(nullptr, sizeof *m_shared, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
  if (page == MAP_FAILED) return false;
  m_shared = static_cast<shared_page*>(page);
  return true;
}

bool chunk_claims::claim(std::uint64_t chunk_count, std::uint64_t& chunk) {
  if (!m_shared) return false;
  static_assert(std::atomic_ref<std::uint64_t>::is_always_lock_free, "the counter is shared between processes");
  chunk = std::atomic_ref<std::uint64_t>(m_shared->next_chunk).fetch_add(1, std::memory_order_relaxed);
  return chunk < chunk_count;
}

void chunk_claims::lock_writes() {
  if (::pthread_mutex_lock(&m_shared->write_lock) == EOWNERDEAD) ::pthread_mutex_consistent(&m_shared->write_lock);
}

void chunk_claims::unlock_writes() { ::pthread_mutex_unlock(&m_shared->write_lock); }

void chunk_claims::note_write_error(int error_number) {
  int none = 0;
  std::atomic_ref<int>(m_shared->write_error).compare_exchange_strong(none, error_number);
}

int chunk_claims::write_error() const {
  return m_shared ? std::atomic_ref<int>(m_shared->write_error).load() : 0;
}

bool read_exactly(int descriptor, void* bytes, std::size_t length) {
  auto* at = static_cast<char*>(bytes);
  while (length > 0) {
    const ssize_t got = ::read(descriptor, at, length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    at += got;
    length -= static_cast<std::size_t>(got);
  }
  return true;
}

chunk_sender::chunk_sender(int results_descriptor, int ack_descriptor, int placement_descriptor,
                           chunk_claims& claims, output::results_stream& stream)
    : m_descriptor(results_descriptor), m_ack_descriptor(ack_descriptor),
      m_placement_descriptor(placement_descriptor), m_claims(claims), m_stream(stream) {
  m_writer = std::thread([this] { hand_over_frames(); });
}

chunk_sender::~chunk_sender() { stop_writer(); }

void chunk_sender::stop_writer() {
  {
    std::lock_guard lock(m_mutex);
    m_closing = true;
  }
  m_changed.notify_all();
  if (m_writer.joinable()) m_writer.join();
}

bool chunk_sender::send(std::uint64_t chunk) {
  // The column header comes with the first row the walk writes, at the
  // start of that chunk's text.
  const bool header_was_pending = m_header_pending;
  m_header_pending = m_stream.header_pending;
  const std::uint64_t header_bytes = header_was_pending && !m_header_pending ? m_stream.header_end_bytes : 0;
  // Only this thread hands out frames, so m_queued is read without the lock.
  const std::uint64_t number = m_queued;
  // The slot's last frame must be acknowledged before its pages change.
  {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_acked + frame_slots > number || m_failed; });
    if (m_failed) return false;
  }
  frame& slot = m_frames[number % frame_slots];
  std::swap(slot.text, m_stream.buffer());
  m_stream.buffer().clear();
  slot.numbers[0] = chunk;
  slot.numbers[1] = slot.text.size();
  slot.numbers[2] = header_bytes;
  {
    std::lock_guard lock(m_mutex);
    m_queued = number + 1;
  }
  m_changed.notify_all();
  return true;
}

bool chunk_sender::finish() {
  stop_writer();
  return !m_failed;
}

bool chunk_sender::read_ack() {
  char ack = 0;
  for (;;) {
    const ssize_t got = ::read(m_ack_descriptor, &ack, 1);
    if (got == 1) return true;
    if (got < 0 && errno == EINTR) continue;
    return false;  // the parent is gone
  }
}

void chunk_sender::hand_over_frames() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return m_acked < m_queued || m_closing; });
    if (m_acked == m_queued) return;
    frame& next = m_frames[m_acked % frame_slots];
    // send() leaves a queued frame alone until it is acknowledged (lent)
    // or placed. One frame at a time is in the pipe: the next goes once the
    // parent is done with this pipe and has gone on to the other instances,
    // so the two never wait for each other's hold on it. The buffers are
    // freed on the way out, so the last frame too waits for its answer.
    lock.unlock();
    const bool done = m_placement_descriptor >= 0 ? place_frame(next) : lend_frame(next) && read_ack();
    lock.lock();
    if (!done) {
      m_failed = true;
      m_changed.notify_all();
      return;
    }
    ++m_acked;
    m_changed.notify_all();
  }
}

bool chunk_sender::place_frame(frame& placed) {
  char header[chunk_frame_header_bytes];
  std::memcpy(header, placed.numbers, sizeof header);
  for (std::size_t sent = 0; sent < sizeof header;) {
    const ssize_t written = ::write(m_descriptor, header + sent, sizeof header - sent);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    sent += static_cast<std::size_t>(written);
  }
  std::uint64_t answer[2] = {};  // offset in the results file, bytes left out
  if (!read_exactly(m_ack_descriptor, answer, sizeof answer) || answer[1] > placed.text.size()) return false;
  const char* text = placed.text.data() + answer[1];
  std::size_t left = placed.text.size() - static_cast<std::size_t>(answer[1]);
  auto offset = static_cast<off_t>(answer[0]);
  m_claims.lock_writes();
  while (left > 0) {
    const ssize_t written = ::pwrite(m_placement_descriptor, text, left, offset);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      m_claims.note_write_error(written < 0 ? errno : ENOSPC);
      break;
    }
    text += written;
    offset += written;
    left -= static_cast<std::size_t>(written);
  }
  m_claims.unlock_writes();
  return left == 0;
}

bool chunk_sender::lend_frame(frame& lent) {
  static_assert(sizeof lent.numbers == chunk_frame_header_bytes);
  iovec parts[2] = {{lent.numbers, sizeof lent.numbers}, {const_cast<char*>(lent.text.data()), lent.text.size()}};
  iovec* part = parts;
  int left = lent.text.size() == 0 ? 1 : 2;
  bool lend = true;  // false: the descriptor is no pipe, the bytes are copied
  while (left > 0) {
    const ssize_t moved = lend ? ::vmsplice(m_descriptor, part, static_cast<unsigned long>(left), 0)
                               : ::writev(m_descriptor, part, left);
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0 && lend && errno == EINVAL) {
      lend = false;
      continue;
    }
    if (moved <= 0) return false;
    auto done = static_cast<std::size_t>(moved);
    while (left > 0 && done >= part->iov_len) {
      done -= part->iov_len;
      ++part;
      --left;
    }
    if (left > 0) {
      part->iov_base = static_cast<char*>(part->iov_base) + done;
      part->iov_len -= done;
    }
  }
  return true;
}

}  // namespace app
