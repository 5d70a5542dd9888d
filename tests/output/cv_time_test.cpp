// Time values and their text forms. The C library's timegm/gmtime_r/strftime
// serve as the calendar oracle; fixed values come from published sources
// (the RFC 9562 version-1 UUID example, the Unix time of 2019-07-04).
#include "output/cv_time.h"

#include "tests/common/test_support.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t unix_epoch = 116444736000000000ULL;
constexpr std::uint64_t seconds_1601_to_1970 = 11644473600ULL;

// 2019-07-04 13:05:09.123 UTC.
constexpr std::uint64_t july_fourth = 132067191091230000ULL;

// FILETIME of a UTC calendar time through libc's timegm.
std::uint64_t ft_of(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                    std::uint64_t ticks = 0) {
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  const std::int64_t unix_seconds = timegm(&fields);
  return static_cast<std::uint64_t>(unix_seconds + static_cast<std::int64_t>(seconds_1601_to_1970)) * 10'000'000ULL +
         ticks;
}

struct texts {
  std::string date;
  std::string time;
};

texts by_format(std::uint64_t filetime, const cv::datetime_format& format) {
  cv::time value;
  value.set_time(filetime, cv::type_time::filetime);
  texts out;
  cv::date_time_text(out.date, out.time, value, format);
  return out;
}

texts by_pattern(std::uint64_t filetime, std::string_view date_pattern, std::string_view time_pattern) {
  cv::time value;
  value.set_time(filetime, cv::type_time::filetime);
  texts out;
  cv::date_time_text_by_pattern(out.date, out.time, value, date_pattern, time_pattern);
  return out;
}

texts by_hot_path(std::uint64_t filetime, const cv::datetime_format& format) {
  cv::filetime_text text{};
  texts out;
  if (cv::format_filetime(filetime, format, text)) {
    out.date.assign(text.date, text.date_length);
    out.time.assign(text.time, text.time_length);
  } else {
    EXPECT_EQ(text.date_length, 0);
    EXPECT_EQ(text.time_length, 0);
  }
  return out;
}

cv::datetime_format compiled(std::string_view date_pattern, std::string_view time_pattern) {
  cv::datetime_format format;
  EXPECT_TRUE(cv::make_datetime_format(format, date_pattern, time_pattern, false)) << date_pattern;
  return format;
}

// ---------------------------------------------------------------------------
// Conversions and validity limits

