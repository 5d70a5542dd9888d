// brindle's view of the fixture volumes against The Sleuth Kit's, read from
// the extracted $MFT: fls -r -p -m for names, entries and sizes, istat for
// sequence numbers and the exact $STANDARD_INFORMATION times.
#include <gtest/gtest.h>

#include "tests/common/tsk_agreement.h"

using namespace testing_support;

namespace {

class TskOracle : public ::testing::TestWithParam<std::string> {};

TEST_P(TskOracle, EveryNameFlsListsHasTheSamePathEntrySequenceSizeAndTimes) {
  const std::string volume = GetParam();
  ASSERT_GT(read_fls(volume).size(), 50u);
  const agreement_count count = expect_per_path_agrees_with_tsk(volume, {"-mftfile", fixture_path(volume + ".mft")});
  // Every name of these two volumes has an istat block.
  EXPECT_GT(count.names, 40u);
  EXPECT_EQ(count.with_istat, count.names);
}

TEST_P(TskOracle, PathListIsExactlyTheFilesFlsFinds) {
  const std::string volume = GetParam();
  expect_path_list_is_tsk_files(volume, {"-mftfile", fixture_path(volume + ".mft")});
}

INSTANTIATE_TEST_SUITE_P(Volumes, TskOracle, ::testing::Values("basic", "sector4k"));

}  // namespace
