#include "support/progress_pacer.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgressPacer, DrawsAtMostTenTimesASecond) {
  const struct {
    int at_ms;
    bool due;
  } steps[] = {{0, true}, {1, false}, {99, false}, {100, true}, {150, false}, {250, true}, {251, false}, {5000, true}};
  support::progress_pacer pacer;
  const support::progress_pacer::clock::time_point start{std::chrono::hours(1)};
  for (const auto& step : steps) {
    EXPECT_EQ(pacer.due(start + std::chrono::milliseconds(step.at_ms)), step.due) << step.at_ms << " ms";
  }
}

}  // namespace
