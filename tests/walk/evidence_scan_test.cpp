// Change-journal and index-slack rows on the journal fixture: the journal
// records against the generator's list (whose version 2 part fsntfsinfo
// confirmed), the slack names against fls, and damaged journal bytes.
#include <gtest/gtest.h>

#include <set>

#include "ntfs/usn_record.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

const std::vector<std::string> csv_options = {"-csv", "-base10", "-timeformat", "hh:mm:ss.xxxxxxx", "-quiet"};

// CSV rows of one type ("usn" or "slack") as split fields.
std::vector<std::vector<std::string>> rows_of(std::vector<std::string> arguments, const std::string& type) {
  arguments.insert(arguments.end(), csv_options.begin(), csv_options.end());
  const run_result run = run_brindle(arguments);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  std::vector<std::vector<std::string>> rows;
  for (const auto& line : split_lines(results_body(run.out))) {
    auto fields = split_fields(line, ",");
    if (fields.size() > 13 && fields[4] == type) rows.push_back(std::move(fields));
  }
  return rows;
}

TEST(JournalRows, EqualTheRecordsWrittenOnTheVolumeAndFsntfsinfosReading) {
  const std::vector<std::string> expected = split_lines(read_file(source_fixture_path("journal.usn.txt")));
  const std::vector<std::string> oracle = split_lines(read_file(source_fixture_path("journal.fsntfsinfo.txt")));
  ASSERT_EQ(expected.size(), 16u);
  ASSERT_GT(oracle.size(), 10u);
  ASSERT_TRUE(std::equal(oracle.begin(), oracle.end(), expected.begin()));
  const std::vector<std::vector<std::string>> sources = {
      {"-image", fixture_path("journal.img"), "-usnjrnl"},
      {"-mftfile", fixture_path("journal.mft"), "-usnfile", fixture_path("journal.usnjrnl")},
  };
  for (const auto& source : sources) {
    std::vector<std::string> got;
    for (const auto& f : rows_of(source, "usn")) {
      const std::string when = f[7].empty() ? "" : f[7] + " " + f[8];
      const std::string usn = f[10].substr(5, f[10].size() - 6);  // "usn [N]"
      got.push_back(usn + "|" + when + "|" + f[9] + "|" + f[0] + "-" + f[1] + "|" + f[2] + "-" + f[3] + "|" + f[11]);
      // note.txt's folder was deleted and its entry reused by the journal file.
      const bool reused = f[11] == "note.txt";
      EXPECT_EQ(f[13].find(reused ? "path_source: [parent_reused]" : "path_source: [usn]") != std::string::npos, true)
          << f[13];
      if (f[2] == "64") {
        EXPECT_EQ(f[12], "[root]\\docs\\");
      }
    }
    EXPECT_EQ(got, expected) << source[2];
  }
  // The deleted note.txt's own record names the same reused parent.
  const run_result note =
      run_brindle({"-image", fixture_path("journal.img"), "-jsonl", "-quiet", "-filter_fullname", "note.txt"});
  const std::string reused = R"("name":"note.txt","path":"[root]\\<path corrupted>\\","path_source":"parent_reused")";
  EXPECT_NE(note.out.find(reused), std::string::npos) << note.out;
}

TEST(JournalRows, FollowTheLayoutsHeaderEvenWhenNoRecordPasses) {
  // -base10 leaves the default layout, the padded timeline text.
  for (const char* layout : {"-csv", "-csvl2t", "-bodyfile", "-base10"}) {
    std::vector<std::string> arguments = {"-image", fixture_path("journal.img"), layout, "-usnjrnl", "-quiet"};
    const std::vector<std::string> with_records = split_lines(results_body(run_brindle(arguments).out));
    arguments.insert(arguments.end(), {"-mftstart", "100000"});  // past the last entry
    const std::vector<std::string> journal_only = split_lines(results_body(run_brindle(arguments).out));
    ASSERT_GE(journal_only.size(), 16u) << layout;
    ASSERT_FALSE(with_records.empty()) << layout;
    EXPECT_EQ(journal_only.front(), with_records.front()) << layout;
    EXPECT_NE(journal_only[1].find("docs"), std::string::npos) << layout << ": " << journal_only[1];
  }
}

