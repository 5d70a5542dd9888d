// Date and time texts of FILETIMEs, remembering the last whole second and
// day: the times of one record, and of records written together, mostly
// share their day, often their second, so only the clock or the fraction
// digits need writing again.
#pragma once

#include <cstdint>

#include "output/cv_time.h"

namespace output {

class time_text_cache {
 public:
  explicit time_text_cache(const cv::datetime_format& format) : m_format(format) {}

  // The texts for `filetime`; both lengths are 0 when it is not printable.
  const cv::filetime_text& get(std::uint64_t filetime);

 private:
  static constexpr std::uint64_t ticks_per_second = 10000000;

  const cv::datetime_format& m_format;
  std::uint64_t m_second = ~0ULL;
  cv::filetime_text m_text{};
  std::uint8_t m_fraction_start = 0;  // index of the first fraction digit, 0 when none
  std::uint64_t m_clock_day = ~0ULL;   // days since 1601 whose date text m_text holds, when reusable
};

}  // namespace output
