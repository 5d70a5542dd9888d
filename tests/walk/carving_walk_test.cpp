// The free-cluster scan (-filter_unalloc_clusters and the two scans that end
// with it) on the carving volume. While that volume was being built, the raw
// bytes of MFT records 64-95 were written into a file that was later deleted,
// so its clusters are free but still hold 32 file records;
// carving.carved.txt lists "entry|byte offset" for each copy as it was found
// in the image at build time. The records were not touched after the copy,
// so each carved copy must read like the live record that The Sleuth Kit
// lists for the same entry (carving.fls.txt, carving.istat.txt).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "tests/common/test_support.h"
#include "tests/common/tsk_listing.h"

using namespace testing_support;

namespace {

constexpr std::uint64_t no_entry = ~0ULL;  // no such stream item

enum class layout { csv, timeline };

const char* separator_of(layout kind) { return kind == layout::csv ? "," : " | "; }

// Runs brindle quietly and returns what it wrote below the run header.
std::string results_of(std::vector<std::string> arguments, layout kind = layout::csv) {
  if (kind == layout::csv) arguments.push_back("-csv");
  arguments.push_back("-quiet");
  const run_result run = run_brindle(arguments);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  return results_body(run.out);
}

results_table scan(std::vector<std::string> arguments, layout kind = layout::csv) {
  return parse_results(results_of(std::move(arguments), kind), separator_of(kind));
}

std::vector<std::string> carving_image() { return {"-image", fixture_path("carving.img")}; }

std::vector<std::string> with(std::vector<std::string> arguments, std::initializer_list<std::string> more) {
  arguments.insert(arguments.end(), more);
  return arguments;
}

// entry -> byte offset of its copy in the image, as recorded at build time.
std::map<std::uint64_t, std::uint64_t> carved_copies() {
  std::map<std::uint64_t, std::uint64_t> copies;
  for (const std::string& line : split_lines(read_file(source_fixture_path("carving.carved.txt")))) {
    const std::vector<std::string> fields = split_fields(line, "|");
    if (fields.size() == 2) copies[std::stoull(fields[0])] = std::stoull(fields[1]);
  }
  return copies;
}

// entry -> the byte offsets that "filerecord: 0x..." names on its lines.
std::map<std::uint64_t, std::set<std::uint64_t>> record_offsets(const results_table& t) {
  std::map<std::uint64_t, std::set<std::uint64_t>> offsets;
  for (std::size_t r = 0; r < t.rows.size(); ++r) {
    const std::string other = t.value(r, "other info");
    const auto at = other.find("filerecord: 0x");
    if (at == std::string::npos) {
      ADD_FAILURE() << "no record offset on a line of entry " << t.entry(r);
      continue;
    }
    offsets[t.entry(r)].insert(std::stoull(other.substr(at + 12), nullptr, 16));
  }
  return offsets;
}

// "[root]\dir\name" for every name fls gives the entry (main stream lines).
std::map<std::uint64_t, std::set<std::string>> fls_names(const std::string& volume) {
  std::map<std::uint64_t, std::set<std::string>> names;
  for (const fls_line& line : read_fls(volume)) {
    if (line.file_name_times || !line.stream.empty() || line.kind == 'V') continue;
    std::string path = "[root]" + line.path;
    std::replace(path.begin(), path.end(), '/', '\\');
    names[line.entry].insert(path);
  }
  return names;
}

std::set<std::uint64_t> fls_entries(const std::string& volume, bool deleted_only) {
  std::set<std::uint64_t> entries;
  for (const fls_line& line : read_fls(volume)) {
    if (line.kind == 'V' || (deleted_only && !line.deleted)) continue;
    entries.insert(line.entry);
  }
  return entries;
}

// The size that the stream text gives for the stream whose item starts with
// "[" + label; no_entry when there is no such item.
std::uint64_t listed_stream_size(const std::string& text, const std::string& label) {
  const auto item = text.find("[" + label + " : ");
  if (item == std::string::npos) return no_entry;
  const auto size = text.find("sz: 0x", item);
  if (size == std::string::npos || size > text.find(']', item)) return no_entry;
  return std::stoull(text.substr(size + 6), nullptr, 16);
}

// The image rows without the header, from a second results body, so that the
// body of a two-scan run can be compared with the two single scans.
std::string without_header(const std::string& body) {
  const auto end = body.find('\n');
  return end == std::string::npos ? std::string() : body.substr(end + 1);
}

TEST(CarvingWalk, FindsExactlyTheCopiedRecordsAndReadsThemLikeTheirLiveEntries) {
  const auto copies = carved_copies();
  ASSERT_EQ(copies.size(), 32u);
  const results_table carved = scan(with(carving_image(), {"-filter_unalloc_clusters", "-filerecord_offset", "-timeformat",
                                                   "hh:mm:ss.xxxxxxx"}));
  ASSERT_FALSE(carved.rows.empty());

  // Each copy once, at its own slot; nothing else in the free clusters (the
  // seven INDX blocks of the deleted folder among them) is taken for a record.
  std::map<std::uint64_t, std::uint64_t> found;
  for (const auto& [entry, offsets] : record_offsets(carved)) {
    EXPECT_EQ(offsets.size(), 1u) << "entry " << entry;
    found[entry] = *offsets.begin();
  }
  EXPECT_EQ(found, copies);
  // The lines of one record are written together.
  for (std::size_t r = 1; r < carved.rows.size(); ++r) EXPECT_LE(carved.entry(r - 1), carved.entry(r));

  const auto istat = read_istat("carving");
  const auto names = fls_names("carving");
  for (const auto& [entry, offset] : copies) {
    SCOPED_TRACE("entry " + std::to_string(entry));
    const auto block = istat.find(entry);
    ASSERT_NE(block, istat.end());
    std::set<std::string> paths, times, expected_times;
    for (std::size_t r = 0; r < carved.rows.size(); ++r) {
      if (carved.entry(r) != entry) continue;
      paths.insert(carved.value(r, "path") + carved.value(r, "name"));
      times.insert(carved.value(r, "date") + " " + carved.value(r, "time-utc"));
      EXPECT_EQ(std::stoul(carved.value(r, "mft seqnum"), nullptr, 16), block->second.sequence);
      const std::string streams = carved.value(r, "various data types");
      std::size_t listed = 0;
      for (const auto& [name, size] : block->second.data_sizes) {
        EXPECT_EQ(listed_stream_size(streams, name.empty() ? "unnamed data" : name), size) << streams;
        ++listed;
      }
      EXPECT_EQ(static_cast<std::size_t>(std::count(streams.begin(), streams.end(), '[')), listed) << streams;
    }
    EXPECT_EQ(paths, names.at(entry));
    // One timeline line per distinct time: $STANDARD_INFORMATION and
    // $FILE_NAME, with istat's 100 ns digits.
    for (const std::string& time : block->second.si_times) expected_times.insert(time);
    for (const istat_name& name : block->second.file_names) {
      for (const std::string& time : name.times) expected_times.insert(time);
    }
    expected_times.erase("");
    EXPECT_EQ(times, expected_times);
  }
}

TEST(CarvingWalk, CarvedLinesEqualTheMftLinesOfTheSameRecordsApartFromTheirType) {
  // Records 64-95 straight from the MFT, then their copies from free space,
  // in the CSV and in the padded default layout: the same lines, only the
  // type column says where each came from.
  for (const layout kind : {layout::csv, layout::timeline}) {
    SCOPED_TRACE(kind == layout::csv ? "-csv" : "default layout");
    const std::string from_mft = results_of(with(carving_image(), {"-mftstart", "64", "-mftrange", "32"}), kind);
    const std::string carved = results_of(with(carving_image(), {"-filter_unalloc_clusters"}), kind);
    const results_table mft_rows = parse_results(from_mft, separator_of(kind));
    const results_table carved_rows = parse_results(carved, separator_of(kind));
    EXPECT_EQ(carved_rows.header, mft_rows.header);
    EXPECT_EQ(split_lines(carved).front(), split_lines(from_mft).front());
    ASSERT_EQ(carved_rows.rows.size(), mft_rows.rows.size());
    EXPECT_GE(carved_rows.rows.size(), 32u);
    const std::size_t type = mft_rows.column("type");
    for (std::size_t r = 0; r < mft_rows.rows.size(); ++r) {
      std::vector<std::string> expected = mft_rows.rows[r];
      EXPECT_TRUE(expected[type] == "file" || expected[type] == "dir") << expected[type];
      expected[type] = "unalloc";
      EXPECT_EQ(carved_rows.rows[r], expected);
    }
  }
}

// The two scans in one run: one header, then the MFT walk (every record, or
// the deleted ones only), then every carved record. From the MFT with
// -filter_deleted_files_all only what fls marks deleted: /doomed and its 120
// files, /carrier.bin, and the unused reserved records 16-23 that TSK shows
// as orphans. The carved copies are of records in use, and are reported all
// the same: the deleted-only rule ends with the MFT scan.
TEST(CarvingWalk, BothScansReportTheMftRecordsAndThenTheCarvedOnes) {
  std::set<std::uint64_t> copies;
  for (const auto& [entry, offset] : carved_copies()) copies.insert(entry);
  for (const auto& [both_option, mft_option, deleted_only] :
       {std::tuple{"-filter_all_clusters", "", false}, std::tuple{"-filter_deleted_files_all", "-filter_deleted_files", true}}) {
    for (const layout kind : {layout::csv, layout::timeline}) {
      SCOPED_TRACE(std::string(both_option) + (kind == layout::csv ? " -csv" : " default layout"));
      std::vector<std::string> mft_arguments = carving_image();
      if (*mft_option) mft_arguments.push_back(mft_option);
      const std::string mft = results_of(mft_arguments, kind);
      const std::string carved = results_of(with(carving_image(), {"-filter_unalloc_clusters"}), kind);
      const std::string both = results_of(with(carving_image(), {both_option}), kind);
      EXPECT_EQ(both, mft + without_header(carved));

      const results_table rows = parse_results(both, separator_of(kind));
      std::set<std::uint64_t> from_mft, from_free_space;
      for (std::size_t r = 0; r < rows.rows.size(); ++r) {
        const std::string type = rows.value(r, "type");
        (type == "unalloc" ? from_free_space : from_mft).insert(rows.entry(r));
        if (deleted_only && type != "unalloc") {
          EXPECT_EQ(type, "del");
        }
      }
      // Every entry fls lists comes from the MFT; with the deleted-only rule
      // nothing else does.
      const std::set<std::uint64_t> listed = fls_entries("carving", deleted_only);
      EXPECT_TRUE(std::includes(from_mft.begin(), from_mft.end(), listed.begin(), listed.end()));
      if (deleted_only) {
        EXPECT_EQ(from_mft, listed);
      }
      EXPECT_EQ(from_free_space, copies);
    }
  }
}

// Copies of carving.img with carved slots changed (BAAD and INDX
// signatures, the oldest record layout, a record copied into further free
// slots), the volume at an offset and inside a partition, are golden runs
// (carving_edits) over images made by make-damaged.sh.

// Volumes whose free clusters hold no records, and an extracted $MFT, which
// has no clusters to scan, are kept as golden runs (carving_nothing_to_carve).

}  // namespace
