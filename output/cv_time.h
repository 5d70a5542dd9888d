// Time values: the FILETIME every NTFS timestamp is kept in, the other
// encodings that are turned into one, and the date and time texts printed
// for them.
//
// A FILETIME is an unsigned count of 100-ns ticks since 1601-01-01 00:00:00
// UTC (proleptic Gregorian). Everything here is UTC; the host's local time
// zone only takes part in one validity rule for years above 3000.
//
// Printable times: a FILETIME is printed when its UTC year is 1900 through
// 3000 (or later while it is still at most year 3000 in the host's local
// time) and it does not fall within the first second of 1970-01-01, which
// many writers use as a "no time" marker. 0 and values with the top bit set
// are never printed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

namespace cv {

inline constexpr std::uint64_t ticks_per_second = 10'000'000;
// FILETIME of 1970-01-01 00:00:00 UTC (11644473600 seconds after 1601).
inline constexpr std::uint64_t filetime_of_unix_epoch = 116'444'736'000'000'000ULL;
inline constexpr std::uint64_t seconds_1601_to_1970 = filetime_of_unix_epoch / ticks_per_second;
// Ticks from the UUID epoch (1582-10-15) to 1601-01-01.
inline constexpr std::uint64_t uuid_epoch_to_filetime_ticks = 5'748'192'000'000'000ULL;
// Seconds from 1601-01-01 to the OLE automation epoch (1899-12-30) and to
// the Cocoa/Safari epoch (2001-01-01).
inline constexpr std::int64_t seconds_1601_to_ole_epoch = 9'435'312'000LL;
inline constexpr std::int64_t seconds_1601_to_2001 = 12'622'780'800LL;

// UTC calendar fields, laid out like the Windows SYSTEMTIME structure.
struct _windows_systemtime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;        // 1..12
  std::uint16_t day_of_week = 0;  // 0 = Sunday
  std::uint16_t day = 0;          // 1..31
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

// The encoding of a raw time value. Each kind is one bit so that callers
// can keep sets of kinds in one word.
enum type_time : std::uint32_t {
  filetime = 1,             // 100-ns ticks since 1601-01-01
  chrome = 2,               // microseconds since 1601-01-01
  firefox3 = 4,             // microseconds since 1970-01-01
  unix_time = 8,            // seconds since 1970-01-01
  unix_millisec_time = 16,  // milliseconds since 1970-01-01
  dos_time = 32,            // FAT date and time words (display only)
  ntp = 64,                 // display only
  guid = 128,               // timestamp inside a version-1 UUID
  ole = 256,                // double: days since 1899-12-30
  system_time = 512,        // display only
  system_time_alt = 1024,   // display only, shown as "system time" too
  vhd_time = 2048,          // display only
  qpc_time = 4096,          // display only
  csharp_time = 32768,      // display only
  snowflake_time = 0x20000, // display only
  safari_time = 0x40000,    // seconds (or nanoseconds) since 2001-01-01
  hfs_plus_time = 0x80000,  // display only
};

// Display name of a kind ("filetime", "unix time", ...); "unknown" for a
// value that is not one of the kinds above.
const char* type_time_name(type_time kind);

// One time value: a FILETIME with its UTC calendar breakdown and whether it
// is printable. Plain value type, no heap members.
class time {
 public:
  // Clears the value and loads a raw value of the given kind. Returns
  // valid(). For "ole" the 64 bits are the IEEE double as stored on disk.
  // For "safari time" a value up to 0xFFFFFFFF is seconds since 2001-01-01,
  // a larger one nanoseconds since then. Kinds marked "display only" above
  // are not converted and give false.
  bool set_time(std::uint64_t value, type_time kind);
  // "ole" (days since 1899-12-30) and "safari time" (seconds since
  // 2001-01-01) held as a double; other kinds give false. The fraction is
  // rounded to the nearest 100-ns tick.
  bool set_time_double(double value, type_time kind);
  // Reads the raw value at offset: 16 bytes for "guid", 4 for "unix time"
  // (a 32-bit count), 8 for every other kind. False when the buffer is too
  // short (the value is then cleared).
  bool set_time_from_bytes(std::span<const std::uint8_t> bytes, std::size_t offset, type_time kind);
  void clear() { *this = time{}; }

