// Segment names of raw images cut into pieces: which name starts a set, and
// the name of the piece after each.
#include <gtest/gtest.h>

#include "storage/split_raw_image.h"

TEST(SplitRawNames, FirstAndNextSegments) {
  struct name_case {
    const char* name;
    bool first;
    const char* next;
  };
  const name_case cases[] = {
      {"/e/disk.001", true, "/e/disk.002"},   {"/e/disk.raw.000", true, "/e/disk.raw.001"},
      {"/e/disk.009", false, "/e/disk.010"},  {"/e/disk.099", false, "/e/disk.100"},
      {"/e/disk.999", false, ""},             {"/e/disk.aa", true, "/e/disk.ab"},
      {"/e/disk.az", false, "/e/disk.ba"},    {"/e/disk.zz", false, ""},
      {"/e/disk.01", false, "/e/disk.02"},
      {"/e.001/disk", false, ""},             {"/e/disk.a", false, ""},
      {"/e/disk.E01", false, ""},             {"/e/disk.", false, ""},
  };
  for (const name_case& c : cases) {
    EXPECT_EQ(storage::is_first_segment_name(c.name), c.first) << c.name;
    EXPECT_EQ(storage::next_segment_name(c.name), c.next) << c.name;
  }
}
