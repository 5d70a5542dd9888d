#include "output/json_text.h"

#include <charconv>

#include "output/cv_time.h"

namespace output {

namespace {

// Length of the valid UTF-8 sequence at `at`, or 0. Overlong forms,
// surrogates (ED A0..BF) and code points past U+10FFFF are invalid.
std::size_t utf8_sequence(const unsigned char* at, std::size_t left) {
  const unsigned char lead = at[0];
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || at[1] < low || at[1] > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (at[i] < 0x80 || at[i] > 0xBF) return 0;
  }
  return length;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civil_from_days(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned mp = (5 * day_of_year + 2) / 153;
  day = day_of_year - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0);
}

char* digits(char* at, std::uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    at[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return at + width;
}

}  // namespace

void append_json_string(text_buffer& out, std::string_view value) {
  static constexpr char hex[] = "0123456789abcdef";
  out.push_back('"');
  const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
  const std::size_t size = value.size();
  std::size_t plain_start = 0;
  std::size_t at = 0;
  while (at < size) {
    const unsigned char c = bytes[at];
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
      ++at;
      continue;
    }
    if (c >= 0x80) {
      const std::size_t length = utf8_sequence(bytes + at, size - at);
      if (length) {
        at += length;
        continue;
      }
    }
    out.append(value.data() + plain_start, at - plain_start);
    switch (c) {
      case '"': out.append("\\\"", 2); break;
      case '\\': out.append("\\\\", 2); break;
      case '\n': out.append("\\n", 2); break;
      case '\r': out.append("\\r", 2); break;
      case '\t': out.append("\\t", 2); break;
      default:
        if (c < 0x20) {
          const char escaped[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
          out.append(escaped, 6);
        } else {
          out.append("\xEF\xBF\xBD", 3);  // U+FFFD for a byte that starts no valid sequence
        }
    }
    ++at;
    plain_start = at;
  }
  out.append(value.data() + plain_start, size - plain_start);
  out.push_back('"');
}

std::int64_t filetime_to_unix_microseconds(std::uint64_t filetime) {
  return static_cast<std::int64_t>(filetime / 10) - static_cast<std::int64_t>(cv::seconds_1601_to_1970 * 1000000);
}

void append_iso_time(text_buffer& out, std::uint64_t filetime) {
  const std::uint64_t seconds_since_1601 = filetime / cv::ticks_per_second;
  const std::uint64_t fraction = filetime % cv::ticks_per_second;
  const std::int64_t unix_seconds =
      static_cast<std::int64_t>(seconds_since_1601) - static_cast<std::int64_t>(cv::seconds_1601_to_1970);
  std::int64_t days = unix_seconds / 86400;
  std::int64_t second_of_day = unix_seconds % 86400;
  if (second_of_day < 0) {
    second_of_day += 86400;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  civil_from_days(days, year, month, day);
  char* start = out.room(32);
  char* at = digits(start, static_cast<std::uint64_t>(year), 4);
  *at++ = '-';
  at = digits(at, month, 2);
  *at++ = '-';
  at = digits(at, day, 2);
  *at++ = 'T';
  at = digits(at, static_cast<std::uint64_t>(second_of_day / 3600), 2);
  *at++ = ':';
  at = digits(at, static_cast<std::uint64_t>(second_of_day / 60 % 60), 2);
  *at++ = ':';
  at = digits(at, static_cast<std::uint64_t>(second_of_day % 60), 2);
  *at++ = '.';
  at = digits(at, fraction, 7);
  *at++ = 'Z';
  out.commit(at);
}

void json_object::number(std::string_view key, std::uint64_t value) {
  name(key);
  char* start = m_out->room(24);
  m_out->commit(std::to_chars(start, start + 24, value).ptr);
}

void json_object::signed_number(std::string_view key, std::int64_t value) {
  name(key);
  char* start = m_out->room(24);
  m_out->commit(std::to_chars(start, start + 24, value).ptr);
}

}  // namespace output
