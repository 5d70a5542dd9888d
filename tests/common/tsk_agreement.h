// brindle's one-line-per-path listing and its path list checked against The
// Sleuth Kit's view of the same volume: fls -r -p -m for names, entries,
// sizes and whole-second times, istat (where the fixture has a block for
// the entry) for sequence numbers and the exact $STANDARD_INFORMATION times.
// The source arguments choose how brindle reaches the records: an extracted
// $MFT, or an image with or without an offset.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <set>

#include "tests/common/test_support.h"
#include "tests/common/tsk_listing.h"

namespace testing_support {

constexpr std::uint64_t unix_epoch_filetime = 116444736000000000ULL;

// TSK turns a FILETIME into Unix seconds with unsigned 64-bit arithmetic and
// then keeps 32 bits, so a time before 1970 comes out somewhere in
// 2032..2106 and FILETIME 0 (1601) as 2076-11-29 08:54:34.
inline std::uint32_t seconds_as_tsk_keeps(std::uint64_t filetime) {
  return static_cast<std::uint32_t>((filetime - unix_epoch_filetime) / 10000000ULL);
}

// What istat shows for one of our 100 ns texts.
inline std::string as_istat_prints(const std::string& ours) {
  if (ours.empty()) return "";
  const std::uint64_t filetime = filetime_of(ours);
  if (filetime == 0) return "unparsable " + ours;
  const auto shown_seconds = static_cast<std::time_t>(seconds_as_tsk_keeps(filetime));
  std::tm shown{};
  gmtime_r(&shown_seconds, &shown);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &shown);
  return text + ours.substr(19);
}

// FILETIMEs in the first days of 1601, which brindle does not print.
inline bool tsk_shows_early_1601(std::uint32_t seconds) {
  return seconds - seconds_as_tsk_keeps(0) < 10 * 86400u;
}

// The fixture volumes The Sleuth Kit listed, and how brindle reaches each.
struct tsk_volume {
  const char* name;  // stem of the TSK listings and of the extracted $MFT
  const char* image;
  const char* offset;  // -offset argument, empty for a volume at byte 0
  const char* label = nullptr;  // the test's name, where two images read as one volume
  std::vector<std::string> image_source() const {
    std::vector<std::string> source = {"-image", fixture_path(image)};
    if (*offset) source.insert(source.end(), {"-offset", offset});
    return source;
  }
  std::vector<std::string> mft_source() const { return {"-mftfile", fixture_path(std::string(name) + ".mft")}; }
};
inline void PrintTo(const tsk_volume& v, std::ostream* out) { *out << (v.label ? v.label : v.name); }

inline const tsk_volume tsk_volumes[] = {
    {"basic", "basic.img", ""},          {"sector4k", "sector4k.img", ""},
    {"offset", "offset.img", "0x100000"}, {"mbr-p1", "mbr.img", "0x100000"},
    {"mbr-p6", "mbr.img", "0x3100000"},  {"gpt-p1", "gpt.img", "0x100000"},
    {"gpt-p2", "gpt.img", "0x900000"},   {"fragmented", "fragmented.img", ""},
    {"streams", "streams.img", ""},      {"carving", "carving.img", ""},
    // Volumes made other ways: records over two MFT runs, clusters of
    // 128 KiB and 2 MiB, a stream and a Zone.Identifier in clusters, records
    // in the NTFS 3.0 layout, odd partition tables, 4096-byte sectors and
    // files owned by many users.
    {"straddle", "straddle.img", ""},    {"cluster128k", "cluster128k.img", ""},
    {"cluster2m", "cluster2m.img", ""},  {"adsplit", "adsplit.img", ""},
    {"oldheader", "oldheader.img", ""},  {"mbr-odd-p1", "mbr-odd.img", "0x100000"},
    {"mbr-odd-p3", "mbr-odd.img", "0xa00000"}, {"mbr-s4k-p1", "mbr-s4k.img", "0x100000"},
    {"4kn-mbr-p1", "4kn-mbr.img", "0x100000"}, {"4kn-gpt-p1", "4kn-gpt.img", "0x100000"},
    {"owners", "owners.img", ""},
    // mbr-p6 changed in VHD differencing disks: one child over the dynamic
    // VHD of mbr.img, a second over the first, naming it by a Windows path.
    {"vhd-diff-child1-p6", "vhd-diff-child1.vhd", "0x3100000"},
    {"vhd-diff-child2-p6", "vhd-diff-child2.vhd", "0x3100000"},
    // The same chain as VHDX: children holding single sectors in partially
    // present blocks.
    {"vhd-diff-child1-p6", "vhdx-diff-child1.vhdx", "0x3100000", "vhdx-diff-child1-p6"},
    {"vhd-diff-child2-p6", "vhdx-diff-child2.vhdx", "0x3100000", "vhdx-diff-child2-p6"},
    // Both chains kept in two folders, the base disk reached only through
    // the first child's relative locator.
    {"vhd-diff-child2-p6", "damaged/vhd-folders/Snapshots/vhd-diff-child2.vhd", "0x3100000", "vhd-folders-p6"},
    {"vhd-diff-child2-p6", "damaged/vhdx-folders/Snapshots/vhdx-diff-child2.vhdx", "0x3100000", "vhdx-folders-p6"},
};

inline std::string tsk_volume_label(const ::testing::TestParamInfo<tsk_volume>& info) {
  std::string label = info.param.label ? info.param.label : info.param.name;
  std::replace(label.begin(), label.end(), '-', '_');
  return label;
}

struct per_path_line {
  std::uint64_t entry = 0;
  std::uint64_t base_entry = 0;  // the record that owns the name
  std::uint16_t sequence = 0;
  std::uint64_t size = 0;
  std::string type;
  std::string si_times[4];  // modified, accessed, MFT modified, created
};

