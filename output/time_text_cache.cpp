#include "output/time_text_cache.h"

namespace output {

const cv::filetime_text& time_text_cache::get(std::uint64_t filetime) {
  const std::uint64_t second = filetime / ticks_per_second;
  if (second != m_second || filetime == 0) {
    // Printability depends on the whole second only, so it is cached too.
    cv::format_filetime(filetime, m_format, m_text);
    m_second = filetime == 0 ? ~0ULL : second;
    m_fraction_start = 0;
    for (std::uint8_t i = 0; i < m_text.time_length; ++i) {
      if (m_text.time[i] == '.') m_fraction_start = static_cast<std::uint8_t>(i + 1);
    }
    return m_text;
  }
  if (m_fraction_start == 0 || m_text.time_length == 0) return m_text;
  // Same second: rewrite the fraction digits, truncated like the formatter.
  const int digits = m_text.time_length - m_fraction_start;
  std::uint64_t value = filetime % ticks_per_second;  // 100 ns ticks
  for (int i = digits; i < 7; ++i) value /= 10;
  for (int i = 7; i < digits; ++i) value *= 10;
  for (int i = m_text.time_length - 1; i >= m_fraction_start; --i) {
    m_text.time[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return m_text;
}

}  // namespace output
