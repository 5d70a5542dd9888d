// A growable byte buffer for result text. Unlike std::string it can hand out
// room at its end without filling it first, so per-line code writes straight
// into it.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace output {

class text_buffer {
 public:
  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  const char* data() const { return m_data.get(); }
  void clear() { m_size = 0; }
  std::string_view view() const { return {m_data.get(), m_size}; }

  // Room for at least `bytes` more; write there, then commit().
  char* room(std::size_t bytes) {
    if (m_capacity - m_size < bytes) grow(bytes);
    return m_data.get() + m_size;
  }
  void commit(const char* end) { m_size = static_cast<std::size_t>(end - m_data.get()); }

  void append(const char* text, std::size_t length) {
    if (length == 0) return;  // a buffer not yet grown has no bytes to copy into
    std::memcpy(room(length), text, length);
    m_size += length;
  }
  void append(std::string_view text) { append(text.data(), text.size()); }
  void append(std::size_t count, char c) {
    if (count == 0) return;
    std::memset(room(count), c, count);
    m_size += count;
  }
  void push_back(char c) {
    *room(1) = c;
    ++m_size;
  }

 private:
  void grow(std::size_t bytes) {
    std::size_t capacity = m_capacity == 0 ? 65536 : m_capacity * 2;
    while (capacity - m_size < bytes) capacity *= 2;
    auto data = std::make_unique_for_overwrite<char[]>(capacity);  // text is written before it is read
    if (m_size) std::memcpy(data.get(), m_data.get(), m_size);
    m_data = std::move(data);
    m_capacity = capacity;
  }

  std::unique_ptr<char[]> m_data;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};

// A signed decimal number.
inline void append_signed(text_buffer& out, std::int64_t value) {
  char* start = out.room(24);
  out.commit(std::to_chars(start, start + 24, value).ptr);
}

}  // namespace output
