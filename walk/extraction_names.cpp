#include "walk/extraction_names.h"

#include "support/number_text.h"

#include <algorithm>

namespace walk {

namespace {

constexpr std::uint64_t ticks_per_millisecond = 10'000;
constexpr std::uint64_t milliseconds_per_day = 86'400'000;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t days_1601_to_1970 = 134'774;

void append_digits(std::string& out, std::uint64_t value, int width) { support::append_decimal(out, value, width); }

bool unsafe_byte(unsigned char c) { return c < 0x20 || c == 0x7F || c == '/' || c == '\\'; }

}  // namespace

void append_copy_time(std::string& out, std::uint64_t filetime) {
  // Every FILETIME has a calendar date (year 1601 to 30828); the text is
  // written even for times the timeline would not print, so that the file
  // still gets a name.
  const std::uint64_t total_ms = filetime / ticks_per_millisecond;
  const std::uint64_t ms_of_day = total_ms % milliseconds_per_day;
  // Civil date from a day count since 1970 (proleptic Gregorian, 400-year eras).
  const std::int64_t z = static_cast<std::int64_t>(total_ms / milliseconds_per_day) - days_1601_to_1970 + 719'468;
  const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const std::int64_t day_of_era = z - era * 146'097;
  const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36'524 - day_of_era / 146'096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;  // March = 0
  const std::int64_t day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  const std::int64_t month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);

  append_digits(out, static_cast<std::uint64_t>(year), 4);
  out.push_back('_');
  append_digits(out, static_cast<std::uint64_t>(month), 2);
  out.push_back('_');
  append_digits(out, static_cast<std::uint64_t>(day), 2);
  out.push_back('_');
  append_digits(out, ms_of_day / 3'600'000, 2);
  append_digits(out, ms_of_day / 60'000 % 60, 2);
  out.push_back('_');
  append_digits(out, ms_of_day / 1000 % 60, 2);
  out.push_back('_');
  append_digits(out, ms_of_day % 1000, 3);
}

void append_safe_bytes(std::string& out, std::string_view text) {
  for (const char c : text) out.push_back(unsafe_byte(static_cast<unsigned char>(c)) ? '_' : c);
}

std::size_t utf8_cut(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t end = limit;
  // Back up over continuation bytes (10xxxxxx) to the start of a character.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return end;
}

void safe_folder_name(std::string_view text, std::string& out) {
  out.clear();
  append_safe_bytes(out, text.substr(0, utf8_cut(text, name_max_bytes)));
  if (out.empty() || out == "." || out == "..") out.assign(std::max<std::size_t>(out.size(), 1), '_');
}

void directory_folder_text(std::string_view path, std::string& out) {
  out.clear();
  if (!path.empty() && (path.front() == '\\' || path.front() == '/')) out.append("[root]");
  for (const char c : path) {
    if (c == '\\' || c == '/') {
      out.push_back('-');
    } else if (c == ' ') {
      out.push_back('_');
    } else if (c != ':') {
      out.push_back(c);
    }
  }
}

void compose_copy_name(const copy_name_parts& parts, std::string& out) {
  out.clear();
  append_copy_time(out, parts.modified);
  out.push_back('_');
  // Short digests are zero-filled on the left.
  for (std::size_t i = parts.md5_hex.size(); i < 32; ++i) out.push_back('0');
  append_safe_bytes(out, parts.md5_hex);
  out.push_back('_');

  const bool has_label = !parts.label.empty() && parts.label != "unnamed data";
  const std::size_t fixed = out.size() + (parts.stream.empty() ? 0 : 1) + (has_label ? 1 + parts.label.size() : 0) +
                            (parts.bin_suffix ? 4 : 0);
  const std::size_t room = fixed < name_max_bytes ? name_max_bytes - fixed : 0;
  std::size_t name_keep = parts.name.size();
  std::size_t stream_keep = parts.stream.size();
  if (name_keep + stream_keep > room) {
    // Share the room; a part shorter than its half leaves the rest to the other.
    const std::size_t half = room / 2;
    if (name_keep <= half) {
      stream_keep = room - name_keep;
    } else if (stream_keep <= half) {
      name_keep = room - stream_keep;
    } else {
      name_keep = half;
      stream_keep = room - half;
    }
  }
  append_safe_bytes(out, parts.name.substr(0, utf8_cut(parts.name, name_keep)));
  if (!parts.stream.empty()) {
    out.push_back('.');
    append_safe_bytes(out, parts.stream.substr(0, utf8_cut(parts.stream, stream_keep)));
  }
  if (has_label) {
    out.push_back('_');
    append_safe_bytes(out, parts.label);
  }
  if (parts.bin_suffix) out.append(".bin");
}

}  // namespace walk