  bool valid() const { return m_valid; }
  // The converted FILETIME, kept even when it is not printable; 0 when the
  // raw value meant "no time" or could not be represented.
  std::uint64_t filetime() const { return m_filetime; }
  std::uint32_t filetime_low() const { return m_filetime_low; }
  std::uint32_t filetime_high() const { return m_filetime_high; }
  // (FILETIME - 1970 epoch) / 10^7 in unsigned arithmetic: a time before
  // 1970 gives a large positive number, as the bodyfile layout expects.
  std::int64_t unix_seconds() const { return m_unix_seconds; }
  const _windows_systemtime& calendar() const { return m_calendar; }
  // Sub-second part: tick remainder / 10, × 100, × 100000.
  std::uint64_t microseconds() const { return m_microseconds; }
  std::uint64_t nanoseconds() const { return m_nanoseconds; }
  std::uint64_t picoseconds() const { return m_picoseconds; }
  // FAT date and time words; 0 outside the years 1980..2037.
  std::uint16_t dos_date() const { return m_dos_date; }
  std::uint16_t dos_time() const { return m_dos_time; }
  // Breakdown in the host's local time zone (years 1970..3000 only);
  // never printed, kept for callers that want it.
  const std::tm& local_calendar() const { return m_local; }
  bool local_failed() const { return m_local_failed; }

  // "guid" kind extras from a 16-byte version-1 UUID: the clock sequence
  // (bytes 8..9, big-endian, low 14 bits) and the node (bytes 10..15).
  std::uint16_t clock_sequence() const { return m_clock_sequence; }
  const std::array<std::uint8_t, 6>& node() const { return m_node; }

 private:
  bool load_filetime(std::uint64_t value);
  bool load_guid(std::span<const std::uint8_t> uuid_bytes);

