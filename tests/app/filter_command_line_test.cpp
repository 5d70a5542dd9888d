// The selection options as a user types them: names in any letter case, the
// list, number, size and date forms of their values, and the messages of values
// that cannot be read. Entries and times are those of tests/fixtures/README.md.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/common/test_support.h"

namespace {

using testing_support::results_body;
using testing_support::run_result;
using arguments = std::vector<std::string>;
using entries = std::set<std::uint64_t>;

run_result run_on_fixture(const arguments& options, bool quiet = true) {
  arguments full{"-mftfile", testing_support::fixture_path("basic.mft")};
  if (quiet) full.push_back("-quiet");
  full.insert(full.end(), options.begin(), options.end());
  return testing_support::run_brindle(full);
}

std::string body(const arguments& options) { return results_body(run_on_fixture(options).out); }

// Entry numbers of the result lines (first field, hexadecimal).
entries entries_of(const run_result& run) {
  entries found;
  for (const auto& line : testing_support::split_lines(results_body(run.out))) {
    if (line.starts_with("0x")) found.insert(std::stoull(line.substr(0, line.find(' ')), nullptr, 16));
  }
  return found;
}

entries reported(const arguments& options) { return entries_of(run_on_fixture(options)); }

// The run went on without a word; its results are `expected_body` when given.
void expect_clean(const run_result& run, const std::string& label, const std::string* expected_body = nullptr) {
  EXPECT_EQ(run.exit_status, 0) << label;
  EXPECT_EQ(run.err, "") << label;
  if (expected_body) { EXPECT_EQ(results_body(run.out), *expected_body) << label; }
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

const char* const object_id = "33221100-5544-7766-8899-aabbccddeeff";  // bytes 00 11 .. ff of /object_id.txt

TEST(FilterCommandLine, EveryFilterOptionIsTakenInAnyLetterCase) {
  struct row { arguments option, context; };  // option name first; context given to both runs
  const arguments pattern{"-filter_pattern", "4c 4e 4b"};
  const row rows[] = {
      {{"-filter_ext", "gz"}, {}}, {{"-filter_name", "gone"}, {}}, {{"-filter_fullname", "noext"}, {}},
      {{"-filter_wildcard", "*.gz"}, {}}, {{"-filter_file", "\\names\\noext"}, {}}, {{"-filter_dir", "\\names"}, {}},
      {{"-filter_dir_recurse", "\\deep"}, {}}, {{"-filter_dir_inode", "74"}, {}}, {{"-filter_inode", "5"}, {}},
      {{"-filter_max_size", "16"}, {}}, {{"-filter_min_size", "100000"}, {}}, {{"-filter_min_ads_size", "11"}, {}},
      {{"-filter_start_time", "01/01/2100"}, {}}, {{"-filter_stop_time", "01/01/2000"}, {}},
      {{"-filter_deleted_files"}, {}}, {{"-filter_deleted_files_all"}, {}}, {{"-filter_unalloc_clusters"}, {}},
      {{"-filter_and_logic"}, {"-filter_ext", "txt", "-filter_sig", "lnk"}}, {{"-filter_sig", "lnk"}, {}},
      {{"-filter_pattern", "49 6e 74 78"}, {}}, {{"-scanstart", "5"}, pattern}, {{"-scansize", "6"}, pattern},
      {{"-find_objid", object_id}, {}},
  };
  for (const row& r : rows) {
    arguments lower = r.context;
    lower.insert(lower.end(), r.option.begin(), r.option.end());
    arguments capitals = lower;
    capitals[r.context.size()] = upper(r.option.front());
    const run_result run = run_on_fixture(lower);
    expect_clean(run, r.option.front());
    EXPECT_NE(results_body(run.out), body(r.context)) << r.option.front() << " changes nothing";
    EXPECT_EQ(body(capitals), results_body(run.out)) << r.option.front();
  }
  EXPECT_EQ(reported({"-find_objid", upper(object_id)}), entries{330});
  EXPECT_EQ(reported({"-find_objid", "{" + std::string(object_id) + "}"}), entries{330});
}

TEST(FilterCommandLine, ListsSplitAtOneSeparatorCharacter) {
  // archive.tar.gz; holes, mixed, sparse, all_hole and gone_big .bin.
  const entries both{86, 307, 313, 315, 316, 320};
  for (const char* list : {"gz|bin", "gz,bin", "gz;bin", " GZ | .bin ", "gz||bin|"}) {
    EXPECT_EQ(reported({"-filter_ext", list}), both) << list;
  }
  // '|' wins over ',' and ',' over ';': the others stay inside one extension.
  EXPECT_EQ(reported({"-filter_ext", "gz|bin,txt"}), entries{86});
  EXPECT_EQ(reported({"-filter_ext", "gz;bin,txt"}), reported({"-filter_ext", "txt"}));

  // Lists without an item are no filter at all.
  const std::string unfiltered = body({});
  const arguments empty_lists[] = {
      {"-filter_ext", ""},  {"-filter_ext", "|||"}, {"-filter_ext", ", ,"},   {"-filter_ext", ";"},
      {"-filter_ext", ". | ."}, {"-filter_name", ","}, {"-filter_inode", "|"}, {"-filter_dir_inode", ""},
      {"-filter_sig", ";;"}, {"-filter_dir", " , "},  {"-filter_file", ""},   {"-filter_fullname", "||"},
  };
  for (const auto& options : empty_lists) {
    expect_clean(run_on_fixture(options), options[0] + " '" + options[1] + "'", &unfiltered);
  }
}

TEST(FilterCommandLine, NumberAndSizeForms) {
  for (const char* ninety_two : {"92", "0x5c", "x5C", "0X5c", "o134", " 92 "}) {
    EXPECT_EQ(reported({"-filter_inode", ninety_two}), entries{92}) << ninety_two;
  }
  EXPECT_EQ(reported({"-filter_inode", "5|0x10|o21"}), (entries{5, 16, 17}));
  const entries names_folder = reported({"-filter_dir_inode", "74"});
  EXPECT_EQ(names_folder.size(), 13u);  // entries 75 to 87
  for (const char* folder : {"0x4a", "o112"}) EXPECT_EQ(reported({"-filter_dir_inode", folder}), names_folder);

  // /compressed/big.txt (311) holds exactly 100000 bytes.
  entries at_least = reported({"-filter_min_size", "100000"});
  EXPECT_EQ(reported({"-filter_min_size", "0x186a0"}), at_least);
  EXPECT_EQ(reported({"-filter_min_size", "X186A0"}), at_least);
  EXPECT_EQ(at_least.erase(311), 1u);
  EXPECT_EQ(reported({"-filter_min_size", "0x186A1"}), at_least);
  EXPECT_EQ(body({"-filter_max_size", std::string(28, '0') + "100"}), body({"-filter_max_size", "100"}));

  // "LNK" lies at bytes 4 to 6 of the resident data of /links/interix_symlink (93).
  const std::tuple<const char*, const char*, bool> windows[] = {
      {"-scanstart", "0x4", true}, {"-scanstart", "o5", false}, {"-scansize", "x7", true}, {"-scansize", "6", false}};
  for (const auto& [option, value, found] : windows) {
    EXPECT_EQ(reported({"-filter_pattern", "4c 4e 4b", option, value}).contains(93), found) << option << " " << value;
  }

  // Values at the edge of what can be read are taken without a word.
  const arguments edges[] = {{"-filter_inode", "0xffffffffffff"}, {"-filter_min_size", "0x" + std::string(16, 'f')},
                              {"-filter_min_ads_size", "18446744073709551615"}, {"-filter_sig", "MZ,Hive, PE"},
                              {"-mftstart", "0xffffffffffffffff"}};
  for (const auto& edge : edges) expect_clean(run_on_fixture(edge), edge[0] + " " + edge[1]);
}

TEST(FilterCommandLine, UnreadableValuesEndTheRunWithTheirMessage) {
  const std::string too_big = "18446744073709551616";
  const std::string sig = "Error: -filter_sig option specified invalid option, aborting\n";
  const std::string pattern = "Error: -filter_pattern option specified invalid argument, aborting\n";
  // Message kinds: 'e' entry numbers, 'n' a number, 's' a size, 'o' an object id; else `message`.
  struct row { std::string option, value; char kind; std::string message; };
  const row rows[] = {
      {"-filter_inode", "5|abc", 'e', "abc"}, {"-filter_inode", too_big, 'e', too_big},
      {"-filter_inode", "0x10000000000000000", 'e', "0x10000000000000000"},
      {"-filter_inode", "0x1000000000000", 'e', "0x1000000000000"}, {"-filter_inode", "-5", 'e', "-5"},
      {"-filter_dir_inode", "74, 0x", 'e', "0x"}, {"-mftstart", too_big, 'n', ""}, {"-find_mft", "o9", 'n', ""},
      {"-filter_max_size", "12 34", 's', ""}, {"-filter_max_size", "-1", 's', ""},
      {"-filter_min_size", "0x1" + std::string(16, '0'), 's', ""}, {"-filter_min_ads_size", too_big, 's', ""},
      {"-filter_max_size", std::string(31, '0') + "1", 's', ""},
      {"-filter_sig", "mz|bogus", 0, sig}, {"-FILTER_SIG", "hive,exe", 0, sig},
      {"-filter_pattern", "414", 0, pattern}, {"-Filter_Pattern", "41 zz", 0, pattern},
      {"-filter_pattern", ", ,", 0, pattern}, {"-find_objid", "not-a-guid", 'o', ""},
      {"-FIND_OBJID", "33221100-5544-7766-8899-aabbccddeef", 'o', ""},
  };
  for (const row& r : rows) {
    std::string message = r.message;
    if (r.kind == 'e') message = "error: " + r.option + " needs MFT entry numbers, not '" + r.message + "'\n";
    if (r.kind == 'n') message = "error: " + r.option + " needs a number, not '" + r.value + "'\n";
    if (r.kind == 's') message = "error: " + r.option + " needs a size in bytes, not '" + r.value + "'\n";
    if (r.kind == 'o') message = "prob parsing " + r.value + " as ObjID, aborting\n";
    const run_result run = run_on_fixture({r.option, r.value});
    EXPECT_EQ(run.exit_status, 255) << r.option << " " << r.value;
    EXPECT_EQ(run.err, message);
    EXPECT_EQ(results_body(run.out), "") << r.option << " " << r.value;
  }
}

TEST(FilterCommandLine, TimeWindowValues) {
  // /times/all_different.txt (332), created 2019-01-02 03:04:05.1234567, is
  // alone on that day; /odd_times/pre_1970.txt (335) was modified 1969-12-31
  // 23:59:59.9999999, after the last whole second of the day.
  const std::tuple<const char*, const char*, entries> windows[] = {
      {"01/02/2019", "01/02/2019", {332}}, {"01/02/2019", "01/02/2019 03:04:05", {}},
      {"01/02/2019", "01/02/2019 03:04:06", {332}}, {"01/02/2019 03:04:06", "01/02/2019", {}},
      {"12/31/1969", "12/31/1969", {}}, {"12/31/1969", "01/01/1970", {335}}};
  for (const auto& [start, stop, expected] : windows) {
    EXPECT_EQ(reported({"-filter_start_time", start, "-filter_stop_time", stop}), expected) << start << " - " << stop;
  }

  // An unreadable start is 0 and said so; an unreadable stop is no limit.
  const std::string unfiltered = body({});
  const std::string start_message = "Error: invalid filter start time, defaulting to 0\n";
  for (const char* bad : {"someday", "13/45/2020 25:61:61", ""}) {
    const run_result start = run_on_fixture({"-filter_start_time", bad});
    EXPECT_EQ(start.exit_status, 0) << bad;
    EXPECT_EQ(start.err + results_body(start.out), start_message + unfiltered) << bad;
    expect_clean(run_on_fixture({"-filter_stop_time", bad}), bad, &unfiltered);
  }
}

TEST(FilterCommandLine, ClusterScans) {
  const testing_support::scratch_folder scratch("filter-command-line");
  for (const char* scan : {"-filter_all_clusters", "-FILTER_DELETED_FILES_ALL", "-filter_unalloc_clusters"}) {
    const run_result split = run_on_fixture({"-cpu", "4", "-out", scratch.file("r.txt"), scan});
    EXPECT_EQ(split.exit_status, 255) << scan;
    EXPECT_EQ(split.err, "The -cpu option only supports MFT analysis\n") << scan;
  }
  const std::string finished = "finished scanning MFT records from $MFT... proceeding to unallocated clusters\n";
  for (const char* scan : {"-filter_all_clusters", "-Filter_All_Clusters", "-filter_deleted_files_all"}) {
    const run_result loud = run_on_fixture({scan}, false);
    EXPECT_EQ(loud.exit_status, 0) << scan;
    EXPECT_NE(loud.err.find(finished), std::string::npos) << scan;
    EXPECT_EQ(run_on_fixture({scan}).err, "") << scan;
  }
  EXPECT_EQ(run_on_fixture({}, false).err.find(finished), std::string::npos);
}

}  // namespace
