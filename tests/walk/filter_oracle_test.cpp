// Selection filters on the fixture volumes against the entries and notes
// worked out from The Sleuth Kit's listing of the same volumes, once, by
// tests/fixtures/filter-oracle.py: NAME.filters.txt holds each case's filter
// arguments, then "entry|notes" for every entry it must select, and for a
// case with a time window the entry's times inside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <tuple>

#include "tests/common/test_support.h"
#include "tests/common/tsk_listing.h"

using namespace testing_support;

namespace {

struct filter_case {
  std::string label;
  std::vector<std::string> arguments;
  std::map<std::uint64_t, std::string> notes;              // of each entry to select
  bool windowed = false;                                   // the case has a time window
  std::map<std::uint64_t, std::set<std::uint64_t>> times;  // in the window
};

const std::vector<filter_case>& oracle_cases(const std::string& volume) {
  static std::map<std::string, std::vector<filter_case>> loaded;
  if (loaded.count(volume)) return loaded[volume];
  std::vector<filter_case>& cases = loaded[volume];
  for (const std::string& line : split_lines(read_file(source_fixture_path(volume + ".filters.txt")))) {
    if (line.starts_with("=== ")) {
      std::vector<std::string> fields = split_fields(line.substr(4), "\t");
      cases.push_back({fields[0], {fields.begin() + 1, fields.end()}, {}, false, {}});
      cases.back().windowed = std::count(fields.begin(), fields.end(), "-filter_start_time") > 0;
      continue;
    }
    const std::uint64_t entry = std::stoull(line);
    std::string notes = line.substr(line.find('|') + 1);
    if (cases.back().windowed) {
      for (const std::string& t : split_fields(notes.substr(notes.rfind('|') + 1), " ")) {
        if (!t.empty()) cases.back().times[entry].insert(std::stoull(t));
      }
      notes.erase(notes.rfind('|'));
    }
    cases.back().notes[entry] = notes;
  }
  return cases;
}

// What brindle reports: each entry's filter notes, and the times of its lines.
struct reported {
  std::map<std::uint64_t, std::string> notes;
  std::map<std::uint64_t, std::set<std::uint64_t>> times;
};

// A run on the volume's extracted $MFT with `layout` and `filters`.
results_table run_table(const std::string& volume, std::vector<std::string> layout,
                        const std::vector<std::string>& filters, const std::string& separator) {
  layout.insert(layout.begin(), {"-mftfile", fixture_path(volume + ".mft"), "-base10", "-quiet"});
  layout.insert(layout.end(), filters.begin(), filters.end());
  const run_result run = run_brindle(layout);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  return parse_results(results_body(run.out), separator);
}

reported run_filtered(const std::string& volume, const std::vector<std::string>& filters) {
  const results_table table = run_table(volume, {"-csv", "-timeformat", "hh:mm:ss.xxxxxxx"}, filters, ",");
  reported result;
  if (table.header.empty()) return result;
  const std::size_t date = table.column("date"), time = table.column("time-utc"), other = table.column("other info");
  std::vector<std::uint64_t> order;  // entries of consecutive lines, repeats merged
  std::set<std::vector<std::string>> distinct;
  for (const auto& fields : table.rows) {
    EXPECT_TRUE(distinct.insert(fields).second) << "line written twice: " << ::testing::PrintToString(fields);
    const std::uint64_t entry = std::stoull(fields[0]);
    std::string notes;
    for (const std::string& item : split_fields(fields[other], "; ")) {
      for (const char* label : {"type(", "pattern(", "dir(", "inode(", "ext(", "name("}) {
        if (item.rfind(label, 0) == 0) notes += (notes.empty() ? "" : "; ") + item;
      }
    }
    const auto at = result.notes.emplace(entry, notes).first;
    EXPECT_EQ(at->second, notes) << "lines of entry " << entry << " disagree";
    if (order.empty() || order.back() != entry) order.push_back(entry);
    if (!fields[date].empty()) result.times[entry].insert(filetime_of(fields[date] + " " + fields[time]));
  }
  // Each entry once, its lines together, entries in ascending order.
  EXPECT_EQ(std::adjacent_find(order.begin(), order.end(), std::greater_equal<>()), order.end())
      << "entries out of order or repeated";
  return result;
}

class OnFixtureVolumes : public ::testing::TestWithParam<std::tuple<std::string, std::size_t>> {};

TEST_P(OnFixtureVolumes, ReportsExactlyTheEntriesAndNotesTheSleuthKitListingImplies) {
  const auto& [volume, index] = GetParam();
  const filter_case& c = oracle_cases(volume).at(index);
  if (volume == "basic") {
    EXPECT_FALSE(c.notes.empty()) << "a case that selects nothing proves little";
  }
  const reported got = run_filtered(volume, c.arguments);
  EXPECT_EQ(got.notes, c.notes);
  if (!c.windowed) return;
  // The timeline leaves out the groups outside the window, so a record
  // wrongly let through with no time inside would not show there; the
  // one-line-per-path layout shows every accepted record.
  for (const auto& [entry, times] : got.times) {
    EXPECT_EQ(times, c.times.count(entry) ? c.times.at(entry) : std::set<std::uint64_t>{}) << "timeline of entry " << entry;
  }
  std::set<std::uint64_t> accepted, selected;
  const results_table per_path = run_table(volume, {"-csvperpath", "-csv_separator", "tab"}, c.arguments, "\t");
  for (std::size_t r = 0; r < per_path.rows.size(); ++r) accepted.insert(per_path.entry(r));
  for (const auto& [entry, notes] : c.notes) selected.insert(entry);
  EXPECT_EQ(accepted, selected);
}

// 24 cases in each oracle file.
INSTANTIATE_TEST_SUITE_P(FilterOracle, OnFixtureVolumes,
                         ::testing::Combine(::testing::Values("basic", "sector4k"), ::testing::Range<std::size_t>(0, 24)),
                         [](const auto& info) {
                           return std::get<0>(info.param) + "_" + oracle_cases(std::get<0>(info.param))
                                                                      .at(std::get<1>(info.param))
                                                                      .label;
                         });

}  // namespace
