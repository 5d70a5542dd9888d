// Paces the progress line of a long scan. Writing it costs a terminal
// update; a walk that drew it every few dozen entries would spend more time
// on the console than on the MFT. The walk asks every few entries (a
// modulus, no clock), and only then is the monotonic clock read: the line
// is redrawn at most ten times a second.
#pragma once

#include <chrono>

namespace support {

class progress_pacer {
 public:
  using clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds min_interval{100};

  // True when a line may be drawn at `now`; the first call always may.
  bool due(clock::time_point now) {
    if (m_drawn && now - m_last_drawn < min_interval) return false;
    m_drawn = true;
    m_last_drawn = now;
    return true;
  }
  bool due() { return due(clock::now()); }

 private:
  bool m_drawn = false;
  clock::time_point m_last_drawn{};
};

}  // namespace support
