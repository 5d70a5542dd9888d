// The results destination: a large buffer in front of standard output or the
// results file, so per-line code only appends bytes.
#pragma once

#include <cstdint>
#include <ostream>
#include <string_view>

#include "output/text_buffer.h"

namespace output {

class results_stream {
 public:
  static constexpr std::size_t flush_threshold_bytes = 1 << 20;
  static constexpr std::size_t direct_write_bytes = 1 << 16;

  explicit results_stream(std::ostream& target) : m_target(&target) { m_buffer.room(flush_threshold_bytes + 65536); }
  // A stream that only collects its text, never written out: a walk thread
  // formats a batch of entries here and the ordered writer takes the text.
  results_stream() = default;
  ~results_stream() { flush(); }
  results_stream(const results_stream&) = delete;
  results_stream& operator=(const results_stream&) = delete;

  text_buffer& buffer() { return m_buffer; }
  void append(std::string_view text) { m_buffer.append(text); }
  void put(char c) { m_buffer.push_back(c); }

  // Called after each complete line; writes out when the buffer is full.
  void line_done() {
    if (m_target && m_buffer.size() >= flush_threshold_bytes) flush();
  }
  void flush() {
    if (!m_target) return;
    if (!m_buffer.empty()) {
      m_target->write(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
      m_buffer.clear();
    }
    m_target->flush();
  }
  bool failed() const { return m_target && m_target->fail(); }

  // Text formatted elsewhere, written after what this stream holds. A
  // large block (a walk thread's batch) goes out as it is, not copied.
  void append_text(std::string_view text) {
    if (text.empty()) return;
    if (m_target && (text.size() >= direct_write_bytes || m_buffer.size() + text.size() >= flush_threshold_bytes)) {
      flush();
      m_target->write(text.data(), static_cast<std::streamsize>(text.size()));
    } else {
      m_buffer.append(text);
    }
  }

  // The header line of a table layout is written once per run; a writer
  // calls header_written() right after its header line.
  bool header_pending = true;
  void header_written() {
    header_pending = false;
    header_end_bytes = m_buffer.size();
  }
  // Where the header line ended in the buffer (meaningful in a collecting
  // stream, which is never flushed).
  std::size_t header_end_bytes = 0;

 private:
  std::ostream* m_target = nullptr;
  text_buffer m_buffer;
};

}  // namespace output