TEST(CvTimeConversion, CalendarMatchesLibcAcrossTheWholeRange) {
  std::mt19937_64 random(20190704);
  const std::uint64_t last = ft_of(9999, 12, 31, 23, 59, 59, 9'999'999);
  for (int i = 0; i < 200'000; ++i) {
    const std::uint64_t ft = 1 + random() % last;
    cv::time value;
    const bool valid = value.set_time(ft, cv::type_time::filetime);

    const auto whole_seconds = static_cast<std::int64_t>(ft / 10'000'000) - static_cast<std::int64_t>(seconds_1601_to_1970);
    const std::time_t unix_seconds = whole_seconds;
    std::tm expected{};
    ASSERT_NE(gmtime_r(&unix_seconds, &expected), nullptr);
    const auto& calendar = value.calendar();
    ASSERT_EQ(calendar.year, expected.tm_year + 1900) << ft;
    ASSERT_EQ(calendar.month, expected.tm_mon + 1) << ft;
    ASSERT_EQ(calendar.day, expected.tm_mday) << ft;
    ASSERT_EQ(calendar.hour, expected.tm_hour) << ft;
    ASSERT_EQ(calendar.minute, expected.tm_min) << ft;
    ASSERT_EQ(calendar.second, expected.tm_sec) << ft;
    ASSERT_EQ(calendar.day_of_week, expected.tm_wday) << ft;
    ASSERT_EQ(calendar.milliseconds, ft % 10'000'000 / 10'000) << ft;
    if (whole_seconds >= 1) {
      ASSERT_EQ(value.unix_seconds(), whole_seconds) << ft;
    }

    const int year = expected.tm_year + 1900;
    if (year != 3001) {  // 3001 depends on the host's time zone, tested below
      const bool in_first_second_of_1970 = ft >= unix_epoch && ft < unix_epoch + 10'000'000;
      ASSERT_EQ(valid, year >= 1900 && year <= 3000 && !in_first_second_of_1970) << ft;
    }
    ASSERT_EQ(valid, value.valid());
    ASSERT_EQ(value.filetime(), ft);
  }
}

TEST(CvTimeConversion, VersionOneUuidCarriesTimeClockSequenceAndNode) {
  // RFC 9562 example C232AB00-9414-11EC-B3C8-9E6BDECED846, a version-1 UUID
  // of 2022-02-22 19:22:22 UTC, in the little-endian byte order NTFS object
  // ids are stored in.
  const std::vector<std::uint8_t> bytes = {0xAA, 0x00, 0xAB, 0x32, 0xC2, 0x14, 0x94, 0xEC, 0x11,
                                           0xB3, 0xC8, 0x9E, 0x6B, 0xDE, 0xCE, 0xD8, 0x46};
  cv::time value;
  ASSERT_TRUE(value.set_time_from_bytes(bytes, 1, cv::type_time::guid));
  EXPECT_EQ(value.filetime(), ft_of(2022, 2, 22, 19, 22, 22));
  EXPECT_EQ(value.clock_sequence(), 0x33C8);
  const std::array<std::uint8_t, 6> node = {0x9E, 0x6B, 0xDE, 0xCE, 0xD8, 0x46};
  EXPECT_EQ(value.node(), node);

  // Too short from that offset.
  EXPECT_FALSE(value.set_time_from_bytes(std::span(bytes).first(16), 1, cv::type_time::guid));
  EXPECT_EQ(value.filetime(), 0U);

  // Version 4 (random) holds no time.
  std::vector<std::uint8_t> random_uuid(bytes.begin() + 1, bytes.end());
  random_uuid[7] = static_cast<std::uint8_t>((random_uuid[7] & 0x0F) | 0x40);
  EXPECT_FALSE(value.set_time_from_bytes(random_uuid, 0, cv::type_time::guid));
  EXPECT_EQ(value.filetime(), 0U);

  // A version-1 timestamp before 1601 cannot be a FILETIME.
  std::vector<std::uint8_t> early(16, 0);
  early[7] = 0x10;
  EXPECT_FALSE(value.set_time_from_bytes(early, 0, cv::type_time::guid));
}

TEST(CvTimeConversion, ByteBuffersAreBoundsChecked) {
  std::vector<std::uint8_t> bytes(12, 0);
  for (int i = 0; i < 8; ++i) bytes[4 + i] = static_cast<std::uint8_t>(july_fourth >> (8 * i));
  cv::time value;
  EXPECT_TRUE(value.set_time_from_bytes(bytes, 4, cv::type_time::filetime));
  EXPECT_EQ(value.filetime(), july_fourth);
  EXPECT_FALSE(value.set_time_from_bytes(bytes, 5, cv::type_time::filetime));
  EXPECT_FALSE(value.set_time_from_bytes(bytes, 1000, cv::type_time::filetime));
  EXPECT_FALSE(value.set_time_from_bytes({}, 0, cv::type_time::filetime));

  // The 32-bit unix time needs only four bytes.
  const std::uint8_t unix_bytes[4] = {0x85, 0xFA, 0x1D, 0x5D};  // 0x5D1DFA85 = 1562245765
  EXPECT_TRUE(value.set_time_from_bytes(unix_bytes, 0, cv::type_time::unix_time));
  EXPECT_EQ(value.filetime(), ft_of(2019, 7, 4, 13, 9, 25));
  EXPECT_FALSE(value.set_time_from_bytes(unix_bytes, 1, cv::type_time::unix_time));
}

// Years above 3000 are printed only while the host's local time is still in
// 3000, so these run in a child process with a fixed time zone.
void check_in_zone(const char* zone, std::int64_t offset_seconds,
                   const std::vector<std::pair<std::uint64_t, bool>>& expectations) {
  setenv("TZ", zone, 1);
  tzset();
  if (cv::host_utc_offset_seconds() != offset_seconds) std::exit(2);
  for (const auto& [ft, printable] : expectations) {
    cv::time value;
    if (value.set_time(ft, cv::type_time::filetime) != printable) std::exit(3);
    cv::filetime_text text{};
    if (cv::format_filetime(ft, cv::datetime_format{}, text) != printable) std::exit(4);
  }
  // The local breakdown agrees with the C library in a zone without
  // daylight saving time.
  std::mt19937_64 random(7);
  for (int i = 0; i < 1000; ++i) {
    const std::uint64_t ft = ft_of(1971, 1, 1) + random() % (ft_of(2999, 1, 1) - ft_of(1971, 1, 1));
    cv::time value;
    value.set_time(ft, cv::type_time::filetime);
    const std::time_t unix_seconds = value.unix_seconds();
    std::tm expected{};
    localtime_r(&unix_seconds, &expected);
    const std::tm& got = value.local_calendar();
    if (value.local_failed() || got.tm_year != expected.tm_year || got.tm_mon != expected.tm_mon ||
        got.tm_mday != expected.tm_mday || got.tm_hour != expected.tm_hour || got.tm_min != expected.tm_min ||
        got.tm_sec != expected.tm_sec || got.tm_wday != expected.tm_wday || got.tm_yday != expected.tm_yday) {
      std::exit(5);
    }
  }
  cv::time early;
  early.set_time(ft_of(1969, 6, 1), cv::type_time::filetime);
  if (!early.valid() || !early.local_failed()) std::exit(6);
  std::exit(0);
}

TEST(CvTimeConversionDeathTest, YearsAbove3000FollowTheHostZone) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Five hours west of UTC: 3001-01-01 04:59:59 UTC is still 3000 locally.
  EXPECT_EXIT(check_in_zone("EST5", -5 * 3600,
                            {{ft_of(3001, 1, 1, 4, 59, 59), true},
                             {ft_of(3001, 1, 1, 5), false},
                             {ft_of(3000, 12, 31, 23, 59, 59), true}}),
              ::testing::ExitedWithCode(0), "");
  // Fourteen hours east: the UTC year alone keeps 3000 printable.
  EXPECT_EXIT(check_in_zone("XYZ-14", 14 * 3600,
                            {{ft_of(3000, 12, 31, 23, 59, 59), true},
                             {ft_of(3001, 1, 1), false},
                             {ft_of(1900, 1, 1), true}}),
              ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Formatting with compiled formats and patterns

TEST(CvTimeFormat, AnUncompiledFormatMeansTheDefaults) {
  for (const auto& text : {by_format(july_fourth, {}), by_hot_path(july_fourth, {})}) {
    EXPECT_EQ(text.date, "2019-07-04");
    EXPECT_EQ(text.time, "13:05:09.123");
  }
}

TEST(CvTimeFormat, OneAndTwoFractionDigitsAsCompiledFlags) {
  const std::uint64_t ft = ft_of(2019, 7, 4, 13, 5, 9, 1'234'567);
  // One and two digits exist only as compiled flags.
  cv::datetime_format format = compiled("yyyy-mm-dd", "");
  format.time_flags = 1 << cv::time_flag::fraction_shift;
  EXPECT_EQ(by_format(ft, format).time, "13:05:09.1");
  format.time_flags = 2 << cv::time_flag::fraction_shift;
  EXPECT_EQ(by_format(ft, format).time, "13:05:09.12");

}

TEST(CvTimeFormat, CompilingRefusesIncompleteOrUnorderedDates) {
  cv::datetime_format format;
  EXPECT_FALSE(cv::make_datetime_format(format, "mm/yyyy", "hh:mm:ss.xxx", false));  // no day
  EXPECT_FALSE(cv::make_datetime_format(format, "dd/yyyy", "hh:mm:ss.xxx", false));  // no month
  EXPECT_FALSE(cv::make_datetime_format(format, "mm/dd/..", "hh:mm:ss.xxx", false));  // no year
  EXPECT_FALSE(cv::make_datetime_format(format, "yyyy/dd/mm", "hh:mm:ss.xxx", false));
  EXPECT_FALSE(cv::make_datetime_format(format, "mm/yyyy/dd", "hh:mm:ss.xxx", false));

  ASSERT_TRUE(cv::make_datetime_format(format, "yyyy-mm-dd", "hh:mm:ss.xxx", true));
  EXPECT_TRUE(cv::pair_datetime(format));
  EXPECT_EQ(cv::fraction_digits(format), 3U);
  EXPECT_EQ(by_format(july_fourth, format).time, "13:05:09.123");
  // The year limits are carried for the writers.
  EXPECT_EQ(format.lowest_year, 1900);
  EXPECT_EQ(format.highest_year, 2600);
}

TEST(CvTimeFormat, HotPathAgreesWithTheTextRoutines) {
  std::mt19937_64 random(42);
  const std::vector<cv::datetime_format> formats = {
      cv::datetime_format{},
      compiled("mm/dd/yy", "hh:mm:ss"),
      compiled("mmm dd, yy", "hh:mm:ss.xxxxxxxxx"),
      compiled("dd-mmm-yyyy", "hh:mm:ss.xxxxx"),
  };
  for (int i = 0; i < 20'000; ++i) {
    // Mostly printable values, some on either side.
    const std::uint64_t ft = random() % ft_of(3100, 1, 1);
    for (const auto& format : formats) {
      const texts expected = by_format(ft, format);
      const texts got = by_hot_path(ft, format);
      ASSERT_EQ(got.date, expected.date) << ft;
      ASSERT_EQ(got.time, expected.time) << ft;
    }
  }
}

// ---------------------------------------------------------------------------
// Texts from and to times, as cases in tests/fixtures/golden/cv_time_cases.txt

// A case's instant: a raw FILETIME number or "yyyy-mm-dd hh:mm:ss[.fffffff]".
std::uint64_t instant_of(const std::string& text) {
  if (text.find('-') == std::string::npos) return std::stoull(text, nullptr, 0);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char fraction[8] = {};
  std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%7[0-9]", &year, &month, &day, &hour, &minute, &second, fraction);
  std::string ticks(fraction);
  ticks.resize(7, '0');
  return ft_of(year, month, day, hour, minute, second, std::stoull(ticks));
}

cv::type_time kind_named(const std::string& name) {
  for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
    if (cv::type_time_name(static_cast<cv::type_time>(bit)) == name) return static_cast<cv::type_time>(bit);
  }
  ADD_FAILURE() << "no time kind " << name;
  return cv::type_time::filetime;
}

TEST(CvTimeText, CasesFromTheTable) {
  std::size_t count = 0;
  for (const std::string& line : testing_support::split_lines(
           testing_support::read_file(testing_support::source_fixture_path("golden/cv_time_cases.txt")))) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f = testing_support::split_fields(line, "|");
    for (auto& field : f) {
      field.erase(0, field.find_first_not_of(' '));
      field.erase(field.find_last_not_of(' ') + 1);
    }
    SCOPED_TRACE(line);
    ++count;
    const std::string& kind = f.at(0);
    if (kind == "text" || kind == "compiled" || kind == "pattern") {
      const std::uint64_t ft = instant_of(f.at(3));
      std::vector<texts> got;
      if (kind != "pattern") {
        got.push_back(by_format(ft, compiled(f[1], f[2])));
        got.push_back(by_hot_path(ft, compiled(f[1], f[2])));
      }
      if (kind != "compiled") got.push_back(by_pattern(ft, f[1], f[2]));
      for (const texts& text : got) {
        EXPECT_EQ(text.date, f.at(4));
        EXPECT_EQ(text.time, f.at(5));
      }
    } else if (kind == "date") {
      int day = -1, month = -1, year = -1;
      const bool parsed = cv::parse_date_text(f.at(1), day, month, year);
      EXPECT_EQ(parsed, f.at(2) != "refused");
      if (parsed) {
        EXPECT_EQ(std::to_string(day) + " " + std::to_string(month) + " " + std::to_string(year), f[2]);
      } else {
        EXPECT_EQ(day + month, 0);  // nothing left from a partial parse
      }
    } else if (kind == "time") {
      int hour = -1, minute = -1;
      double seconds = -1;
      const bool parsed = cv::parse_time_text(f.at(1), hour, minute, seconds);
      EXPECT_EQ(parsed, f.at(2) != "refused");
      if (parsed) {
        int want_hour = 0, want_minute = 0;
        double want_seconds = 0;
        std::sscanf(f[2].c_str(), "%d %d %lf", &want_hour, &want_minute, &want_seconds);
        EXPECT_EQ(hour, want_hour);
        EXPECT_EQ(minute, want_minute);
        EXPECT_DOUBLE_EQ(seconds, want_seconds);
      }
    } else if (kind == "start" || kind == "stop") {
      std::uint64_t out = 77;
      const bool parsed = cv::user_text_to_filetime(f.at(1), kind == "stop", out);
      EXPECT_EQ(parsed, f.at(2) != "refused");
      EXPECT_EQ(out, parsed ? instant_of(f[2]) : 77U);  // a refused value leaves the output alone
    } else if (kind == "load") {
      cv::time value;
      const bool loaded = value.set_time(std::stoull(f.at(2), nullptr, 0), kind_named(f.at(1)));
      EXPECT_EQ(loaded, f.at(3) != "refused");
      if (loaded) {
        EXPECT_EQ(value.filetime(), instant_of(f[3]));
      }
    } else if (kind == "date_width" || kind == "time_width") {
      EXPECT_EQ(kind == "date_width" ? cv::date_format_width(f.at(1)) : cv::time_format_width(f.at(1)),
                std::stoull(f.at(2)));
    } else {
      ADD_FAILURE() << "unknown case kind";
    }
  }
  EXPECT_GT(count, 100U);
}