// -csvperpath with a TAB separator, decimal numbers and full 100 ns times,
// keyed by "[root]\path\name".
inline std::multimap<std::string, per_path_line> run_per_path(std::vector<std::string> source) {
  source.insert(source.end(), {"-csvperpath", "-csv_separator", "tab", "-base10", "-timeformat", "hh:mm:ss.xxxxxxx",
                               "-quiet"});
  const run_result run = run_brindle(source);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  std::multimap<std::string, per_path_line> lines;
  const results_table table = parse_results(results_body(run.out), "\t");
  EXPECT_FALSE(table.rows.empty());
  const std::size_t si_date = table.column("SI mdate"), type = table.column("type"), size = table.column("size");
  const std::size_t name = table.column("name"), path = table.column("path"), notes = table.column("sym link");
  for (const auto& fields : table.rows) {
    per_path_line line;
    line.entry = std::stoull(fields[0]);
    // A name held by an extension record is shown under that record's entry
    // with "refinode: [base]" naming the record it belongs to.
    line.base_entry = line.entry;
    if (const auto at = fields[notes].find("refinode: ["); at != std::string::npos) {
      line.base_entry = std::stoull(fields[notes].substr(at + 11));
    }
    line.sequence = static_cast<std::uint16_t>(std::stoul(fields[1]));
    line.type = fields[type];
    line.size = std::stoull(fields[size]);
    for (int t = 0; t < 4; ++t) {
      const std::string& date = fields[si_date + 2 * t];
      const std::string& time = fields[si_date + 2 * t + 1];
      line.si_times[t] = date.empty() ? "" : date + " " + time;
    }
    lines.emplace(fields[path] + fields[name], line);
  }
  return lines;
}

struct agreement_count {
  std::size_t names = 0;       // fls names compared
  std::size_t with_istat = 0;  // of those, also checked against an istat block
};

// Every name fls lists has a line with the same path, entry, deleted or
// directory type, $DATA size and $STANDARD_INFORMATION times.
inline agreement_count expect_per_path_agrees_with_tsk(const std::string& volume,
                                                       const std::vector<std::string>& source) {
  const auto istat = read_istat(volume);
  const auto ours = run_per_path(source);
  agreement_count count;
  for (const fls_line& line : read_fls(volume)) {
    if (line.file_name_times || !line.stream.empty() || line.kind == 'V') continue;
    // Names TSK could only place under its virtual orphan folder, and the
    // "." entry of the root, have no path of their own to compare.
    if (line.path.rfind("/$OrphanFiles", 0) == 0 || line.path.find("/.") + 2 == line.path.size()) continue;
    std::string key = "[root]" + line.path;
    std::replace(key.begin(), key.end(), '/', '\\');
    const auto [first, last] = ours.equal_range(key);
    const per_path_line* match = nullptr;
    for (auto it = first; it != last; ++it) {
      if (it->second.base_entry == line.entry) match = &it->second;
    }
    if (!match) {
      ADD_FAILURE() << volume << ": no line for entry " << line.entry << " " << key;
      continue;
    }
    EXPECT_EQ(match->type, line.deleted ? "del" : (line.kind == 'd' ? "dir" : "file")) << key;
    if (line.type == 128) {
      EXPECT_EQ(match->size, line.size) << key;
    }
    for (int t = 0; t < 4; ++t) {
      const auto seconds = static_cast<std::uint32_t>(line.seconds[t]);
      // Unix 0: a time within the first second of 1970, which brindle
      // leaves empty as well.
      if (seconds == 0) continue;
      if (match->si_times[t].empty()) {
        EXPECT_TRUE(tsk_shows_early_1601(seconds)) << key << " time " << t << ": fls shows " << seconds;
      } else {
        EXPECT_EQ(seconds_as_tsk_keeps(filetime_of(match->si_times[t])), seconds) << key << " time " << t;
      }
    }
    ++count.names;
    const auto block = istat.find(line.entry);
    if (block == istat.end()) continue;
    EXPECT_EQ(match->sequence, block->second.sequence) << key;
    for (int t = 0; t < 4; ++t) {
      const std::string& shown = block->second.si_times[t];
      if (shown.rfind("0000-00-00", 0) == 0 || match->si_times[t].empty()) continue;  // checked above
      EXPECT_EQ(as_istat_prints(match->si_times[t]), shown) << key << " time " << t;
    }
    ++count.with_istat;
  }
  return count;
}

// -filepath_only lists exactly the files fls finds, deleted ones included,
// each once, and with -filter_deleted_files only the deleted ones: the
// lines of NAME.fls-paths.txt, which marks deleted files with "D ".
inline void expect_path_list_is_tsk_files(const std::string& volume, std::vector<std::string> source) {
  std::string expected[2];
  for (const std::string& line : split_lines(read_file(source_fixture_path(volume + ".fls-paths.txt")))) {
    for (int deleted_only = 0; deleted_only < 2; ++deleted_only) {
      if (!deleted_only || line[0] == 'D') expected[deleted_only] += line.substr(2) + "\n";
    }
  }
  source.insert(source.end(), {"-filepath_only", "-quiet"});
  for (int deleted_only = 0; deleted_only < 2; ++deleted_only) {
    if (deleted_only) source.push_back("-filter_deleted_files");
    const run_result run = run_brindle(source);
    ASSERT_EQ(run.exit_status, 0) << run.err;
    std::vector<std::string> listed = split_lines(results_body(run.out));
    std::sort(listed.begin(), listed.end());
    std::string text;
    for (const std::string& line : listed) text += line + "\n";
    EXPECT_EQ(text, expected[deleted_only]) << volume << " deleted only " << deleted_only;
  }
}

}  // namespace testing_support
