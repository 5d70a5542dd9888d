// -jsonl and -jsonl_timeline on the fixture volumes, read back by Python's
// json module: every line an object, hostile names included; one row per
// line of the per-path layout; the fields timeline platforms require.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

struct json_case {
  const char* name;
  std::vector<std::string> arguments;
  bool same_rows_as_per_path;  // false when journal or slack rows are added
};

TEST(JsonLines, EveryLineParsesAndRowsMatchThePerPathLayout) {
  if (std::system("python3 -c 'import json' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
  const json_case cases[] = {
      {"basic", {"-image", fixture_path("basic.img"), "-md5", "-action_include_zoneinfo",
                 "-action_include_clusterinfo", "-action_include_header"}, true},
      {"carving", {"-image", fixture_path("carving.img"), "-filter_all_clusters"}, true},
      {"owners", {"-image", fixture_path("owners.img"), "-action_include_ownersid", "-sha256"}, true},
      {"streams", {"-mftfile", fixture_path("streams.mft")}, true},
      {"journal", {"-image", fixture_path("journal.img")}, true},
      {"journal and slack", {"-image", fixture_path("journal.img"), "-usnjrnl", "-indx_slack"}, false},
  };
  scratch_folder folder("json_lines");
  for (const json_case& c : cases) {
    std::vector<std::string> rows_run = c.arguments;
    rows_run.insert(rows_run.end(), {"-jsonl", "-quiet"});
    const run_result rows = run_brindle(rows_run);  // to standard output: nothing but JSON
    ASSERT_EQ(rows.exit_status, 0) << c.name << rows.err;
    write_bytes(folder.file("rows"), {rows.out.begin(), rows.out.end()});
    std::vector<std::string> timeline_run = c.arguments;
    timeline_run.insert(timeline_run.end(), {"-jsonl_timeline", "-quiet", "-out", folder.file("timeline")});
    ASSERT_EQ(run_brindle(timeline_run).exit_status, 0) << c.name;

    const std::string command = "python3 " + source_fixture_path("check-jsonl.py") + " " + folder.file("rows") + " " +
                                folder.file("timeline") + " > " + folder.file("counts") + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << c.name << ": " << read_file(folder.file("counts"));
    std::size_t row_count = 0;
    std::size_t event_count = 0;
    ASSERT_EQ(std::sscanf(read_file(folder.file("counts")).c_str(), "%zu %zu", &row_count, &event_count), 2);
    EXPECT_GT(event_count, row_count) << c.name;
    if (!c.same_rows_as_per_path) continue;
    std::vector<std::string> per_path_run = c.arguments;
    per_path_run.insert(per_path_run.end(), {"-csvperpath", "-quiet"});
    const run_result per_path = run_brindle(per_path_run);
    // The body's first line names the columns.
    EXPECT_EQ(row_count + 1, split_lines(results_body(per_path.out)).size()) << c.name;
  }
}

}  // namespace