// ---------------------------------------------------------------------------
// The user-text parsers

TEST(CvTimeParse, BlanksAroundATimeAndRefusedDates) {
  int hour = -1, minute = -1;
  double seconds = -1;
  EXPECT_TRUE(cv::parse_time_text(" \t09:05:07\r\n", hour, minute, seconds));
  EXPECT_EQ(hour * 3600 + minute * 60 + seconds, 9 * 3600 + 5 * 60 + 7);
  cv::_windows_systemtime calendar;
  calendar.year = 5;
  EXPECT_FALSE(cv::parse_user_datetime("13/01/2019", "", calendar));
  EXPECT_EQ(calendar.year, 0);
  ASSERT_TRUE(cv::parse_user_datetime("4-Jul-19", "1:30:15.9996 pm", calendar));
  EXPECT_EQ(calendar.hour, 13);
  EXPECT_EQ(calendar.second, 15);
  EXPECT_EQ(calendar.milliseconds, 1000);  // rounded, carried by the conversion
  EXPECT_EQ(cv::calendar_to_filetime(calendar), ft_of(2019, 7, 4, 13, 30, 16));
}

// ---------------------------------------------------------------------------
// calendar_to_filetime

TEST(CvTimeCalendar, MatchesTimegmForRandomDates) {
  std::mt19937_64 random(1601);
  for (int i = 0; i < 100'000; ++i) {
    cv::_windows_systemtime calendar;
    calendar.year = static_cast<std::uint16_t>(1601 + random() % (9999 - 1601 + 1));
    calendar.month = static_cast<std::uint16_t>(1 + random() % 12);
    calendar.day = static_cast<std::uint16_t>(1 + random() % 31);  // overflow into the next month is allowed
    calendar.hour = static_cast<std::uint16_t>(random() % 24);
    calendar.minute = static_cast<std::uint16_t>(random() % 60);
    calendar.second = static_cast<std::uint16_t>(random() % 60);
    calendar.milliseconds = static_cast<std::uint16_t>(random() % 1000);
    const std::uint64_t expected = ft_of(calendar.year, calendar.month, calendar.day, calendar.hour, calendar.minute,
                                         calendar.second, calendar.milliseconds * 10'000ULL);
    ASSERT_EQ(cv::calendar_to_filetime(calendar), expected)
        << calendar.year << "-" << calendar.month << "-" << calendar.day;
  }
}

TEST(CvTimeCalendar, CarriesAndLimits) {
  cv::_windows_systemtime calendar;
  calendar.year = 2019;
  calendar.month = 13;
  calendar.day = 1;
  EXPECT_EQ(cv::calendar_to_filetime(calendar), ft_of(2020, 1, 1));
  calendar.month = 25;
  EXPECT_EQ(cv::calendar_to_filetime(calendar), ft_of(2021, 1, 1));
  calendar.month = 12;
  calendar.day = 31;
  calendar.hour = 24;
  EXPECT_EQ(cv::calendar_to_filetime(calendar), ft_of(2020, 1, 1));

  calendar = cv::_windows_systemtime{};
  calendar.year = 1601;
  calendar.month = 1;
  calendar.day = 1;
  EXPECT_EQ(cv::calendar_to_filetime(calendar), 0U);  // the epoch itself
  calendar.second = 1;
  EXPECT_EQ(cv::calendar_to_filetime(calendar), 10'000'000U);
  calendar.year = 1600;
  EXPECT_EQ(cv::calendar_to_filetime(calendar), 0U);
  calendar.year = 65535;
  calendar.month = 65535;
  calendar.day = 65535;
  calendar.hour = 65535;
  EXPECT_EQ(cv::calendar_to_filetime(calendar), 0U);  // beyond the FILETIME range
}

}  // namespace