TEST(SlackRows, AreDeletedNamesFlsListsInTheSameFolder) {
  // fls -r -p: "-/r * 85-128-2:<TAB>many/entry_015_with_a_longer_name.txt"
  std::map<std::string, std::string> deleted;
  for (const auto& line : split_lines(read_file(source_fixture_path("journal.fls.txt")))) {
    const auto tab = line.find('\t');
    if (line.find(" * ") == std::string::npos || tab == std::string::npos) continue;
    const std::string address = line.substr(6, line.find('-', 6) - 6);
    deleted[line.substr(tab + 1)] = address;
  }
  const std::vector<std::vector<std::string>> sources = {
      {"-image", fixture_path("journal.img"), "-indx_slack"},
      {"-mftfile", fixture_path("journal.mft"), "-indxfile", fixture_path("journal.many-indx")},
  };
  for (const auto& source : sources) {
    std::size_t in_many = 0;
    for (const auto& f : rows_of(source, "slack")) {
      if (f[12] != "[root]\\many\\") continue;
      ++in_many;
      const auto found = deleted.find("many/" + f[11]);
      ASSERT_NE(found, deleted.end()) << f[11] << " is not a deleted name of /many";
      if (f[0] != "0") {
        EXPECT_EQ(found->second, f[0]) << f[11];
      }
    }
    // 40 files were deleted; the first few were moved over by later entries.
    EXPECT_GE(in_many, 30u) << source[2];
  }
}

TEST(JournalBytes, DamagedOrCutStreamsGiveTheRecordsBeforeTheDamage) {
  const std::vector<std::uint8_t> journal = read_bytes(fixture_path("journal.usnjrnl"));
  ASSERT_EQ(journal.size(), 1050024u);
  const std::size_t first = 1 << 20;  // the hole in front of the first record
  std::vector<std::uint8_t> garbage(70000);
  std::uint32_t seed = 12345;
  for (auto& b : garbage) b = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 24);
  std::vector<std::uint8_t> huge_lengths(4096, 0xFF);
  struct scan_case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::size_t piece;  // bytes handed over per call
    std::size_t records;
  };
  const scan_case cases[] = {
      {"whole", journal, journal.size(), 16},
      {"4 KiB pieces", journal, 4096, 16},
      {"100-byte pieces", journal, 100, 16},
      {"cut in the 4th record", {journal.begin(), journal.begin() + first + 232 + 20}, 4096, 3},
      {"cut after 2 bytes of a length", {journal.begin(), journal.begin() + first + 2}, 4096, 0},
      {"pseudo-random bytes", garbage, 4096, 0},
      {"all ones", huge_lengths, 4096, 0},
  };
  for (const scan_case& c : cases) {
    ntfs::usn_record record;
    std::size_t records = 0;
    std::size_t damage = 0;
    std::vector<std::uint8_t> buffer;
    std::uint64_t offset = 0;
    for (std::size_t at = 0; at < c.bytes.size(); at += c.piece) {
      const std::size_t end = std::min(c.bytes.size(), at + c.piece);
      buffer.insert(buffer.end(), c.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                    c.bytes.begin() + static_cast<std::ptrdiff_t>(end));
      const std::size_t used = ntfs::scan_usn_records(
          buffer, offset, end == c.bytes.size(), record,
          [&](const ntfs::usn_record&) { ++records; },
          [&](std::uint64_t) { ++damage; });
      buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(used));
      offset += used;
    }
    EXPECT_EQ(records, c.records) << c.what;
    if (c.records == 16) {
      EXPECT_EQ(damage, 1u) << c.what;  // the 24 bytes before the last record
    }
  }
  // The program itself on a cut file.
  scratch_folder folder("journal_bytes");
  write_bytes(folder.file("cut"), {journal.begin(), journal.begin() + first + 1000});
  const run_result run =
      run_brindle({"-mftfile", fixture_path("journal.mft"), "-usnfile", folder.file("cut"), "-quiet"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
}

}  // namespace
