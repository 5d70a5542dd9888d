#include "output/time_text_cache.h"

namespace output {

namespace {

constexpr std::uint64_t seconds_per_day = 86'400;
// Days from 1601-01-01 to 1970-01-01 and to 3001-01-01. Every second of a
// day from 1900 to 3000 is printable except the first second of 1970 (the
// "no time" marker), so within such a day only the clock digits change.
constexpr std::uint64_t days_1601_to_1970 = 134'774;
constexpr std::uint64_t days_1601_to_3001 = 511'339;
constexpr std::uint64_t no_day = ~0ULL;

char* put_two_digits(char* at, std::uint64_t value) {
  at[0] = static_cast<char>('0' + value / 10);
  at[1] = static_cast<char>('0' + value % 10);
  return at + 3;  // past the digits and the colon
}

}  // namespace

const cv::filetime_text& time_text_cache::get(std::uint64_t filetime) {
  const std::uint64_t second = filetime / ticks_per_second;
  if (second != m_second || filetime == 0) {
    const std::uint64_t day = second / seconds_per_day;
    if (filetime != 0 && day == m_clock_day) {
      // Same day: "hh:mm:ss" at the start of the time text.
      const std::uint64_t of_day = second % seconds_per_day;
      char* at = put_two_digits(m_text.time, of_day / 3600);
      at = put_two_digits(at, of_day / 60 % 60);
      put_two_digits(at, of_day % 60);
      m_second = second;
    } else {
      // Printability depends on the whole second only, so it is cached too.
      cv::format_filetime(filetime, m_format, m_text);
      m_second = filetime == 0 ? ~0ULL : second;
      m_fraction_start = 0;
      for (std::uint8_t i = 0; i < m_text.time_length; ++i) {
        if (m_text.time[i] == '.') m_fraction_start = static_cast<std::uint8_t>(i + 1);
      }
      const bool clock_first = m_text.time_length >= 8 && m_text.time[2] == ':' && m_text.time[5] == ':';
      const bool every_second_printable = m_text.date_length > 0 && day < days_1601_to_3001 && day != days_1601_to_1970;
      m_clock_day = filetime != 0 && clock_first && every_second_printable ? day : no_day;
      return m_text;
    }
  }
  if (m_fraction_start == 0 || m_text.time_length == 0) return m_text;
  // Same second: rewrite the fraction digits, truncated like the formatter.
  // Ticks are 100 ns: seven digits, shortened or padded with zeros.
  static constexpr std::uint64_t powers[] = {1, 10, 100, 1'000, 10'000, 100'000, 1'000'000, 10'000'000};
  const int digits = m_text.time_length - m_fraction_start;
  std::uint64_t value = filetime % ticks_per_second;
  if (digits < 7) {
    value /= powers[7 - digits];
  } else if (digits > 7) {
    value *= powers[digits - 7];
  }
  for (int i = m_text.time_length - 1; i >= m_fraction_start; --i) {
    m_text.time[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return m_text;
}

}  // namespace output
