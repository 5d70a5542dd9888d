// Selection filters on the fixture volumes, the expected entries and notes
// worked out from The Sleuth Kit's listing of the same volumes. Per entry:
// fls gives the names and paths, the deleted flag and the $DATA sizes;
// istat gives every $STANDARD_INFORMATION and $FILE_NAME time, each name's
// parent entry and the 8.3 names fls leaves out; records fls never lists
// (the root and the reserved records 12-15) come from istat alone.
// Left out: the names TSK invents ("OrphanFile-N" for deleted records with
// no $FILE_NAME, kept as nameless entries) and its virtual $OrphanFiles
// folder, which has no record. Extension records are folded into their base
// record, as brindle folds their attributes and reports the base alone.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <set>
#include <tuple>

#include "tests/common/test_support.h"
#include "tests/common/tsk_listing.h"

using namespace testing_support;

namespace {

struct name_link {
  std::string name;
  std::uint64_t parent = ~0ULL;
  std::string directory;  // "[root]\a\b\" as fls places the name; empty when fls does not list it
};

struct oracle_record {
  bool listed = false;  // fls lists the entry
  bool deleted = false;
  std::map<std::string, std::uint64_t> streams;  // $DATA sizes in bytes, "" the unnamed stream
  std::vector<name_link> names;                  // in the record's order: by parent entry, then name
  std::set<std::uint64_t> times;                 // FILETIMEs of $SI and every $FILE_NAME
};
using oracle = std::map<std::uint64_t, oracle_record>;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// fls puts a name whose parent record was reused under $OrphanFiles; brindle
// shows the same broken link as "<path corrupted>". Commas in CSV fields
// come out as blanks.
std::string directory_text(const std::string& fls_directory) {
  std::string text = "[root]" + fls_directory + "/";
  if (fls_directory.rfind("/$OrphanFiles", 0) == 0) text = "[root]/<path corrupted>/";
  std::replace(text.begin(), text.end(), '/', '\\');
  std::replace(text.begin(), text.end(), ',', ' ');
  return text;
}

oracle load_oracle(const std::string& volume) {
  oracle records;
  for (const fls_line& line : read_fls(volume)) {
    if (line.kind == 'V') continue;
    oracle_record& record = records[line.entry];
    record.listed = true;
    record.deleted = record.deleted || line.deleted;
    if (line.type == 128) record.streams[line.stream] = line.size;
    const std::size_t slash = line.path.rfind('/');
    const name_link link{line.path.substr(slash + 1), ~0ULL, directory_text(line.path.substr(0, slash))};
    if (!line.stream.empty() || line.path.rfind("/$OrphanFiles/OrphanFile-", 0) == 0) continue;
    const auto same = [&](const name_link& l) { return l.name == link.name && l.directory == link.directory; };
    if (std::none_of(record.names.begin(), record.names.end(), same)) record.names.push_back(link);
  }
  for (const auto& [entry, block] : read_istat(volume)) {
    oracle_record& record = records[block.base_record ? block.base_record : entry];
    if (!record.listed && !block.base_record) record.deleted = !block.allocated;
    if (!record.listed) record.streams.insert(block.data_sizes.begin(), block.data_sizes.end());
    for (const std::string& time : block.si_times) record.times.insert(filetime_of(time));
    for (const istat_name& file_name : block.file_names) {
      for (const std::string& time : file_name.times) record.times.insert(filetime_of(time));
      auto same = std::find_if(record.names.begin(), record.names.end(),
                               [&](const name_link& l) { return l.name == file_name.name; });
      if (same == record.names.end()) {  // an 8.3 name, or a record fls skips
        const auto beside = std::find_if(record.names.begin(), record.names.end(),
                                         [&](const name_link& l) { return l.parent == file_name.parent; });
        const std::string directory = beside == record.names.end() ? "" : beside->directory;
        same = record.names.insert(record.names.end(), {file_name.name, file_name.parent, directory});
      }
      same->parent = file_name.parent;
    }
    // istat cannot show times before 1970 (TSK keeps unsigned 32-bit Unix
    // seconds); they come out as 0 here or wrapped into 2032..2106, so
    // windows stay before 2032.
    record.times.erase(0);
  }
  for (auto& [entry, record] : records) {
    // As their link texts "parent_name_entry" sort.
    std::sort(record.names.begin(), record.names.end(), [](const name_link& a, const name_link& b) {
      return std::make_tuple(a.parent, a.name + '_') < std::make_tuple(b.parent, b.name + '_');
    });
  }
  return records;
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

// -------- the oracle's answers --------

using verdict = std::optional<std::string>;  // the notes of a selected entry
using rule = std::function<verdict(std::uint64_t, const oracle_record&)>;

verdict note(const std::string& label, const std::string& text) { return label + "(" + text + ")"; }

// The first name, in the record's order, for which `test` gives a note.
verdict first_name(const oracle_record& r, const std::function<verdict(const name_link&)>& test) {
  for (const name_link& link : r.names) {
    if (verdict v = test(link)) return v;
  }
  return std::nullopt;
}

// Only the first name holding a "." gives the extension.
verdict extension_in(const oracle_record& r, const std::set<std::string>& extensions) {
  for (const name_link& link : r.names) {
    if (link.name.find('.') == std::string::npos) continue;
    const std::string extension = lower(link.name.substr(link.name.rfind('.') + 1));
    return extensions.count(extension) ? note("ext", extension) : std::nullopt;
  }
  return std::nullopt;
}

verdict name_holding(const oracle_record& r, const std::vector<std::string>& items, bool partial) {
  return first_name(r, [&](const name_link& link) -> verdict {
    for (const std::string& item : items) {
      if (partial ? lower(link.name).find(item) != std::string::npos : lower(link.name) == item) {
        return note("name", item);
      }
    }
    return std::nullopt;
  });
}

verdict wildcard(const oracle_record& r, const std::vector<std::string>& patterns) {
  return first_name(r, [&](const name_link& link) -> verdict {
    for (const std::string& pattern : patterns) {
      if (fnmatch(pattern.c_str(), lower(link.name).c_str(), 0) == 0) return note("pattern", link.name);
    }
    return std::nullopt;
  });
}

verdict in_directory(const name_link& link, const std::set<std::uint64_t>& directories) {
  return directories.count(link.parent) ? note("dir", link.directory) : std::nullopt;
}

// Unnamed stream within [minimum, maximum]; a record without one passes
// when no minimum is given.
bool size_within(const oracle_record& r, std::optional<std::uint64_t> minimum, std::uint64_t maximum) {
  const auto data = r.streams.find("");
  if (data == r.streams.end()) return !minimum;
  return data->second >= minimum.value_or(0) && data->second <= maximum;
}

bool named_stream_of(const oracle_record& r, std::uint64_t minimum) {
  return std::any_of(r.streams.begin(), r.streams.end(), [&](auto& s) { return s.first != "" && s.second >= minimum; });
}

struct window {
  std::uint64_t start = 0, stop = ~0ULL;
  bool set() const { return start != 0 || stop != ~0ULL; }
  bool holds(std::uint64_t t) const { return t >= start && t <= stop; }
  bool any(const oracle_record& r) const {
    return std::any_of(r.times.begin(), r.times.end(), [&](auto t) { return holds(t); });
  }
};

verdict hit(bool selected) { return selected ? verdict("") : std::nullopt; }
verdict either(verdict a, const std::function<verdict()>& b) { return a ? a : b(); }
// Under AND logic every filter must match; the notes come in their fixed order.
verdict both(verdict a, verdict b) { return a && b ? verdict(*a + "; " + *b) : std::nullopt; }
verdict inode_in(std::uint64_t entry, const std::set<std::uint64_t>& entries) {
  return entries.count(entry) ? note("inode", std::to_string(entry)) : std::nullopt;
}

struct filter_case {
  filter_case(const char* l, std::vector<std::string> a, rule e, window w = {})
      : label(l), arguments(std::move(a)), expect(std::move(e)), times(w) {}
  const char* label;
  std::vector<std::string> arguments;
  rule expect;
  window times;  // lines outside it are not written
};

const std::vector<filter_case>& cases() {
  // The window arguments below, as FILETIMEs; a stop without a time of day means 23:59:59.
  static const window april_15_1431{filetime_of("2024-04-15 14:31:00"), filetime_of("2024-04-15 14:31:00")};
  static const window april_15{filetime_of("2024-04-15 00:00:00"), filetime_of("2024-04-15 23:59:59")};
  static const window system_files{filetime_of("2024-02-10 00:00:00"), filetime_of("2024-03-01 09:00:00")};
  static const window years{filetime_of("2019-01-01 00:00:00"), filetime_of("2023-12-31 23:59:59")};
  static const std::vector<filter_case> table = {
      {"ext", {"-filter_ext", "txt|.LOG|.GZ"}, [](auto, auto& r) { return extension_in(r, {"txt", "log", "gz"}); }},
      {"name", {"-filter_name", "BOOT|gone|_1"},
       [](auto, auto& r) { return name_holding(r, {"boot", "gone", "_1"}, true); }},
      {"fullname", {"-filter_fullname", "KEEP.TXT,Café.txt,boot,$mft"},
       [](auto, auto& r) { return name_holding(r, {"keep.txt", "café.txt", "boot", "$mft"}, false); }},
      {"wildcard_twice", {"-filter_wildcard", "*.BIN", "-filter_wildcard", "?ong*"},
       [](auto, auto& r) { return wildcard(r, {"*.bin", "?ong*"}); }},
      {"inode_stream", {"-filter_inode", "98:summary|97:nosuch|5|69:zone.identifier"},
       [](auto e, auto& r) -> verdict {
         if (e == 98 && r.streams.count("summary")) return note("inode", "98:summary");
         if (e == 69 && r.streams.count("Zone.Identifier")) return note("inode", "69:Zone.Identifier");
         return inode_in(e, {5});
       }},
      // A directory item with a stream selects only its files holding that stream.
      {"dir_inode", {"-filter_dir_inode", "74|64|91|65|96:SUMMARY"},
       [](auto, auto& r) {
         return first_name(r, [&](const name_link& link) -> verdict {
           if (link.parent == 96) return r.streams.count("summary") ? note("dir", "96:summary") : std::nullopt;
           return in_directory(link, {74, 64, 91, 65});
         });
       }},
      {"max_size", {"-filter_max_size", "10"}, [](auto, auto& r) { return hit(size_within(r, {}, 10)); }},
      {"min_max_size", {"-filter_min_size", "0x10", "-filter_max_size", "100"},
       [](auto, auto& r) { return hit(size_within(r, 16, 100)); }},
      {"min_ads_size", {"-filter_min_ads_size", "26"}, [](auto, auto& r) { return hit(named_stream_of(r, 26)); }},
      {"deleted", {"-filter_deleted_files"}, [](auto, auto& r) { return hit(r.deleted); }},
      {"window_years", {"-filter_start_time", "01/01/2019 00:00:00", "-filter_stop_time", "12/31/2023"},
       [](auto, auto& r) { return hit(years.any(r)); }, years},
      // A matching name does not bring back a record outside the window.
      {"window_second_and_name",
       {"-filter_start_time", "04/15/2024 14:31:00", "-filter_stop_time", "04/15/2024 14:31:00", "-filter_fullname",
        "keep.txt|final.txt|report.txt|b.txt"},
       [](auto, auto& r) {
         return april_15_1431.any(r) ? name_holding(r, {"keep.txt", "final.txt", "report.txt", "b.txt"}, false)
                                     : std::nullopt;
       },
       april_15_1431},
      // $MFT's own $STANDARD_INFORMATION times are all zero: only its
      // $FILE_NAME times fall in this window.
      {"window_file_name_times",
       {"-filter_start_time", "02/10/2024 00:00:00", "-filter_stop_time", "03/01/2024 09:00:00", "-filter_fullname",
        "$MFT|$MFTMirr|$Volume"},
       [](auto, auto& r) {
         return system_files.any(r) ? name_holding(r, {"$mft", "$mftmirr", "$volume"}, false) : std::nullopt;
       },
       system_files},
      // OR logic: the first test of the fixed order that matches gives the note.
      {"or_ext_name", {"-filter_ext", "bin", "-filter_name", "gone"},
       [](auto, auto& r) { return either(name_holding(r, {"gone"}, true), [&] { return extension_in(r, {"bin"}); }); }},
      {"or_inode_wildcard", {"-filter_inode", "319|92|99999|68", "-filter_wildcard", "*.gz"},
       [](auto e, auto& r) { return either(wildcard(r, {"*.gz"}), [&] { return inode_in(e, {319, 92, 68}); }); }},
      {"or_dir_inode_size", {"-filter_dir_inode", "74|66", "-filter_max_size", "10"},
       [](auto, auto& r) {
         const auto in_74_or_66 = [](auto& link) { return in_directory(link, {74, 66}); };
         return size_within(r, {}, 10) ? verdict("") : first_name(r, in_74_or_66);
       }},
      {"or_inode_ext", {"-filter_inode", "98:summary|5|92|319", "-filter_ext", "txt"},
       [](auto e, auto& r) -> verdict {
         if (e == 98 && r.streams.count("summary")) return note("inode", "98:summary");
         return either(inode_in(e, {5, 92, 319}), [&] { return extension_in(r, {"txt"}); });
       }},
      // AND logic: the deleted-only or inode pre-test must hold as well.
      {"and_deleted_ext", {"-filter_deleted_files", "-filter_ext", "txt"},
       [](auto, auto& r) { return r.deleted ? extension_in(r, {"txt"}) : std::nullopt; }},
      {"and_deleted_size", {"-filter_deleted_files", "-filter_min_size", "1000"},
       [](auto, auto& r) { return hit(r.deleted && size_within(r, 1000, ~0ULL)); }},
      // The stream item fails the whole-record pre-test, which AND logic
      // does not forgive; entry 5 has no ".txt" name.
      {"and_inode_ext", {"-filter_AND_logic", "-filter_inode", "98:summary|5|92|319", "-filter_ext", "txt"},
       [](auto e, auto& r) { return both(inode_in(e, {5, 92, 319}), extension_in(r, {"txt"})); }},
      {"and_name_ext", {"-filter_AND_logic", "-filter_name", "gone", "-filter_ext", "txt"},
       [](auto, auto& r) { return both(extension_in(r, {"txt"}), name_holding(r, {"gone"}, true)); }},
      {"and_deleted_window",
       {"-filter_AND_logic", "-filter_deleted_files", "-filter_start_time", "04/15/2024 00:00:00", "-filter_stop_time",
        "04/15/2024"},
       [](auto, auto& r) { return hit(r.deleted && april_15.any(r)); }, april_15},
      // -filter_inode alone walks only the set (so -mftstart/-mftrange do
      // not apply); with a name filter beside it the range walk runs.
      {"inode_set_walk", {"-mftstart", "300", "-mftrange", "5", "-filter_inode", "92|5|92|40|337|338|100000"},
       [](auto e, auto&) { return inode_in(e, {5, 92, 337}); }},
      {"inode_and_name_range_walk",
       {"-mftstart", "0", "-mftrange", "93", "-filter_inode", "92|5|7|300", "-filter_name", "boot"},
       [](auto e, auto& r) -> verdict {
         if (e >= 93) return std::nullopt;
         const verdict inode = inode_in(e, {5, 92, 7});
         const verdict name = name_holding(r, {"boot"}, true);
         return inode && name ? *inode + "; " + *name : inode ? inode : name;
       }},
  };
  return table;
}

class OnFixtureVolumes : public ::testing::TestWithParam<std::tuple<std::string, std::size_t>> {};

TEST_P(OnFixtureVolumes, ReportsExactlyTheEntriesAndNotesTheSleuthKitListingImplies) {
  const auto& [volume, index] = GetParam();
  const filter_case& c = cases()[index];
  static std::map<std::string, oracle> oracles;
  if (!oracles.count(volume)) oracles[volume] = load_oracle(volume);
  std::map<std::uint64_t, std::string> expected;
  for (const auto& [entry, record] : oracles[volume]) {
    if (const verdict v = c.expect(entry, record)) expected[entry] = *v;
  }
  if (volume == "basic") {
    EXPECT_FALSE(expected.empty()) << "a case that selects nothing proves little";
  }
  const reported got = run_filtered(volume, c.arguments);
  EXPECT_EQ(got.notes, expected);
  if (!c.times.set()) return;
  // The timeline leaves out the groups outside the window, so a record
  // wrongly let through with no time inside would not show there; the
  // one-line-per-path layout shows every accepted record.
  for (const auto& [entry, times] : got.times) {
    std::set<std::uint64_t> inside;
    for (const std::uint64_t t : oracles[volume][entry].times) {
      if (c.times.holds(t)) inside.insert(t);
    }
    EXPECT_EQ(times, inside) << "timeline of entry " << entry;
  }
  std::set<std::uint64_t> accepted, selected;
  const results_table per_path = run_table(volume, {"-csvperpath", "-csv_separator", "tab"}, c.arguments, "\t");
  for (std::size_t r = 0; r < per_path.rows.size(); ++r) accepted.insert(per_path.entry(r));
  for (const auto& [entry, notes] : expected) selected.insert(entry);
  EXPECT_EQ(accepted, selected);
}

INSTANTIATE_TEST_SUITE_P(FilterOracle, OnFixtureVolumes,
                         ::testing::Combine(::testing::Values("basic", "sector4k"),
                                            ::testing::Range<std::size_t>(0, cases().size())),
                         [](const auto& info) {
                           return std::get<0>(info.param) + "_" + cases()[std::get<1>(info.param)].label;
                         });

}  // namespace