  std::int64_t m_unix_seconds = 0;
  std::uint64_t m_filetime = 0;
  std::uint32_t m_filetime_low = 0;
  std::uint32_t m_filetime_high = 0;
  std::uint16_t m_dos_date = 0;
  std::uint16_t m_dos_time = 0;
  std::tm m_local{};
  _windows_systemtime m_calendar{};
  std::uint64_t m_microseconds = 0;
  std::uint64_t m_nanoseconds = 0;
  std::uint64_t m_picoseconds = 0;
  bool m_valid = false;
  bool m_local_failed = false;
  std::uint16_t m_clock_sequence = 0;
  std::array<std::uint8_t, 6> m_node{};
};

// A compiled date/time text form (-dateformat, -timeformat, -pair_datetime).
// When the first four bytes are all zero the form is "not compiled" and the
// default patterns "yyyy-mm-dd" and "hh:mm:ss.xxx" are used.
struct datetime_format {
  char separator = 0;            // between date fields; 0 = nothing
  std::uint8_t date_flags = 0;   // date_flag bits
  std::uint8_t time_flags = 0;   // time_flag bits and fraction digits
  std::uint8_t reserved = 0;
  std::uint16_t lowest_year = 0;   // carried, not used for formatting
  std::uint16_t highest_year = 0;  // carried, not used for formatting
  std::uint32_t reserved2 = 0;
};

namespace date_flag {
inline constexpr std::uint8_t month_name = 1;    // "mmm": Jan..Dec
inline constexpr std::uint8_t month_digits = 2;  // "mm"
inline constexpr std::uint8_t year_four = 4;     // "yyyy"
inline constexpr std::uint8_t year_two = 8;      // "yy"
inline constexpr std::uint8_t comma = 16;        // the pattern holds ","
inline constexpr std::uint8_t order_dmy = 32;
inline constexpr std::uint8_t order_mdy = 64;
inline constexpr std::uint8_t order_ymd = 128;
}  // namespace date_flag

namespace time_flag {
inline constexpr std::uint8_t pair = 1;  // -pair_datetime; read by the writers
inline constexpr unsigned fraction_shift = 1;
inline constexpr std::uint8_t fraction_mask = 0x1E;  // digits 0..9 in bits 1..4
}  // namespace time_flag

inline bool is_compiled(const datetime_format& format) {
  return format.separator != 0 || format.date_flags != 0 || format.time_flags != 0 || format.reserved != 0;
}
inline bool pair_datetime(const datetime_format& format) { return (format.time_flags & time_flag::pair) != 0; }
inline unsigned fraction_digits(const datetime_format& format) {
  return (format.time_flags & time_flag::fraction_mask) >> time_flag::fraction_shift;
}

// Compiles lowercased patterns. False when the date pattern lacks a day,
// month or year field or puts them in an order other than d-m-y, m-d-y or
// y-m-d; the fields set up to that point are kept.
bool make_datetime_format(datetime_format& out, std::string_view date_pattern, std::string_view time_pattern, bool pair);

// Date and time texts of a value; both empty when it is not printable.
void date_time_text(std::string& date_out, std::string& time_out, const time& value, const datetime_format& format);
void date_time_text_by_pattern(std::string& date_out, std::string& time_out, const time& value,
                                   std::string_view date_pattern, std::string_view time_pattern);

// Column widths of -dateformat / -timeformat values; 0 for a refused value.
std::size_t date_format_width(std::string_view pattern);
std::size_t time_format_width(std::string_view pattern);

// User date text: mm/dd/yy[yy], m-d-yy, dd-Mon-yy[yy] and the like.
// Outputs are set to 0 on failure.
bool parse_date_text(std::string_view text, int& day, int& month, int& year);
// User time text: h:mm[:ss[.fff]] with an optional am/pm. No range checks.
// Outputs are set to 0 on failure.
bool parse_time_text(std::string_view text, int& hour, int& minute, double& seconds);
// Both of the above into calendar fields (an empty time text is midnight).
// out is cleared on failure.
bool parse_user_datetime(std::string_view date_text, std::string_view time_text, _windows_systemtime& out);
// Gregorian calendar fields (UTC) to FILETIME. Months above 12 carry into
// the year and days beyond the month's end carry into the next month.
// 0 for a date before 1601-01-01 or beyond the FILETIME range.
std::uint64_t calendar_to_filetime(const _windows_systemtime& calendar);
// The whole -filter_start_time / -filter_stop_time value: split at the
// first blank; without a blank the time is 00:00:00 for a start and
// 23:59:59 for a stop. False when it does not parse (out untouched).
bool user_text_to_filetime(std::string_view value, bool is_stop, std::uint64_t& out);

// (ft - 1970 epoch) / 10^7 for ft > 0 with the top bit clear, else 0. A
// time before 1970 wraps to a very large number (unsigned arithmetic).
std::uint64_t filetime_to_unix_seconds(std::uint64_t filetime);
// The host's current time, whole seconds, as FILETIME.
std::uint64_t current_filetime();
// Host local time minus UTC, in seconds, taken once per process.
std::int64_t host_utc_offset_seconds();

// Hot path for every output line: formats one FILETIME into fixed buffers
// without heap allocation. False (both lengths 0) when the value is not
// printable. Gives exactly the texts of date_time_text. Both texts are
// also NUL-terminated.
struct filetime_text {
  char date[24];
  std::uint8_t date_length;
  char time[24];
  std::uint8_t time_length;
};
bool format_filetime(std::uint64_t filetime, const datetime_format& format, filetime_text& out);

namespace detail {
// UTC fields of a FILETIME, shared by the value class and the formatter so
// that both apply the same validity rule.
struct filetime_fields {
  std::int64_t days = 0;  // whole days since 1601-01-01
  std::int32_t year = 0;
  std::uint8_t month = 0;
  std::uint8_t day = 0;
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  std::uint32_t ticks = 0;  // 100-ns ticks within the second
};
// False for 0 and for values with the top bit set.
bool split_filetime(std::uint64_t filetime, filetime_fields& out);
// The printable rule (see the top of this file) for split fields.
bool printable(std::uint64_t filetime, const filetime_fields& fields);
// Days from 1970-01-01 to a proleptic Gregorian date, and back.
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day);
void civil_from_days(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day);
}  // namespace detail

}  // namespace cv
