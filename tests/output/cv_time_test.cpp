// Time values and their text forms. The C library's timegm/gmtime_r/strftime
// serve as the calendar oracle; fixed values come from published sources
// (the RFC 9562 version-1 UUID example, the Unix time of 2019-07-04).
#include "output/cv_time.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t unix_epoch = 116444736000000000ULL;
constexpr std::uint64_t seconds_1601_to_1970 = 11644473600ULL;

// 2019-07-04 13:05:09.123 UTC; Unix time 1562245509.
constexpr std::uint64_t july_fourth = 132067191091230000ULL;
constexpr std::uint64_t july_fourth_unix = 1562245509ULL;

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

TEST(CvTimeConversion, KnownInstantHasAllItsParts) {
  cv::time value;
  ASSERT_TRUE(value.set_time(july_fourth, cv::type_time::filetime));
  EXPECT_EQ(july_fourth, ft_of(2019, 7, 4, 13, 5, 9, 1'230'000));
  EXPECT_EQ(value.unix_seconds(), static_cast<std::int64_t>(july_fourth_unix));
  EXPECT_EQ(cv::filetime_to_unix_seconds(july_fourth), july_fourth_unix);
  EXPECT_EQ(value.filetime_low(), static_cast<std::uint32_t>(july_fourth));
  EXPECT_EQ(value.filetime_high(), static_cast<std::uint32_t>(july_fourth >> 32));
  const auto& calendar = value.calendar();
  EXPECT_EQ(calendar.year, 2019);
  EXPECT_EQ(calendar.month, 7);
  EXPECT_EQ(calendar.day, 4);
  EXPECT_EQ(calendar.day_of_week, 4);  // a Thursday
  EXPECT_EQ(calendar.hour, 13);
  EXPECT_EQ(calendar.minute, 5);
  EXPECT_EQ(calendar.second, 9);
  EXPECT_EQ(calendar.milliseconds, 123);
  EXPECT_EQ(value.microseconds(), 123'000U);
  EXPECT_EQ(value.nanoseconds(), 123'000'000U);
  EXPECT_EQ(value.picoseconds(), 123'000'000'000U);
}

TEST(CvTimeConversion, ValidityLimitsGiveEmptyTexts) {
  const cv::datetime_format defaults{};
  const std::vector<std::uint64_t> refused = {
      0,
      0x8000000000000000ULL,
      0xFFFFFFFFFFFFFFFFULL,
      ft_of(1899, 12, 31, 23, 59, 59, 9'999'999),
      ft_of(1899, 6, 1),
      ft_of(3001, 7, 1, 12),
      ft_of(9999, 1, 1),
      unix_epoch,
      unix_epoch + 1,
      unix_epoch + 9'999'999,
  };
  for (const std::uint64_t ft : refused) {
    cv::time value;
    EXPECT_FALSE(value.set_time(ft, cv::type_time::filetime)) << ft;
    const texts text = by_format(ft, defaults);
    EXPECT_EQ(text.date, "") << ft;
    EXPECT_EQ(text.time, "") << ft;
    EXPECT_EQ(by_hot_path(ft, defaults).date, "") << ft;
    EXPECT_EQ(by_pattern(ft, "yyyy-mm-dd", "hh:mm:ss.xxx").date, "") << ft;
  }

  struct accepted_case {
    std::uint64_t ft;
    const char* date;
    const char* time;
  };
  const std::vector<accepted_case> accepted = {
      {ft_of(1900, 1, 1), "1900-01-01", "00:00:00.000"},
      {ft_of(3000, 12, 31, 23, 59, 59), "3000-12-31", "23:59:59.000"},
      {unix_epoch + 10'000'000, "1970-01-01", "00:00:01.000"},
      {unix_epoch - 1, "1969-12-31", "23:59:59.999"},
  };
  for (const auto& c : accepted) {
    cv::time value;
    EXPECT_TRUE(value.set_time(c.ft, cv::type_time::filetime)) << c.date;
    const texts text = by_format(c.ft, defaults);
    EXPECT_EQ(text.date, c.date);
    EXPECT_EQ(text.time, c.time);
  }
}

TEST(CvTimeConversion, EveryEncodingReachesTheSameInstant) {
  struct encoded {
    const char* what;
    std::uint64_t raw;
    cv::type_time kind;
  };
  const std::vector<encoded> cases = {
      {"chrome", july_fourth / 10, cv::type_time::chrome},
      {"firefox3", july_fourth_unix * 1'000'000 + 123'000, cv::type_time::firefox3},
      {"unix ms", july_fourth_unix * 1000 + 123, cv::type_time::unix_millisec_time},
      {"safari ns", (july_fourth_unix - 978307200) * 1'000'000'000 + 123'000'000, cv::type_time::safari_time},
  };
  for (const auto& c : cases) {
    cv::time value;
    EXPECT_TRUE(value.set_time(c.raw, c.kind)) << c.what;
    EXPECT_EQ(value.filetime(), july_fourth) << c.what;
  }

  const std::uint64_t whole_second = july_fourth - 1'230'000;
  cv::time value;
  EXPECT_TRUE(value.set_time(july_fourth_unix, cv::type_time::unix_time));
  EXPECT_EQ(value.filetime(), whole_second);
  EXPECT_TRUE(value.set_time(july_fourth_unix - 978307200, cv::type_time::safari_time));
  EXPECT_EQ(value.filetime(), whole_second);
  EXPECT_TRUE(value.set_time_double(static_cast<double>(july_fourth_unix - 978307200) + 0.123, cv::type_time::safari_time));
  EXPECT_EQ(value.filetime(), july_fourth);
  // 583938309.3 is held as ...309.2999999523; the tick is rounded, not cut.
  EXPECT_TRUE(value.set_time_double(static_cast<double>(july_fourth_unix - 978307200) + 0.3, cv::type_time::safari_time));
  EXPECT_EQ(value.calendar().milliseconds, 300);
  EXPECT_TRUE(value.set_time_double(-0.5, cv::type_time::safari_time));
  EXPECT_EQ(value.filetime(), ft_of(2000, 12, 31, 23, 59, 59, 5'000'000));

  // OLE automation dates count days from 1899-12-30: spreadsheet serial
  // 43650 is 2019-07-04.
  EXPECT_TRUE(value.set_time_double(43650.25, cv::type_time::ole));
  EXPECT_EQ(value.filetime(), ft_of(2019, 7, 4, 6));
  EXPECT_TRUE(value.set_time(std::bit_cast<std::uint64_t>(43650.75), cv::type_time::ole));
  EXPECT_EQ(value.filetime(), ft_of(2019, 7, 4, 18));
  const std::uint8_t ole_bytes[8] = {0, 0, 0, 0, 0x40, 0x50, 0xE5, 0x40};  // 43650.0 as a little-endian double
  EXPECT_TRUE(value.set_time_from_bytes(ole_bytes, 0, cv::type_time::ole));
  EXPECT_EQ(value.filetime(), ft_of(2019, 7, 4));
  // Before 1900 and therefore not printable, but still converted.
  EXPECT_FALSE(value.set_time_double(0.0, cv::type_time::ole));
  EXPECT_EQ(value.filetime(), ft_of(1899, 12, 30));
}

TEST(CvTimeConversion, RawValuesThatMeanNoTime) {
  cv::time value;
  EXPECT_FALSE(value.set_time(0, cv::type_time::unix_time));
  EXPECT_EQ(value.filetime(), 0U);
  EXPECT_FALSE(value.set_time(static_cast<std::uint64_t>(-5), cv::type_time::unix_time));
  EXPECT_FALSE(value.set_time(999, cv::type_time::unix_millisec_time));
  EXPECT_TRUE(value.set_time(1000 + 1000, cv::type_time::unix_millisec_time));  // 1970-01-01 00:00:02
  EXPECT_FALSE(value.set_time(0, cv::type_time::firefox3));
  EXPECT_FALSE(value.set_time(0xFFFFFFFFFFFFFFFFULL, cv::type_time::chrome));
  EXPECT_FALSE(value.set_time(0xFFFFFFFFFFFFFFFFULL, cv::type_time::unix_millisec_time));
  EXPECT_FALSE(value.set_time_double(std::nan(""), cv::type_time::ole));
  EXPECT_FALSE(value.set_time_double(1e300, cv::type_time::ole));
  EXPECT_FALSE(value.set_time_double(-1e300, cv::type_time::safari_time));
  EXPECT_FALSE(value.set_time(july_fourth, cv::type_time::dos_time));
  EXPECT_FALSE(value.set_time_double(43650.0, cv::type_time::unix_time));
  // A previous value does not survive a failed load.
  EXPECT_TRUE(value.set_time(july_fourth, cv::type_time::filetime));
  EXPECT_FALSE(value.set_time(0, cv::type_time::unix_time));
  EXPECT_EQ(value.calendar().year, 0);
  EXPECT_FALSE(value.valid());
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

TEST(CvTimeConversion, DosWordsOnlyBetween1980And2037) {
  cv::time value;
  value.set_time(july_fourth, cv::type_time::filetime);
  EXPECT_EQ(value.dos_date(), (39 << 9) | (7 << 5) | 4);
  EXPECT_EQ(value.dos_time(), (13 << 11) | (5 << 5) | 5);  // 9 s in two-second units, rounded up

  value.set_time(ft_of(1980, 1, 1), cv::type_time::filetime);
  EXPECT_EQ(value.dos_date(), (1 << 5) | 1);
  value.set_time(ft_of(2037, 12, 31, 23, 59, 58), cv::type_time::filetime);
  EXPECT_EQ(value.dos_date(), (57 << 9) | (12 << 5) | 31);
  EXPECT_EQ(value.dos_time(), (23 << 11) | (59 << 5) | 29);
  value.set_time(ft_of(1979, 12, 31, 23, 59, 59), cv::type_time::filetime);
  EXPECT_EQ(value.dos_date(), 0);
  EXPECT_EQ(value.dos_time(), 0);
  value.set_time(ft_of(2038, 1, 1), cv::type_time::filetime);
  EXPECT_EQ(value.dos_date(), 0);
}

TEST(CvTimeConversion, HostClockAndOffset) {
  const std::time_t before = std::time(nullptr);
  const std::uint64_t now = cv::current_filetime();
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(now % 10'000'000, 0U);
  EXPECT_GE(now, (static_cast<std::uint64_t>(before) + seconds_1601_to_1970) * 10'000'000);
  EXPECT_LE(now, (static_cast<std::uint64_t>(after) + seconds_1601_to_1970) * 10'000'000);

  std::tm local{};
  ASSERT_NE(localtime_r(&after, &local), nullptr);
  EXPECT_EQ(cv::host_utc_offset_seconds(), local.tm_gmtoff);
}

TEST(CvTimeConversion, FiletimeToUnixSeconds) {
  EXPECT_EQ(cv::filetime_to_unix_seconds(0), 0U);
  EXPECT_EQ(cv::filetime_to_unix_seconds(0x8000000000000000ULL), 0U);
  EXPECT_EQ(cv::filetime_to_unix_seconds(unix_epoch + 10'000'000 * 5ULL + 9'999'999), 5U);
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

TEST(CvTimeFormat, DefaultsByEveryRoute) {
  const cv::datetime_format uncompiled{};
  const cv::datetime_format defaults = compiled("yyyy-mm-dd", "hh:mm:ss.xxx");
  EXPECT_TRUE(cv::is_compiled(defaults));
  for (const auto& text : {by_format(july_fourth, uncompiled), by_format(july_fourth, defaults),
                           by_hot_path(july_fourth, uncompiled), by_hot_path(july_fourth, defaults),
                           by_pattern(july_fourth, "yyyy-mm-dd", "hh:mm:ss.xxx")}) {
    EXPECT_EQ(text.date, "2019-07-04");
    EXPECT_EQ(text.time, "13:05:09.123");
  }
  cv::filetime_text raw{};
  ASSERT_TRUE(cv::format_filetime(july_fourth, defaults, raw));
  EXPECT_STREQ(raw.date, "2019-07-04");
  EXPECT_STREQ(raw.time, "13:05:09.123");
}

TEST(CvTimeFormat, DateOrdersSeparatorsAndMonthNames) {
  struct date_case {
    const char* pattern;
    const char* expected;
  };
  const std::vector<date_case> cases = {
      {"mm/dd/yy", "07/04/19"},      {"mm/dd/yyyy", "07/04/2019"}, {"dd/mm/yyyy", "04/07/2019"},
      {"yyyy/mm/dd", "2019/07/04"},  {"yyyy-mm-dd", "2019-07-04"}, {"mmm dd, yy", "Jul 04, 19"},
      {"dd-mmm-yyyy", "04-Jul-2019"}, {"dd mm yyyy", "04 07 2019"}, {"mm-dd-yy", "07-04-19"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(by_format(july_fourth, compiled(c.pattern, "hh:mm:ss")).date, c.expected) << c.pattern;
    EXPECT_EQ(by_pattern(july_fourth, c.pattern, "hh:mm:ss").date, c.expected) << c.pattern;
  }

  // A date pattern without any separator: nothing between the compiled
  // fields, "/" from the pattern route.
  EXPECT_EQ(by_format(july_fourth, compiled("yyyymmdd", "")).date, "20190704");
  EXPECT_EQ(by_pattern(july_fourth, "yyyymmdd", "").date, "2019/07/04");
  // The pattern route falls back to month/day/year without all three fields.
  EXPECT_EQ(by_pattern(july_fourth, "dd.mm", "").date, "07/04/2019");

  // Month names match the C library's abbreviations.
  const cv::datetime_format named = compiled("dd-mmm-yyyy", "");
  for (int month = 1; month <= 12; ++month) {
    std::tm fields{};
    fields.tm_mon = month - 1;
    char name[8] = {};
    ASSERT_GT(std::strftime(name, sizeof name, "%b", &fields), 0U);
    const std::string expected = "15-" + std::string(name) + "-2020";
    EXPECT_EQ(by_format(ft_of(2020, month, 15), named).date, expected);
    EXPECT_EQ(by_pattern(ft_of(2020, month, 15), "dd-mmm-yyyy", "").date, expected);
  }
}

TEST(CvTimeFormat, FractionDigitsAreTruncated) {
  const std::uint64_t ft = ft_of(2019, 7, 4, 13, 5, 9, 1'234'567);
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"hh:mm:ss", "13:05:09"},
      {"hh:mm:ss.xxx", "13:05:09.123"},
      {"hh:mm:ss.xxxx", "13:05:09.1234"},
      {"hh:mm:ss.xxxxx", "13:05:09.12345"},
      {"hh:mm:ss.xxxxxx", "13:05:09.123456"},
      {"hh:mm:ss.xxxxxxx", "13:05:09.1234567"},
      {"hh:mm:ss.xxxxxxxx", "13:05:09.12345670"},
      {"hh:mm:ss.xxxxxxxxx", "13:05:09.123456700"},
  };
  for (const auto& [pattern, expected] : cases) {
    EXPECT_EQ(by_format(ft, compiled("yyyy-mm-dd", pattern)).time, expected) << pattern;
    EXPECT_EQ(by_hot_path(ft, compiled("yyyy-mm-dd", pattern)).time, expected) << pattern;
    EXPECT_EQ(by_pattern(ft, "yyyy-mm-dd", pattern).time, expected) << pattern;
  }
  EXPECT_EQ(by_format(july_fourth, compiled("yyyy-mm-dd", "hh:mm:ss.xxxxxxxxx")).time, "13:05:09.123000000");

  // Never rounded up into the next second.
  const std::uint64_t almost = ft_of(2019, 12, 31, 23, 59, 59, 9'999'999);
  EXPECT_EQ(by_format(almost, cv::datetime_format{}).date, "2019-12-31");
  EXPECT_EQ(by_format(almost, cv::datetime_format{}).time, "23:59:59.999");

  // One and two digits exist only as compiled flags.
  cv::datetime_format format = compiled("yyyy-mm-dd", "");
  format.time_flags = 1 << cv::time_flag::fraction_shift;
  EXPECT_EQ(by_format(ft, format).time, "13:05:09.1");
  format.time_flags = 2 << cv::time_flag::fraction_shift;
  EXPECT_EQ(by_format(ft, format).time, "13:05:09.12");

  // Ten digits: the compiled form stops at nine, the pattern route writes none.
  EXPECT_EQ(by_format(ft, compiled("yyyy-mm-dd", "hh:mm:ss.xxxxxxxxxx")).time, "13:05:09.123456700");
  EXPECT_EQ(by_pattern(ft, "yyyy-mm-dd", "hh:mm:ss.xxxxxxxxxx").time, "13:05:09");
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

TEST(CvTimeFormat, ColumnWidthsOfUserPatterns) {
  EXPECT_EQ(cv::date_format_width("mm/dd/yy"), 8U);
  EXPECT_EQ(cv::date_format_width("yyyy-mm-dd"), 10U);
  EXPECT_EQ(cv::date_format_width("mmm dd, yy"), 10U);
  EXPECT_EQ(cv::date_format_width("m/d/yy"), 0U);
  EXPECT_EQ(cv::date_format_width("mm/dd/yyy"), 0U);

  EXPECT_EQ(cv::time_format_width("hh:mm:ss"), 8U);
  EXPECT_EQ(cv::time_format_width("hh.mm.ss"), 0U);
  EXPECT_EQ(cv::time_format_width("hh:mm:ss.xxx"), 12U);
  EXPECT_EQ(cv::time_format_width("hh:mm:ss.xxxxxxxxx"), 18U);
  EXPECT_EQ(cv::time_format_width("hh:mm:ss.xx"), 0U);
  EXPECT_EQ(cv::time_format_width("hh:mm:ss.xxxxxxxxxx"), 0U);
  EXPECT_EQ(cv::time_format_width("hh:mm:ss+zzzz"), 0U);
}

// ---------------------------------------------------------------------------
// The user-text parsers

TEST(CvTimeParse, DatesInTheirAcceptedForms) {
  struct date_case {
    const char* text;
    int day;
    int month;
    int year;
  };
  const std::vector<date_case> accepted = {
      {"07/04/2019", 4, 7, 2019}, {"7-4-19", 4, 7, 2019},     {"04-Jul-2019", 4, 7, 2019},
      {"4-jUL-19", 4, 7, 2019},   {"1/1/30", 1, 1, 2030},     {"1/1/31", 1, 1, 1931},
      {"02/31/2019", 31, 2, 2019}, {"12/25/20191", 25, 12, 2019}, {"12/25/2019 10:00", 25, 12, 2019},
      {"1/1/019", 1, 1, 19},      {"1/1/9", 1, 1, 9},
  };
  for (const auto& c : accepted) {
    int day = -1;
    int month = -1;
    int year = -1;
    EXPECT_TRUE(cv::parse_date_text(c.text, day, month, year)) << c.text;
    EXPECT_EQ(day, c.day) << c.text;
    EXPECT_EQ(month, c.month) << c.text;
    EXPECT_EQ(year, c.year) << c.text;
  }

  const std::vector<const char*> refused = {
      "13/01/2019",  "00/10/2019", "07/32/2019", "2019-07-04", "04-July-2019", "Jul-04-2019",
      "07/04/",      "07/04",      "07/04/x019", "07/04/ 2019", "20190704",   "",
      "ab/04/2019",  "04-Ju-2019", "04-Xyz-2019", "07//2019",
  };
  for (const char* text : refused) {
    int day = -1;
    int month = -1;
    int year = -1;
    EXPECT_FALSE(cv::parse_date_text(text, day, month, year)) << text;
    EXPECT_EQ(day, 0) << text;
    EXPECT_EQ(month, 0) << text;
  }
}

TEST(CvTimeParse, TimesWithSecondsFractionsAndMarkers) {
  struct time_case {
    const char* text;
    int hour;
    int minute;
    double seconds;
  };
  const std::vector<time_case> accepted = {
      {"1:30:15.25 pm", 13, 30, 15.25}, {"13:30", 13, 30, 0.0},     {"12:15 pm", 24, 15, 0.0},
      {"1:30am", 1, 30, 0.0},            {" \t09:05:07\r\n", 9, 5, 7.0}, {"11:59:59 PM", 23, 59, 59.0},
      {"0:0:.5", 0, 0, 0.5},            {"25:61:99", 25, 61, 99.0},
  };
  for (const auto& c : accepted) {
    int hour = -1;
    int minute = -1;
    double seconds = -1;
    EXPECT_TRUE(cv::parse_time_text(c.text, hour, minute, seconds)) << c.text;
    EXPECT_EQ(hour, c.hour) << c.text;
    EXPECT_EQ(minute, c.minute) << c.text;
    EXPECT_DOUBLE_EQ(seconds, c.seconds) << c.text;
  }
  for (const char* text : {"", "   ", "1330", "noon", "1:", "1: pm", "1:12345678901234567890123456789012"}) {
    int hour = -1;
    int minute = -1;
    double seconds = -1;
    EXPECT_FALSE(cv::parse_time_text(text, hour, minute, seconds)) << text;
  }
}

TEST(CvTimeParse, FilterValuesToFiletime) {
  struct filter_case {
    const char* text;
    bool is_stop;
    std::uint64_t expected;
  };
  const std::vector<filter_case> cases = {
      {"07/04/2019", false, ft_of(2019, 7, 4)},
      {"07/04/2019", true, ft_of(2019, 7, 4, 23, 59, 59)},
      {"4-Jul-19 1:30:15.25 pm", false, ft_of(2019, 7, 4, 13, 30, 15, 2'500'000)},
      {"02/31/2019", false, ft_of(2019, 3, 3)},
      {"03/01/2000", false, ft_of(2000, 3, 1)},
      {"02/29/2000 08:00", true, ft_of(2000, 2, 29, 8)},
      {"12/31/2019 12:15 pm", false, ft_of(2020, 1, 1, 0, 15)},
      {"07/04/2019 13:05:09.1234", false, july_fourth},
  };
  for (const auto& c : cases) {
    std::uint64_t out = 1;
    EXPECT_TRUE(cv::user_text_to_filetime(c.text, c.is_stop, out)) << c.text;
    EXPECT_EQ(out, c.expected) << c.text;
  }
  EXPECT_EQ(ft_of(2000, 3, 1), 125963424000000000ULL);

  for (const char* text : {"13/01/2019", "2019-07-04", "07/04/2019 noon", "yesterday"}) {
    std::uint64_t out = 77;
    EXPECT_FALSE(cv::user_text_to_filetime(text, false, out)) << text;
    EXPECT_EQ(out, 77U) << text;
  }

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

TEST(CvTimeCalendar, RoundTripThroughTheBreakdown) {
  std::mt19937_64 random(3000);
  const std::uint64_t last = ft_of(9999, 12, 31);
  for (int i = 0; i < 100'000; ++i) {
    const std::uint64_t ft = 1 + random() % last;
    cv::time value;
    value.set_time(ft, cv::type_time::filetime);
    ASSERT_EQ(cv::calendar_to_filetime(value.calendar()), ft - ft % 10'000) << ft;
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
