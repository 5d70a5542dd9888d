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
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"
#include "tests/common/tsk_listing.h"

using namespace testing_support;

namespace {

constexpr std::uint64_t no_entry = ~0ULL;  // a carved record without a record-number field

std::string hex_text(std::uint64_t value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
  return text;
}

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

std::set<std::uint64_t> entries_of(const results_table& t) {
  std::set<std::uint64_t> entries;
  for (std::size_t r = 0; r < t.rows.size(); ++r) entries.insert(t.entry(r));
  return entries;
}

std::set<std::string> types_of(const results_table& t) {
  std::set<std::string> types;
  for (std::size_t r = 0; r < t.rows.size(); ++r) types.insert(t.value(r, "type"));
  return types;
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
  EXPECT_EQ(types_of(carved), std::set<std::string>{"unalloc"});

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
    EXPECT_EQ(entries_of(carved_rows).size(), 32u);
    if (kind == layout::timeline) {
      // The type column is seven wide, exactly the width of "unalloc".
      for (const std::string& line : split_lines(without_header(carved))) {
        EXPECT_EQ(split_fields(line, " | ").at(type), "unalloc") << line;
      }
    }
  }
}

TEST(CarvingWalk, AllClustersReportsTheMftRecordsAndThenTheCarvedOnes) {
  for (const layout kind : {layout::csv, layout::timeline}) {
    SCOPED_TRACE(kind == layout::csv ? "-csv" : "default layout");
    const std::string mft = results_of(carving_image(), kind);
    const std::string carved = results_of(with(carving_image(), {"-filter_unalloc_clusters"}), kind);
    const std::string both = results_of(with(carving_image(), {"-filter_all_clusters"}), kind);
    // One header for the run, then the whole MFT walk, then the carved
    // records.
    EXPECT_EQ(both, mft + without_header(carved));

    const results_table rows = parse_results(both, separator_of(kind));
    std::set<std::uint64_t> from_mft, from_free_space;
    for (std::size_t r = 0; r < rows.rows.size(); ++r) {
      (rows.value(r, "type") == "unalloc" ? from_free_space : from_mft).insert(rows.entry(r));
    }
    // Every entry The Sleuth Kit lists (deleted ones too) comes from the MFT.
    const std::set<std::uint64_t> listed = fls_entries("carving", false);
    EXPECT_TRUE(std::includes(from_mft.begin(), from_mft.end(), listed.begin(), listed.end()));
    std::set<std::uint64_t> copies;
    for (const auto& [entry, offset] : carved_copies()) copies.insert(entry);
    EXPECT_EQ(from_free_space, copies);
  }

  // Between the two scans the examiner is told that the second one starts;
  // -quiet silences it, and a lone free-cluster scan has no such step.
  const std::string message = "finished scanning MFT records from $MFT... proceeding to unallocated clusters\n";
  const run_result loud = run_brindle(with(carving_image(), {"-filter_all_clusters", "-csv"}));
  EXPECT_EQ(loud.exit_status, 0);
  const auto at = loud.err.find(message);
  EXPECT_NE(at, std::string::npos) << loud.err;
  EXPECT_EQ(loud.err.find(message, at + 1), std::string::npos);
  const run_result alone = run_brindle(with(carving_image(), {"-filter_unalloc_clusters", "-csv"}));
  EXPECT_EQ(alone.exit_status, 0);
  EXPECT_EQ(alone.err.find("finished scanning"), std::string::npos);
  EXPECT_EQ(without_header(results_body(loud.out)),
            without_header(results_of(with(carving_image(), {"-filter_all_clusters"}))));
}

TEST(CarvingWalk, DeletedFilesAllReportsTheDeletedMftRecordsThenEveryCarvedOne) {
  for (const layout kind : {layout::csv, layout::timeline}) {
    SCOPED_TRACE(kind == layout::csv ? "-csv" : "default layout");
    const std::string deleted = results_of(with(carving_image(), {"-filter_deleted_files"}), kind);
    const std::string carved = results_of(with(carving_image(), {"-filter_unalloc_clusters"}), kind);
    const std::string both = results_of(with(carving_image(), {"-filter_deleted_files_all"}), kind);
    EXPECT_EQ(both, deleted + without_header(carved));

    const results_table rows = parse_results(both, separator_of(kind));
    std::set<std::uint64_t> from_mft, from_free_space;
    for (std::size_t r = 0; r < rows.rows.size(); ++r) {
      const std::string type = rows.value(r, "type");
      if (type == "unalloc") {
        from_free_space.insert(rows.entry(r));
      } else {
        EXPECT_EQ(type, "del");
        from_mft.insert(rows.entry(r));
      }
    }
    // From the MFT only what fls marks deleted: /doomed and its 120 files,
    // /carrier.bin, and the unused reserved records 16-23 that TSK shows as
    // orphans. The carved copies are of records in use, and are reported
    // all the same: the deleted-only rule ends with the MFT scan.
    EXPECT_EQ(from_mft, fls_entries("carving", true));
    EXPECT_EQ(from_mft.size(), 130u);
    EXPECT_EQ(from_free_space.size(), 32u);
    EXPECT_EQ(*from_free_space.begin(), 64u);
  }
}

