// Text forms of time values: compiling the -dateformat / -timeformat
// patterns, writing the date and time texts of a FILETIME, and parsing the
// user's date and time texts of the time filter.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

#include "output/cv_time.h"

namespace cv {

namespace {

constexpr std::size_t npos = std::string_view::npos;

constexpr std::array<std::string_view, 12> month_names = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool contains(std::string_view text, std::string_view part) { return text.find(part) != npos; }

// ---------------------------------------------------------------------------
// Writing texts. A compiled format and a pair of pattern strings are both
// reduced to one text_plan, so that a single writer produces every text.

enum class date_field : std::uint8_t { none, day, month, year };

struct text_plan {
  std::array<date_field, 3> order{};  // order[0] == none: no date text
  char separator = 0;                 // between date fields; 0 = nothing
  bool comma_after_day = false;
  bool month_name = false;
  bool two_digit_year = false;
  bool hour_minute = false;
  bool second = false;
  unsigned fraction_digits = 0;  // 0..9
};

// Digits from the first "xxx" to the last "x" of a time pattern; 0 without "xxx".
std::size_t fraction_digit_count(std::string_view time_pattern) {
  const auto first = time_pattern.find("xxx");
  if (first == npos) return 0;
  return time_pattern.rfind('x') - first + 1;
}

text_plan plan_from_format(const datetime_format& format) {
  using namespace date_flag;
  text_plan plan;
  const std::uint8_t flags = format.date_flags;
  if ((flags & order_dmy) != 0) {
    plan.order = {date_field::day, date_field::month, date_field::year};
  } else if ((flags & order_mdy) != 0) {
    plan.order = {date_field::month, date_field::day, date_field::year};
    // "mmm dd, yy" gives "Jan 05, 20".
    plan.comma_after_day = format.separator == ' ' && (flags & comma) != 0;
  } else if ((flags & order_ymd) != 0) {
    plan.order = {date_field::year, date_field::month, date_field::day};
  }
  // A pattern without any separator (yyyymmdd) gets none between the fields.
  plan.separator = format.separator;
  plan.month_name = (flags & month_name) != 0;
  plan.two_digit_year = (flags & year_two) != 0;
  plan.hour_minute = true;
  plan.second = true;
  plan.fraction_digits = std::min(fraction_digits(format), 9U);
  return plan;
}

text_plan plan_from_patterns(std::string_view date_pattern, std::string_view time_pattern) {
  text_plan plan;
  if (!date_pattern.empty()) {
    plan.month_name = contains(date_pattern, "mmm");
    plan.two_digit_year = !contains(date_pattern, "yyyy") && contains(date_pattern, "yy");
    const auto month_at = date_pattern.find("mm");
    const auto year_at = date_pattern.find("yy");
    const auto day_at = date_pattern.find("dd");
    if (month_at == npos || year_at == npos || day_at == npos) {
      // Without all three fields the date falls back to month/day/year.
      plan.order = {date_field::month, date_field::day, date_field::year};
      plan.separator = '/';
    } else {
      if (contains(date_pattern, "/")) {
        plan.separator = '/';
      } else if (contains(date_pattern, "-")) {
        plan.separator = '-';
      } else if (contains(date_pattern, " ")) {
        plan.separator = ' ';
      } else {
        plan.separator = '/';
      }
      const bool month_first = month_at < day_at;
      const date_field first = month_first ? date_field::month : date_field::day;
      const date_field second = month_first ? date_field::day : date_field::month;
      plan.comma_after_day = month_first && plan.separator == ' ' && date_pattern.find(',', day_at) != npos;
      if (year_at == 0) {
        plan.order = {date_field::year, first, second};
      } else {
        plan.order = {first, second, date_field::year};
      }
    }
  }
  if (!time_pattern.empty()) {
    plan.hour_minute = contains(time_pattern, "hh:mm");
    plan.second = contains(time_pattern, "ss");
    const std::size_t digits = fraction_digit_count(time_pattern);
    plan.fraction_digits = digits <= 9 ? static_cast<unsigned>(digits) : 0;
  }
  return plan;
}

const text_plan& default_plan() {
  static const text_plan plan = plan_from_patterns("yyyy-mm-dd", "hh:mm:ss.xxx");
  return plan;
}

// Writes value as exactly count decimal digits, zero-padded on the left.
char* put_digits(char* out, std::uint64_t value, unsigned count) {
  for (unsigned i = count; i-- > 0;) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + count;
}

std::size_t write_date(const text_plan& plan, const detail::filetime_fields& fields, char* out) {
  if (plan.order[0] == date_field::none) return 0;
  char* cursor = out;
  for (std::size_t i = 0; i < plan.order.size(); ++i) {
    if (i > 0 && plan.separator != 0) *cursor++ = plan.separator;
    switch (plan.order[i]) {
      case date_field::day:
        cursor = put_digits(cursor, fields.day, 2);
        if (plan.comma_after_day) *cursor++ = ',';
        break;
      case date_field::month:
        if (plan.month_name) {
          std::memcpy(cursor, month_names[fields.month - 1].data(), 3);
          cursor += 3;
        } else {
          cursor = put_digits(cursor, fields.month, 2);
        }
        break;
      case date_field::year:
        // Printable years never exceed four digits.
        if (plan.two_digit_year) {
          cursor = put_digits(cursor, static_cast<std::uint64_t>(fields.year) % 100, 2);
        } else {
          cursor = put_digits(cursor, static_cast<std::uint64_t>(fields.year), 4);
        }
        break;
      case date_field::none:
        break;
    }
  }
  return static_cast<std::size_t>(cursor - out);
}

std::size_t write_time(const text_plan& plan, const detail::filetime_fields& fields, char* out) {
  char* cursor = out;
  if (plan.hour_minute) {
    cursor = put_digits(cursor, fields.hour, 2);
    *cursor++ = ':';
    cursor = put_digits(cursor, fields.minute, 2);
  }
  if (plan.second) {
    *cursor++ = ':';
    cursor = put_digits(cursor, fields.second, 2);
  }
  if (plan.fraction_digits != 0) {
    // The fraction is truncated, never rounded: its first n of the nine
    // nanosecond digits (a tick is 100 ns, so the last two are always 0).
    static constexpr std::array<std::uint64_t, 10> powers = {1,         10,         100,         1'000,
                                                             10'000,    100'000,    1'000'000,   10'000'000,
                                                             100'000'000, 1'000'000'000};
    const std::uint64_t nanoseconds = std::uint64_t{fields.ticks} * 100;
    *cursor++ = '.';
    cursor = put_digits(cursor, nanoseconds / powers[9 - plan.fraction_digits], plan.fraction_digits);
  }
  return static_cast<std::size_t>(cursor - out);
}

bool write_texts(std::uint64_t filetime, const text_plan& plan, filetime_text& out) {
  out.date_length = 0;
  out.time_length = 0;
  out.date[0] = '\0';
  out.time[0] = '\0';
  detail::filetime_fields fields;
  if (!detail::split_filetime(filetime, fields) || !detail::printable(filetime, fields)) return false;
  // At most 12 date and 18 time characters, well inside the buffers.
  const std::size_t date_length = write_date(plan, fields, out.date);
  const std::size_t time_length = write_time(plan, fields, out.time);
  out.date[date_length] = '\0';
  out.time[time_length] = '\0';
  out.date_length = static_cast<std::uint8_t>(date_length);
  out.time_length = static_cast<std::uint8_t>(time_length);
  return true;
}

void assign_texts(std::string& date_out, std::string& time_out, const time& value, const text_plan& plan) {
  date_out.clear();
  time_out.clear();
  if (!value.valid()) return;
  filetime_text text;
  if (!write_texts(value.filetime(), plan, text)) return;
  date_out.assign(text.date, text.date_length);
  time_out.assign(text.time, text.time_length);
}

// ---------------------------------------------------------------------------
// Parsing helpers

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char to_lower_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The decimal number the text starts with (0 without a leading digit),
// saturated at 999999999 so that absurd input cannot overflow.
int leading_number(std::string_view text) {
  constexpr int limit = 999'999'999;
  int value = 0;
  for (const char c : text) {
    if (!is_digit(c)) break;
    if (value > (limit - 9) / 10) return limit;
    value = value * 10 + (c - '0');
  }
  return value;
}

// 1..12 for a field starting with a three-letter English month
// abbreviation (any case), else 0.
int month_from_name(std::string_view field) {
  if (field.size() < 3) return 0;
  for (std::size_t i = 0; i < month_names.size(); ++i) {
    const std::string_view name = month_names[i];
    bool same = true;
    for (std::size_t k = 0; k < 3; ++k) same = same && to_lower_ascii(field[k]) == to_lower_ascii(name[k]);
    if (same) return static_cast<int>(i + 1);
  }
  return 0;
}

// A day or month field: a number when it starts with a digit, else a
// month name.
int date_field_value(std::string_view field) {
  if (!field.empty() && is_digit(field.front())) return leading_number(field);
  return month_from_name(field);
}

// Seconds with an optional fraction ("45", "45.5", ".5"); 0 for anything else.
double seconds_value(std::string_view text) {
  if (text.empty() || !(is_digit(text.front()) || text.front() == '.')) return 0.0;
  double value = 0.0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  return result.ec == std::errc{} ? value : 0.0;
}

std::uint16_t clamp_to_u16(double value) {
  if (!(value >= 0.0)) return 0;
  if (value >= 65535.0) return 65535;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

// ---------------------------------------------------------------------------
// Formats

bool make_datetime_format(datetime_format& out, std::string_view date_pattern, std::string_view time_pattern,
                          bool pair) {
  using namespace date_flag;
  out = datetime_format{};
  out.lowest_year = 1900;
  out.highest_year = 2600;
  if (pair) out.time_flags |= time_flag::pair;

  if (!date_pattern.empty()) {
    if (contains(date_pattern, "/")) {
      out.separator = '/';
    } else if (contains(date_pattern, "-")) {
      out.separator = '-';
    } else if (contains(date_pattern, " ")) {
      out.separator = ' ';
    }

    auto month_at = date_pattern.find("mmm");
    if (month_at != npos) {
      out.date_flags |= month_name;
    } else {
      month_at = date_pattern.find("mm");
      if (month_at == npos) return false;
      out.date_flags |= month_digits;
    }

    auto year_at = date_pattern.find("yyyy");
    if (year_at != npos) {
      out.date_flags |= year_four;
    } else {
      year_at = date_pattern.find("yy");
      if (year_at == npos) return false;
      out.date_flags |= year_two;
    }

    if (contains(date_pattern, ",")) out.date_flags |= comma;

    const auto day_at = date_pattern.find("dd");
    if (day_at == npos) return false;
    if (day_at < month_at && month_at < year_at) {
      out.date_flags |= order_dmy;
    } else if (month_at < day_at && day_at < year_at) {
      out.date_flags |= order_mdy;
    } else if (year_at < month_at && month_at < day_at) {
      out.date_flags |= order_ymd;
    } else {
      return false;
    }
  }

  const std::size_t digits = std::min<std::size_t>(fraction_digit_count(time_pattern), 9);
  out.time_flags |= static_cast<std::uint8_t>(digits << time_flag::fraction_shift);
  return true;
}

bool format_filetime(std::uint64_t filetime, const datetime_format& format, filetime_text& out) {
  if (!is_compiled(format)) return write_texts(filetime, default_plan(), out);
  return write_texts(filetime, plan_from_format(format), out);
}

void date_time_text(std::string& date_out, std::string& time_out, const time& value,
                        const datetime_format& format) {
  if (!is_compiled(format)) {
    assign_texts(date_out, time_out, value, default_plan());
  } else {
    assign_texts(date_out, time_out, value, plan_from_format(format));
  }
}

void date_time_text_by_pattern(std::string& date_out, std::string& time_out, const time& value,
                                   std::string_view date_pattern, std::string_view time_pattern) {
  assign_texts(date_out, time_out, value, plan_from_patterns(date_pattern, time_pattern));
}

std::size_t date_format_width(std::string_view pattern) {
  return pattern.size() == 8 || pattern.size() == 10 ? pattern.size() : 0;
}

std::size_t time_format_width(std::string_view pattern) {
  if (!contains(pattern, ":")) return 0;
  if (pattern.size() == 8) return 8;
  if (pattern.size() >= 12 && pattern.size() <= 18 && contains(pattern, ".xxx")) return pattern.size();
  return 0;
}

// ---------------------------------------------------------------------------
// User text

bool parse_date_text(std::string_view text, int& day, int& month, int& year) {
  day = 0;
  month = 0;
  year = 0;
  text = text.substr(0, 512);

  char separator = '-';
  auto first = text.find(separator);
  if (first == npos) {
    separator = '/';
    first = text.find(separator);
    if (first == npos) return false;
  }
  const auto second = text.find(separator, first + 1);
  if (second == npos) return false;

  const std::string_view field1 = text.substr(0, first);
  const std::string_view field2 = text.substr(first + 1, second - first - 1);
  if (field1.size() > 2 || field2.size() > 3 || second + 1 >= text.size()) return false;
  std::string_view field3 = text.substr(second + 1);
  field3 = field3.substr(0, std::min<std::size_t>(field3.find(' '), 4));
  if (field3.empty() || !is_digit(field3.front())) return false;

  int parsed_day = 0;
  int parsed_month = 0;
  if (!field2.empty() && is_digit(field2.front())) {
    parsed_month = date_field_value(field1);  // 07/04/2019
    parsed_day = date_field_value(field2);
  } else {
    parsed_day = date_field_value(field1);  // 04-Jul-2019
    parsed_month = date_field_value(field2);
  }
  int parsed_year = leading_number(field3);
  if (field3.size() == 2) parsed_year += parsed_year < 31 ? 2000 : 1900;

  if (parsed_month < 1 || parsed_month > 12 || parsed_day < 1 || parsed_day > 31) return false;
  day = parsed_day;
  month = parsed_month;
  year = parsed_year;
  return true;
}

bool parse_time_text(std::string_view text, int& hour, int& minute, double& seconds) {
  hour = 0;
  minute = 0;
  seconds = 0.0;
  constexpr std::string_view blanks = " \t\r\n";
  const auto begin = text.find_first_not_of(blanks);
  if (begin == npos) return false;
  text = text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
  std::string lowered(text);
  for (char& c : lowered) c = to_lower_ascii(c);
  const std::string_view t = lowered;

  const auto first_colon = t.find(':');
  if (first_colon == npos) return false;
  int parsed_hour = leading_number(t.substr(0, first_colon));

  // An "am"/"pm" marker: the first "m" after the colon with "a" or "p"
  // just before it. The fields end there (or at a blank just before it).
  std::size_t fields_end = t.size();
  bool has_marker = false;
  const auto m_at = t.find('m', first_colon + 1);
  if (m_at != npos && (t[m_at - 1] == 'a' || t[m_at - 1] == 'p')) {
    has_marker = true;
    if (t[m_at - 1] == 'p') parsed_hour += 12;  // 12:15 pm becomes hour 24 and carries into the next day
    fields_end = m_at - 1;
    if (fields_end > first_colon + 1 && t[fields_end - 1] == ' ') --fields_end;
  }

  const auto second_colon = t.find(':', first_colon + 1);
  std::string_view minute_text;
  if (second_colon != npos) {
    minute_text = t.substr(first_colon + 1, second_colon - first_colon - 1);
  } else if (has_marker) {
    minute_text = t.substr(first_colon + 1, fields_end - (first_colon + 1));
  } else {
    minute_text = t.substr(first_colon + 1);
  }
  if (minute_text.empty() || minute_text.size() > 31) return false;

  double parsed_seconds = 0.0;
  if (second_colon != npos) {
    const std::size_t seconds_end = has_marker && fields_end > second_colon ? fields_end : t.size();
    parsed_seconds = seconds_value(t.substr(second_colon + 1, seconds_end - (second_colon + 1)));
  }

  hour = parsed_hour;
  minute = leading_number(minute_text);
  seconds = parsed_seconds;
  return true;
}

bool parse_user_datetime(std::string_view date_text, std::string_view time_text, _windows_systemtime& out) {
  out = _windows_systemtime{};
  int day = 0;
  int month = 0;
  int year = 0;
  if (!parse_date_text(date_text, day, month, year)) return false;
  int hour = 0;
  int minute = 0;
  double seconds = 0.0;
  if (!time_text.empty() && !parse_time_text(time_text, hour, minute, seconds)) return false;

  const double whole_seconds = std::trunc(seconds);
  out.year = clamp_to_u16(year);
  out.month = clamp_to_u16(month);
  out.day = clamp_to_u16(day);
  out.hour = clamp_to_u16(hour);
  out.minute = clamp_to_u16(minute);
  out.second = clamp_to_u16(whole_seconds);
  out.milliseconds = clamp_to_u16(std::trunc((seconds - whole_seconds) * 1000.0 + 0.5));
  return true;
}

bool user_text_to_filetime(std::string_view value, bool is_stop, std::uint64_t& out) {
  const auto blank = value.find(' ');
  const std::string_view date_text = value.substr(0, blank);
  const std::string_view time_text = blank != npos ? value.substr(blank + 1) : (is_stop ? "23:59:59" : "00:00:00");
  _windows_systemtime calendar;
  if (!parse_user_datetime(date_text, time_text, calendar)) return false;
  out = calendar_to_filetime(calendar);
  return true;
}

}  // namespace cv
