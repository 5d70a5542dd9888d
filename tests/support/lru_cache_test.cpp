#include "support/lru_cache.h"

#include <gtest/gtest.h>

namespace {

TEST(LruCache, ForgetsTheLeastRecentlyUsedExceptWhatTheOpenEpochUsed) {
  support::lru_cache<int> cache(2);
  bool added = false;
  cache.slot_for(1, added) = 10;
  cache.slot_for(2, added) = 20;
  ASSERT_NE(cache.find(1), nullptr);
  cache.slot_for(3, added) = 30;
  EXPECT_EQ(cache.find(2), nullptr);
  EXPECT_EQ(*cache.find(1), 10);

  // Values of the open epoch are kept, in place, even past the capacity.
  cache.new_epoch();
  int* const pinned = &cache.slot_for(4, added);
  *pinned = 40;
  cache.slot_for(5, added) = 50;
  cache.slot_for(6, added) = 60;
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(*pinned, 40);
  EXPECT_EQ(cache.find(1), nullptr);
  cache.new_epoch();
  cache.slot_for(7, added);
  EXPECT_TRUE(added);
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(cache.find(4), nullptr);
}

}  // namespace
