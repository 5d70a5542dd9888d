// brindle's view of the fixture volumes against The Sleuth Kit's: fls -r -p -m
// for names, entries and sizes, istat for sequence numbers and the exact
// $STANDARD_INFORMATION times.
#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <set>

#include "tests/common/test_support.h"
#include "tests/common/tsk_listing.h"

using namespace testing_support;

namespace {

// istat turns a FILETIME into Unix seconds with unsigned 64-bit arithmetic
// and then keeps 32 bits, so a time before 1970 prints somewhere in 2032..2106
// and FILETIME 0 (1601) prints as 2076-11-29 08:54:34. This is what istat
// shows for one of our 100 ns texts.
std::string as_istat_prints(const std::string& ours) {
  if (ours.empty()) return "";
  const std::uint64_t filetime = filetime_of(ours);
  if (filetime == 0) return "unparsable " + ours;
  const auto shown_seconds =
      static_cast<std::time_t>(static_cast<std::uint32_t>((filetime - 116444736000000000ULL) / 10000000ULL));
  std::tm shown{};
  gmtime_r(&shown_seconds, &shown);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &shown);
  return text + ours.substr(19);
}

// FILETIMEs in the first days of 1601, which brindle does not print.
bool istat_shows_early_1601(const std::string& istat_text) {
  return istat_text.rfind("2076-11-29 08:54:3", 0) == 0;
}

struct our_line {
  std::uint64_t entry = 0;
  std::uint64_t base_entry = 0;  // the record that owns the name
  std::uint16_t sequence = 0;
  std::uint64_t size = 0;
  std::string type;
  std::string si_times[4];
};

std::string backslashes(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// -csvperpath with a TAB separator, decimal numbers and full 100 ns times,
// keyed by "[root]\path\name".
std::multimap<std::string, our_line> run_per_path(const std::string& volume) {
  const run_result run = run_brindle({"-mftfile", fixture_path(volume + ".mft"), "-csvperpath", "-csv_separator",
                                      "tab", "-base10", "-timeformat", "hh:mm:ss.xxxxxxx", "-quiet"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  std::multimap<std::string, our_line> lines;
  const std::vector<std::string> rows = split_lines(results_body(run.out));
  EXPECT_FALSE(rows.empty());
  if (rows.empty()) return lines;
  const std::vector<std::string> header = split_fields(rows[0], "\t");
  auto column = [&](const std::string& name) {
    for (std::size_t i = 0; i < header.size(); ++i) {
      if (header[i].substr(0, header[i].find_last_not_of(' ') + 1) == name) return i;
    }
    ADD_FAILURE() << "no column " << name;
    return std::size_t{0};
  };
  const std::size_t si_date = column("SI mdate");
  const std::size_t type = column("type");
  const std::size_t size = column("size");
  const std::size_t name = column("name");
  const std::size_t path = column("path");
  const std::size_t notes = column("sym link");
  auto trimmed = [](std::string text) { return text.substr(0, text.find_last_not_of(' ') + 1); };
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const std::vector<std::string> fields = split_fields(rows[r], "\t");
    if (fields.size() != header.size()) {
      ADD_FAILURE() << "ragged line: " << rows[r];
      continue;
    }
    our_line line;
    line.entry = std::stoull(fields[0]);
    // A name held by an extension record is shown under that record's entry
    // with "refinode: [base]" naming the record it belongs to.
    line.base_entry = line.entry;
    if (const auto at = fields[notes].find("refinode: ["); at != std::string::npos) {
      line.base_entry = std::stoull(fields[notes].substr(at + 11));
    }
    line.sequence = static_cast<std::uint16_t>(std::stoul(fields[1]));
    line.type = trimmed(fields[type]);
    line.size = std::stoull(fields[size]);
    for (int t = 0; t < 4; ++t) {
      const std::string date = trimmed(fields[si_date + 2 * t]);
      const std::string time = trimmed(fields[si_date + 2 * t + 1]);
      line.si_times[t] = date.empty() ? "" : date + " " + time;
    }
    lines.emplace(trimmed(fields[path]) + trimmed(fields[name]), line);
  }
  return lines;
}

class TskOracle : public ::testing::TestWithParam<std::string> {};

TEST_P(TskOracle, EveryNameFlsListsHasTheSamePathEntrySequenceSizeAndTimes) {
  const std::string volume = GetParam();
  const auto fls = read_fls(volume);
  const auto istat = read_istat(volume);
  const auto ours = run_per_path(volume);
  ASSERT_GT(fls.size(), 50u);

  std::size_t compared = 0;
  for (const fls_line& line : fls) {
    if (line.file_name_times || !line.stream.empty() || line.kind == 'V') continue;
    // Names TSK could only place under its virtual orphan folder, and the
    // "." entry of the root, have no path of their own to compare.
    if (line.path.rfind("/$OrphanFiles", 0) == 0 || line.path.find("/.") + 2 == line.path.size()) continue;
    const std::string key = "[root]" + backslashes(line.path);
    const auto [first, last] = ours.equal_range(key);
    const our_line* match = nullptr;
    for (auto it = first; it != last; ++it) {
      if (it->second.base_entry == line.entry) match = &it->second;
    }
    ASSERT_NE(match, nullptr) << "brindle has no line for entry " << line.entry << " " << key;
    ASSERT_TRUE(istat.count(line.entry)) << line.entry;
    const istat_entry& expected = istat.at(line.entry);
    EXPECT_EQ(match->sequence, expected.sequence) << key;
    EXPECT_EQ(match->type, line.deleted ? "del" : (line.kind == 'd' ? "dir" : "file")) << key;
    if (line.type == 128) {
      EXPECT_EQ(match->size, line.size) << key;
    }
    for (int t = 0; t < 4; ++t) {
      const std::string& shown = expected.si_times[t];
      if (shown.rfind("0000-00-00", 0) == 0) continue;  // istat could not render it either
      if (match->si_times[t].empty()) {
        EXPECT_TRUE(istat_shows_early_1601(shown)) << key << " time " << t << ": istat shows " << shown;
      } else {
        EXPECT_EQ(as_istat_prints(match->si_times[t]), shown) << key << " time " << t;
      }
    }
    ++compared;
  }
  EXPECT_GT(compared, 40u);
}

TEST_P(TskOracle, PathListIsExactlyTheInUseFilesFlsFinds) {
  const std::string volume = GetParam();
  std::set<std::string> expected;
  for (const fls_line& line : read_fls(volume)) {
    if (line.deleted || line.kind == 'd' || line.kind == 'V' || line.file_name_times) continue;
    expected.insert(backslashes(line.path));
  }
  const run_result run = run_brindle({"-mftfile", fixture_path(volume + ".mft"), "-filepath_only", "-quiet"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  std::multiset<std::string> listed;
  for (const std::string& line : split_lines(results_body(run.out))) listed.insert(line);
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()).size(), listed.size()) << "a path listed twice";
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), expected);
}

INSTANTIATE_TEST_SUITE_P(Volumes, TskOracle, ::testing::Values("basic", "sector4k"));

}  // namespace
