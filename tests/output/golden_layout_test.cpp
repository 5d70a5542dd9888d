// Each result layout on the basic fixture volume, against output reviewed by
// hand once and kept in tests/fixtures/golden. Set BRINDLE_UPDATE_GOLDEN=1 to
// rewrite the files after a deliberate change, then review the diff.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

struct golden_case {
  const char* name;
  std::vector<std::string> arguments;
};

void PrintTo(const golden_case& c, std::ostream* out) { *out << c.name; }

class GoldenLayout : public ::testing::TestWithParam<golden_case> {};

TEST_P(GoldenLayout, MatchesReviewedOutput) {
  const golden_case& c = GetParam();
  std::vector<std::string> arguments = {"-mftfile", fixture_path("basic.mft"), "-quiet"};
  arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
  const run_result run = run_brindle(arguments);
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const std::string body = results_body(run.out);
  const std::string golden = source_fixture_path(std::string("golden/") + c.name + ".txt");
  if (std::getenv("BRINDLE_UPDATE_GOLDEN")) {
    std::ofstream(golden, std::ios::binary | std::ios::trunc) << body;
    GTEST_SKIP() << "rewrote " << golden;
  }
  const std::string expected = read_file(golden);
  ASSERT_FALSE(expected.empty()) << "missing " << golden;
  // Compare line by line so a failure names the first differing line.
  const auto want = split_lines(expected);
  const auto got = split_lines(body);
  for (std::size_t i = 0; i < std::min(want.size(), got.size()); ++i) {
    ASSERT_EQ(got[i], want[i]) << c.name << " line " << i + 1;
  }
  EXPECT_EQ(got.size(), want.size()) << c.name;
}

// Entries 64-99 hold the reused directory and its orphaned child, the deep
// folders, the awkward names, the 8.3 twin, the links and the streams;
// 318-337 the deleted files and the odd times.
INSTANTIATE_TEST_SUITE_P(
    Layouts, GoldenLayout,
    ::testing::Values(
        golden_case{"default", {"-mftstart", "64", "-mftrange", "36"}},
        golden_case{"csv", {"-csv", "-mftstart", "64", "-mftrange", "36"}},
        golden_case{"csvperpath", {"-csvperpath", "-mftstart", "64", "-mftrange", "36"}},
        golden_case{"filepath_only", {"-filepath_only"}},
        golden_case{"find_mft_8dot3", {"-find_mft", "88"}},
        golden_case{"find_mft_attribute_list", {"-find_mft", "0x12e"}},
        golden_case{"find_mft_junction", {"-find_mft", "95"}},
        golden_case{"find_mft_sparse", {"-find_mft", "315", "-base10"}},
        golden_case{"base10", {"-csv", "-base10", "-mftstart", "318", "-mftrange", "20"}},
        golden_case{"pair_datetime", {"-csv", "-pair_datetime", "-mftstart", "318", "-mftrange", "20"}},
        golden_case{"custom_date_time",
                    {"-dateformat", "dd/mm/yyyy", "-timeformat", "hh:mm:ss.xxxxxxx", "-mftstart", "330", "-mftrange",
                     "8"}},
        golden_case{"csv_separator_tab", {"-csv", "-csv_separator", "tab", "-mftstart", "75", "-mftrange", "13"}},
        golden_case{"quoted_csv_fields",
                    {"-csv", "-enable_quoted_csv_fields", "-mftstart", "75", "-mftrange", "13"}},
        golden_case{"no_whitespace_hide_dos",
                    {"-no_whitespace", "-hide_dos_fntimes", "-filerecord_offset", "-mftstart", "86", "-mftrange", "3"}}),
    [](const ::testing::TestParamInfo<golden_case>& info) { return std::string(info.param.name); });

}  // namespace