// A copy of carving.img with a few of the carved slots changed.
class CarvingWalkEdited : public ::testing::Test {
 protected:
  void SetUp() override {
    m_image = read_bytes(fixture_path("carving.img"));
    ASSERT_EQ(m_image.size(), 16u << 20);
    m_copies = carved_copies();
    ASSERT_EQ(m_copies.size(), 32u);
  }

  std::span<std::uint8_t> slot(std::uint64_t offset) { return std::span<std::uint8_t>(m_image).subspan(offset, 1024); }
  std::span<std::uint8_t> copy_of(std::uint64_t entry) { return slot(m_copies.at(entry)); }

  // The layout of the oldest NTFS records: the update sequence array at 42,
  // where later records keep their own entry number (bytes 44-47).
  static void move_update_sequence_to_42(std::span<std::uint8_t> record) {
    const std::size_t count = peek(record, 6, 2);
    std::copy_n(record.begin() + 48, 2 * count, record.begin() + 42);
    poke(record, 4, 42, 2);
  }

  results_table scan_edited(std::vector<std::string> more = {}) {
    const std::string path = m_folder.file("edited.img");
    write_bytes(path, m_image);
    std::vector<std::string> arguments = {"-image", path, "-filter_unalloc_clusters", "-filerecord_offset"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return scan(arguments);
  }

  scratch_folder m_folder{"carving-walk"};
  std::vector<std::uint8_t> m_image;
  std::map<std::uint64_t, std::uint64_t> m_copies;
};

TEST_F(CarvingWalkEdited, TheSlotSignatureDecidesWhatIsAnalysed) {
  // "BAAD" (a record that failed its multi-sector check) is still analysed;
  // "INDX" is an index block, never a file record.
  std::copy_n("BAAD", 4, copy_of(65).begin());
  std::copy_n("INDX", 4, copy_of(68).begin());
  // A BAAD record with the old header has no entry number to show.
  std::copy_n("BAAD", 4, copy_of(66).begin());
  move_update_sequence_to_42(copy_of(66));
  // A FILE record with the array at 42 is in the NTFS 3.0 layout: read,
  // and without an entry number either.
  move_update_sequence_to_42(copy_of(67));

  const results_table rows = scan_edited();
  std::map<std::uint64_t, std::set<std::uint64_t>> expected;
  for (const auto& [entry, offset] : m_copies) {
    if (entry == 68) continue;
    expected[entry == 66 || entry == 67 ? no_entry : entry].insert(offset);
  }
  EXPECT_EQ(record_offsets(rows), expected);
  EXPECT_EQ(types_of(rows), std::set<std::string>{"unalloc"});
  for (std::size_t r = 0; r < rows.rows.size(); ++r) {
    if (rows.entry(r) == no_entry) {
      EXPECT_EQ(rows.value(r, "mft entry"), "0xffffffffffffffff");
      EXPECT_TRUE(rows.value(r, "name") == "report_02.doc" || rows.value(r, "name") == "photo_03.jpg");
    }
    if (rows.entry(r) == 65) {
      EXPECT_EQ(rows.value(r, "name"), "memo_01.txt");
    }
  }
}

TEST_F(CarvingWalkEdited, EveryWholeRecordSlotOfEveryFreeClusterIsRead) {
  // The copy of record 95, placed where the bitmap says the clusters are
  // free: at the start of one cluster, in the last slot of the volume's last
  // cluster, and half way into a slot, where no record can start.
  std::vector<std::uint8_t> record(copy_of(95).begin(), copy_of(95).end());
  // Clusters 2585-4094 are free (4095 lies past the volume's end, the
  // bitmap marks it in use); the scan reads free space in pieces of 1024
  // clusters, so 3609 starts the second piece.
  const std::uint64_t cluster = 4096;
  const std::vector<std::uint64_t> placed = {3609 * cluster, 4094 * cluster + 3072};
  const std::uint64_t misplaced = 3000 * cluster + 512;
  for (const std::uint64_t offset : {placed[0], placed[1], misplaced}) {
    const auto target = slot(offset);
    ASSERT_TRUE(std::all_of(target.begin(), target.end(), [](std::uint8_t b) { return b == 0; })) << offset;
    std::copy(record.begin(), record.end(), target.begin());
  }

  const auto offsets = record_offsets(scan_edited());
  std::map<std::uint64_t, std::set<std::uint64_t>> expected;
  for (const auto& [entry, offset] : m_copies) expected[entry].insert(offset);
  expected[95].insert(placed.begin(), placed.end());
  EXPECT_EQ(offsets, expected);
}

// The same volume one mebibyte into a file, and as the third primary
// partition of a copy of the mbr disk (behind its NTFS, FAT32 and extended
// partitions): the scan must read the bitmap and the clusters of that volume
// and report the slots' offsets in the whole image.
TEST(CarvingWalk, VolumeAtAnOffsetOrInsideAPartition) {
  scratch_folder folder("carving-walk-offset");
  const std::vector<std::uint8_t> volume = read_bytes(fixture_path("carving.img"));
  ASSERT_EQ(volume.size(), 16u << 20);

  std::vector<std::uint8_t> shifted(1u << 20, 0);
  shifted.insert(shifted.end(), volume.begin(), volume.end());
  const std::string shifted_path = folder.file("shifted.img");
  write_bytes(shifted_path, shifted);
  shifted.clear();

  std::vector<std::uint8_t> disk = read_bytes(fixture_path("mbr.img"));
  ASSERT_EQ(disk.size() % 512, 0u);
  const std::uint64_t partition_start = disk.size();  // 0x3900000
  // Entry 3 holds the extended partition, and an extended partition ends
  // the primary entries: move it to entry 4 and put the new volume at 3.
  std::span<std::uint8_t> entries(disk.data() + 446, 64);
  std::copy_n(entries.begin() + 32, 16, entries.begin() + 48);
  const std::uint8_t entry[16] = {0, 0xfe, 0xff, 0xff, 0x07, 0xfe, 0xff, 0xff};
  std::copy_n(entry, 16, entries.begin() + 32);
  poke(entries, 32 + 8, partition_start / 512, 4);
  poke(entries, 32 + 12, volume.size() / 512, 4);
  disk.insert(disk.end(), volume.begin(), volume.end());
  const std::string disk_path = folder.file("mbr-with-carving.img");
  write_bytes(disk_path, disk);
  disk.clear();

  const results_table bare = scan(with(carving_image(), {"-filter_unalloc_clusters", "-filerecord_offset"}));
  const std::size_t other = bare.column("other info");
  struct placement {
    std::vector<std::string> source;
    std::uint64_t start;
  };
  for (const placement& p : {placement{{"-image", shifted_path, "-offset", "0x100000"}, 0x100000},
                             placement{{"-image", disk_path, "-offset", "0x" + hex_text(partition_start, 1)},
                                       partition_start}}) {
    SCOPED_TRACE(p.source[1]);
    const results_table rows = scan(with(p.source, {"-filter_unalloc_clusters", "-filerecord_offset"}));
    ASSERT_EQ(rows.rows.size(), bare.rows.size());
    std::map<std::uint64_t, std::set<std::uint64_t>> expected;
    for (const auto& [entry, offset] : carved_copies()) expected[entry].insert(p.start + offset);
    EXPECT_EQ(record_offsets(rows), expected);
    // Everything else on the lines is what the bare volume gives.
    for (std::size_t r = 0; r < rows.rows.size(); ++r) {
      std::vector<std::string> line = rows.rows[r], bare_line = bare.rows[r];
      line[other].clear();
      bare_line[other].clear();
      EXPECT_EQ(line, bare_line);
    }
  }
  // The partition is found without -offset only when it is the disk's only
  // NTFS volume, which it is not; the other two volumes hold no copies.
  for (const char* offset : {"0x100000", "0x3100000"}) {
    EXPECT_EQ(results_of({"-image", disk_path, "-offset", offset, "-filter_unalloc_clusters"}), "") << offset;
  }
}

// Volumes whose free clusters hold no records, and an extracted $MFT, which
// has no clusters to scan, are kept as golden runs (carving_nothing_to_carve).

}  // namespace
