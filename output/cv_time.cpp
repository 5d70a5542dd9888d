// Time values: conversion of raw encodings into FILETIME, the UTC calendar
// breakdown and its validity, and calendar fields back to FILETIME.
#include "output/cv_time.h"

#include <sys/time.h>

#include <bit>
#include <cmath>

#include "support/byte_reader.h"

namespace cv {

namespace {

constexpr std::uint64_t seconds_per_day = 86'400;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t days_1601_to_1970 = 134'774;
constexpr std::uint64_t filetime_negative_bit = 1ULL << 63;
// Largest second count since 1601 that still gives a FILETIME below 2^63.
constexpr std::uint64_t max_seconds_since_1601 = (filetime_negative_bit - 1) / ticks_per_second - 1;

// Seconds since 1601 plus ticks to FILETIME; 0 when out of range.
std::uint64_t ticks_from_seconds(std::uint64_t seconds_since_1601, std::uint64_t ticks) {
  if (seconds_since_1601 > max_seconds_since_1601) return 0;
  return seconds_since_1601 * ticks_per_second + ticks;
}

// Seconds since 1970 plus ticks; 0 when out of range.
std::uint64_t ticks_from_unix(std::uint64_t unix_seconds, std::uint64_t ticks) {
  if (unix_seconds > max_seconds_since_1601 - seconds_1601_to_1970) return 0;
  return ticks_from_seconds(unix_seconds + seconds_1601_to_1970, ticks);
}

// A second count (with fraction) since an epoch given in seconds after
// 1601. The whole and fractional parts are split before the epoch is added
// so that the fraction keeps its precision; it is rounded to the nearest tick.
std::uint64_t ticks_from_double_seconds(double seconds, std::int64_t epoch_seconds_since_1601) {
  if (!std::isfinite(seconds)) return 0;
  const double whole = std::floor(seconds);
  // Keeps the integer conversion below in range; such values are far
  // outside every printable year anyway.
  if (whole < -1e15 || whole > 1e15) return 0;
  auto tick_part = static_cast<std::uint64_t>(std::llround((seconds - whole) * static_cast<double>(ticks_per_second)));
  std::int64_t since_1601 = static_cast<std::int64_t>(whole) + epoch_seconds_since_1601;
  if (tick_part >= ticks_per_second) {
    tick_part -= ticks_per_second;
    ++since_1601;
  }
  if (since_1601 < 0) return 0;
  return ticks_from_seconds(static_cast<std::uint64_t>(since_1601), tick_part);
}

// The first 8 bytes of a UUID as a little-endian number: time_low, time_mid
// and time_hi_and_version, the version in the top nibble. Only version 1
// carries a time, in 100-ns units since 1582-10-15.
std::uint64_t filetime_from_uuid_word(std::uint64_t first_eight_bytes) {
  if ((first_eight_bytes >> 60) != 1) return 0;
  const std::uint64_t timestamp = first_eight_bytes & 0x0FFF'FFFF'FFFF'FFFFULL;
  if (timestamp < uuid_epoch_to_filetime_ticks) return 0;
  return timestamp - uuid_epoch_to_filetime_ticks;
}

bool local_year_in_range(std::int64_t local_seconds_since_1970, std::tm* breakdown) {
  if (local_seconds_since_1970 < 0) return false;
  const std::int64_t days = local_seconds_since_1970 / static_cast<std::int64_t>(seconds_per_day);
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  detail::civil_from_days(days, year, month, day);
  if (year < 1970 || year > 3000) return false;
  if (breakdown != nullptr) {
    const std::int64_t second_of_day = local_seconds_since_1970 % static_cast<std::int64_t>(seconds_per_day);
    breakdown->tm_year = static_cast<int>(year - 1900);
    breakdown->tm_mon = static_cast<int>(month) - 1;
    breakdown->tm_mday = static_cast<int>(day);
    breakdown->tm_hour = static_cast<int>(second_of_day / 3600);
    breakdown->tm_min = static_cast<int>(second_of_day / 60 % 60);
    breakdown->tm_sec = static_cast<int>(second_of_day % 60);
    breakdown->tm_wday = static_cast<int>((days + 4) % 7);  // 1970-01-01 was a Thursday
    breakdown->tm_yday = static_cast<int>(days - detail::days_from_civil(year, 1, 1));
    breakdown->tm_isdst = -1;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Calendar arithmetic (the days_from_civil / civil_from_days algorithms of
// H. Hinnant, "chrono-Compatible Low-Level Date Algorithms"). Eras are 400
// Gregorian years of 146097 days counted from 0000-03-01, so that the leap
// day falls at the end of each computed year.

namespace detail {

std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<std::int64_t>(year - era * 400);
  const std::int64_t shifted_month = month > 2 ? month - 3 : month + 9;
  const std::int64_t day_of_year = (153 * shifted_month + 2) / 5 + static_cast<std::int64_t>(day) - 1;
  const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

void civil_from_days(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
  day = static_cast<unsigned>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  month = static_cast<unsigned>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
}

bool split_filetime(std::uint64_t filetime, filetime_fields& out) {
  if (filetime == 0 || (filetime & filetime_negative_bit) != 0) return false;
  const std::uint64_t seconds = filetime / ticks_per_second;
  out.ticks = static_cast<std::uint32_t>(filetime % ticks_per_second);
  const std::uint64_t second_of_day = seconds % seconds_per_day;
  out.days = static_cast<std::int64_t>(seconds / seconds_per_day);
  out.hour = static_cast<std::uint8_t>(second_of_day / 3600);
  out.minute = static_cast<std::uint8_t>(second_of_day / 60 % 60);
  out.second = static_cast<std::uint8_t>(second_of_day % 60);
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  civil_from_days(out.days - days_1601_to_1970, year, month, day);
  out.year = static_cast<std::int32_t>(year);  // at most year 30828 below 2^63
  out.month = static_cast<std::uint8_t>(month);
  out.day = static_cast<std::uint8_t>(day);
  return true;
}

bool printable(std::uint64_t filetime, const filetime_fields& fields) {
  // Within the first second of 1970: the "no time" marker of unix writers.
  if (filetime >= filetime_of_unix_epoch && filetime - filetime_of_unix_epoch < ticks_per_second) return false;
  if (fields.year < 1900) return false;
  if (fields.year <= 3000) return true;
  // Above 3000 the value is still taken while its local-time year is not.
  const auto unix_seconds = static_cast<std::int64_t>((filetime - filetime_of_unix_epoch) / ticks_per_second);
  return local_year_in_range(unix_seconds + host_utc_offset_seconds(), nullptr);
}

}  // namespace detail

std::int64_t host_utc_offset_seconds() {
  static const std::int64_t offset = [] {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return std::int64_t{0};
    const std::int64_t local_as_utc =
        detail::days_from_civil(std::int64_t{local.tm_year} + 1900, static_cast<unsigned>(local.tm_mon + 1),
                                static_cast<unsigned>(local.tm_mday)) *
            static_cast<std::int64_t>(seconds_per_day) +
        std::int64_t{local.tm_hour} * 3600 + std::int64_t{local.tm_min} * 60 + local.tm_sec;
    return local_as_utc - static_cast<std::int64_t>(now);
  }();
  return offset;
}

const char* type_time_name(type_time kind) {
  switch (kind) {
    case type_time::filetime: return "filetime";
    case type_time::chrome: return "chrome";
    case type_time::firefox3: return "firefox3";
    case type_time::unix_time: return "unix time";
    case type_time::unix_millisec_time: return "unix millisec time";
    case type_time::dos_time: return "dos time";
    case type_time::ntp: return "ntp";
    case type_time::guid: return "guid";
    case type_time::ole: return "ole";
    case type_time::system_time: return "system time";
    case type_time::system_time_alt: return "system time";
    case type_time::vhd_time: return "VHD time";
    case type_time::qpc_time: return "QPC time";
    case type_time::csharp_time: return "c# time";
    case type_time::snowflake_time: return "snowflake time";
    case type_time::safari_time: return "safari time";
    case type_time::hfs_plus_time: return "hfs+ time";
  }
  return "unknown";
}

// ---------------------------------------------------------------------------
// cv::time

bool time::load_filetime(std::uint64_t value) {
  m_filetime = value;
  m_filetime_low = static_cast<std::uint32_t>(value);
  m_filetime_high = static_cast<std::uint32_t>(value >> 32);
  detail::filetime_fields fields;
  if (!detail::split_filetime(value, fields)) return false;

  const std::uint64_t unix_seconds = (value - filetime_of_unix_epoch) / ticks_per_second;  // wraps before 1970
  m_unix_seconds = static_cast<std::int64_t>(unix_seconds);
  m_calendar.year = static_cast<std::uint16_t>(fields.year);
  m_calendar.month = fields.month;
  m_calendar.day_of_week = static_cast<std::uint16_t>((fields.days + 1) % 7);  // 1601-01-01 was a Monday
  m_calendar.day = fields.day;
  m_calendar.hour = fields.hour;
  m_calendar.minute = fields.minute;
  m_calendar.second = fields.second;
  m_calendar.milliseconds = static_cast<std::uint16_t>(fields.ticks / 10'000);
  m_microseconds = fields.ticks / 10;
  m_nanoseconds = std::uint64_t{fields.ticks} * 100;
  m_picoseconds = std::uint64_t{fields.ticks} * 100'000;

  // FAT words: years since 1980 in 7 bits, two-second units in 5 bits.
  if (fields.year >= 1980 && fields.year <= 2037) {
    m_dos_date = static_cast<std::uint16_t>((fields.year - 1980) << 9 | fields.month << 5 | fields.day);
    m_dos_time = static_cast<std::uint16_t>(fields.hour << 11 | fields.minute << 5 | (fields.second + 1) / 2);
  }

  // The unsigned unix seconds of a time before 1970 are huge, so the local
  // breakdown fails for those as it should.
  m_local_failed = !local_year_in_range(m_unix_seconds + host_utc_offset_seconds(), &m_local);
  if (m_local_failed) m_local = std::tm{};

  m_valid = detail::printable(value, fields);
  return m_valid;
}

bool time::load_guid(std::span<const std::uint8_t> uuid_bytes) {
  support::byte_reader reader(uuid_bytes);
  const std::uint64_t first = reader.le64(0);
  const std::uint64_t clock_high = reader.u8(8);
  const std::uint64_t clock_low = reader.u8(9);
  const auto node = reader.sub(10, 6);
  if (!reader.ok()) return false;
  const std::uint64_t value = filetime_from_uuid_word(first);
  if (value == 0) return false;
  const bool ok = load_filetime(value);
  m_clock_sequence = static_cast<std::uint16_t>((clock_high << 8 | clock_low) & 0x3FFF);
  for (std::size_t i = 0; i < m_node.size(); ++i) m_node[i] = node[i];
  return ok;
}

bool time::set_time(std::uint64_t value, type_time kind) {
  clear();
  switch (kind) {
    case type_time::filetime:
      return load_filetime(value);
    case type_time::chrome:
      if (value > max_seconds_since_1601 * (ticks_per_second / 10)) return false;
      return load_filetime(value * 10);
    case type_time::firefox3: {
      const std::uint64_t converted = ticks_from_unix(value / 1'000'000, value % 1'000'000 * 10);
      return converted != 0 && load_filetime(converted);
    }
    case type_time::unix_time: {
      if (static_cast<std::int64_t>(value) < 1) return false;
      const std::uint64_t converted = ticks_from_unix(value, 0);
      return converted != 0 && load_filetime(converted);
    }
    case type_time::unix_millisec_time: {
      if (value / 1000 == 0) return false;
      const std::uint64_t converted = ticks_from_unix(value / 1000, value % 1000 * 10'000);
      return converted != 0 && load_filetime(converted);
    }
    case type_time::guid: {
      const std::uint64_t converted = filetime_from_uuid_word(value);
      return converted != 0 && load_filetime(converted);
    }
    case type_time::ole:
      return set_time_double(std::bit_cast<double>(value), kind);
    case type_time::safari_time: {
      // Seconds fit 32 bits for any plausible date; a wider value is the
      // nanosecond form.
      std::uint64_t seconds = value;
      std::uint64_t ticks = 0;
      if (value > 0xFFFF'FFFFULL) {
        seconds = value / 1'000'000'000;
        ticks = value % 1'000'000'000 / 100;
      }
      const std::uint64_t converted =
          ticks_from_seconds(seconds + static_cast<std::uint64_t>(seconds_1601_to_2001), ticks);
      return converted != 0 && load_filetime(converted);
    }
    default:
      return false;
  }
}

bool time::set_time_double(double value, type_time kind) {
  clear();
  std::uint64_t converted = 0;
  if (kind == type_time::ole) {
    converted = ticks_from_double_seconds(value * static_cast<double>(seconds_per_day), seconds_1601_to_ole_epoch);
  } else if (kind == type_time::safari_time) {
    converted = ticks_from_double_seconds(value, seconds_1601_to_2001);
  }
  return converted != 0 && load_filetime(converted);
}

bool time::set_time_from_bytes(std::span<const std::uint8_t> bytes, std::size_t offset, type_time kind) {
  clear();
  support::byte_reader reader(bytes);
  if (kind == type_time::guid) {
    const auto uuid_bytes = reader.sub(offset, 16);
    return reader.ok() && load_guid(uuid_bytes);
  }
  const std::uint64_t value = kind == type_time::unix_time ? reader.le32(offset) : reader.le64(offset);
  return reader.ok() && set_time(value, kind);
}

// ---------------------------------------------------------------------------
// Free conversions

std::uint64_t calendar_to_filetime(const _windows_systemtime& calendar) {
  std::int64_t year = calendar.year;
  std::int64_t month = calendar.month == 0 ? 1 : calendar.month;
  year += (month - 1) / 12;
  month = (month - 1) % 12 + 1;
  if (year < 1601) return 0;
  const std::int64_t days = detail::days_from_civil(year, static_cast<unsigned>(month), 1) + days_1601_to_1970 +
                            static_cast<std::int64_t>(calendar.day) - 1;
  if (days < 0) return 0;
  const std::int64_t seconds = ((days * 24 + calendar.hour) * 60 + calendar.minute) * 60 + calendar.second;
  const std::uint64_t ticks = std::uint64_t{calendar.milliseconds} * 10'000;
  // The milliseconds field is not range-checked (up to 65535 ms, 66 s), so
  // leave room for its carry.
  if (static_cast<std::uint64_t>(seconds) > max_seconds_since_1601 - 66) return 0;
  return ticks_from_seconds(static_cast<std::uint64_t>(seconds), ticks);
}

std::uint64_t filetime_to_unix_seconds(std::uint64_t filetime) {
  if (filetime == 0 || (filetime & filetime_negative_bit) != 0) return 0;
  return (filetime - filetime_of_unix_epoch) / ticks_per_second;
}

std::uint64_t current_filetime() {
  timeval now{};
  gettimeofday(&now, nullptr);
  time value;
  value.set_time(static_cast<std::uint64_t>(now.tv_sec), type_time::unix_time);
  return value.filetime();
}

}  // namespace cv
