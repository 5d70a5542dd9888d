// brindle reading the fixture volumes straight from their images (bare
// volumes, a volume behind 1 MiB of zeros, MBR primary and logical
// partitions, GPT partitions) against The Sleuth Kit's listing of the same
// volumes (fls -r -p -m for names, entries and sizes, istat for sequence
// numbers and exact times), and against brindle's own reading of the
// extracted $MFT.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "tests/common/tsk_agreement.h"

using namespace testing_support;

namespace {

using volume_case = tsk_volume;
const auto& volumes = tsk_volumes;

class OnImages : public ::testing::TestWithParam<volume_case> {};

TEST_P(OnImages, ImageAgreesWithTheSleuthKit) {
  const volume_case& v = GetParam();
  const agreement_count count = expect_per_path_agrees_with_tsk(v.name, v.image_source());
  EXPECT_GE(count.names, 14u) << "the system files alone give more names";
  // Every name of these two volumes has an istat block.
  if (v.name == std::string("basic") || v.name == std::string("sector4k")) {
    EXPECT_EQ(count.with_istat, count.names);
  }
  expect_path_list_is_tsk_files(v.name, v.image_source());
}

// Entries whose istat block shows a non-resident $ATTRIBUTE_LIST.
std::set<std::string> non_resident_attribute_lists(const std::string& volume) {
  std::set<std::string> entries;
  std::string entry;
  for (const std::string& line : split_lines(read_file(source_fixture_path(volume + ".istat.txt")))) {
    if (line.rfind("=== istat ", 0) == 0) entry = line.substr(10, line.find(' ', 10) - 10);
    if (line.rfind("Type: $ATTRIBUTE_LIST", 0) == 0 && line.find("Non-Resident") != std::string::npos) {
      entries.insert(entry);
    }
  }
  return entries;
}

TEST_P(OnImages, ImageReportsTheRecordsOfTheExtractedMft) {
  // An extracted $MFT has no clusters behind it, so a non-resident
  // attribute list cannot be read and says so; the extension records it
  // names are still in the file, so nothing else may differ.
  const volume_case& v = GetParam();
  const std::string note = "attrib list non-resident [not avail for parsing w/o image]";
  std::vector<std::string> layout = {"-csv", "-base10", "-quiet"};
  std::vector<std::string> from_mft = v.mft_source(), from_image = v.image_source();
  from_mft.insert(from_mft.end(), layout.begin(), layout.end());
  from_image.insert(from_image.end(), layout.begin(), layout.end());
  const run_result mft = run_brindle(from_mft), image = run_brindle(from_image);
  ASSERT_EQ(mft.exit_status, 0) << mft.err;
  ASSERT_EQ(image.exit_status, 0) << image.err;
  std::vector<std::string> mft_rows = split_lines(results_body(mft.out));
  const std::vector<std::string> image_rows = split_lines(results_body(image.out));
  std::set<std::string> noted;
  for (std::string& row : mft_rows) {
    const auto at = row.find(note);
    if (at == std::string::npos) continue;
    noted.insert(row.substr(0, row.find(',')));
    std::size_t from = at, to = at + note.size();
    if (from >= 2 && row.compare(from - 2, 2, "; ") == 0) from -= 2;
    else if (row.compare(to, 2, "; ") == 0) to += 2;
    row.erase(from, to - from);
  }
  EXPECT_EQ(noted, non_resident_attribute_lists(v.name));
  EXPECT_EQ(image.out.find("not avail"), std::string::npos);
  ASSERT_GT(image_rows.size(), 30u);
  EXPECT_EQ(mft_rows, image_rows);
}

INSTANTIATE_TEST_SUITE_P(VolumeOracle, OnImages, ::testing::ValuesIn(volumes), tsk_volume_label);

// -------- path filters --------

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// What a path filter should select, in fls's terms: the entries listed
// directly in `directory` (or up to `depth` levels below it), or the entry
// named `file`, holding the named stream when one is given.
struct selection {
  std::string directory;  // "/a/b", as fls writes it
  unsigned depth = 1;
  std::string file = {};  // "/a/b/c.txt"
  std::string stream = {};
};

std::set<std::uint64_t> fls_selects(const std::string& volume, const std::vector<selection>& selections) {
  std::set<std::uint64_t> entries;
  for (const fls_line& line : read_fls(volume)) {
    if (line.kind == 'V' || line.path.rfind("/$OrphanFiles", 0) == 0) continue;
    const std::string parent = line.path.substr(0, line.path.rfind('/'));
    for (const selection& s : selections) {
      if (!s.file.empty()) {
        if (line.path == s.file && (s.stream.empty() || lower(line.stream) == lower(s.stream))) {
          entries.insert(line.entry);
        }
        continue;
      }
      if (parent != s.directory && parent.rfind(s.directory + "/", 0) != 0) continue;
      if (1 + std::count(parent.begin() + s.directory.size(), parent.end(), '/') <= s.depth) entries.insert(line.entry);
    }
  }
  return entries;
}

struct path_filter_case {
  const char* label;
  volume_case volume;
  std::vector<selection> expected;
  std::vector<std::vector<std::string>> spellings;  // filter arguments, each selecting `expected`
};

const std::vector<path_filter_case>& path_filter_cases() {
  static const std::vector<path_filter_case> table = {
      {"basic_dir", volumes[0], {{"/deleted"}, {"/links/b"}},
       {{"-filter_dir", "/deleted|/links/b"},
        {"-filter_dir", "\\DELETED | C:\\Links\\B\\"},
        {"-filter_dir", "c:/deleted", "-filter_dir_inode", "91"}}},
      {"basic_dir_levels", volumes[0], {{"/deep", 3}, {"/names", 1}},
       {{"-filter_dir", "\\deep*3|/names*"}, {"-filter_dir", "C:/Deep*3|NAMES"}}},
      {"basic_dir_recurse", volumes[0], {{"/deep", 99}, {"/ads", 99}},
       {{"-filter_dir_recurse", "/deep|/ads"}, {"-filter_dir", "\\DEEP?|c:\\ADS?"}}},
      // Names in the INDX blocks of a large directory.
      {"basic_bigdir", volumes[0], {{"", 1, "/bigdir/file_000.txt"}, {"", 1, "/bigdir/file_137.txt"}, {"", 1, "/bigdir/file_199.txt"}},
       {{"-filter_file", "/bigdir/FILE_000.TXT|\\BigDir\\file_137.txt|c:\\bigdir\\file_199.txt"}}},
      {"basic_file", volumes[0], {{"", 1, "/links/b/hardlink.txt"}, {"", 1, "/names/café.txt"}, {"", 1, "/.hidden"}},
       {{"-filter_file", "/links/b/hardlink.txt|/names/café.txt|/.hidden"},
        {"-filter_file", "C:\\LINKS\\b\\HardLink.TXT | \\NAMES\\CAFÉ.TXT|\\.HIDDEN|\\names\\nosuch.txt"}}},
      {"basic_file_stream", volumes[0], {{"", 1, "/ads/notes.txt", "summary"}, {"", 1, "/ads/download.exe", "Zone.Identifier"}},
       {{"-filter_file", "/ads/notes.txt:summary|/ads/download.exe:Zone.Identifier|/empty.txt:nosuch"},
        {"-filter_file", "C:\\ADS\\Notes.txt:SUMMARY|c:\\ads\\DOWNLOAD.EXE:zone.identifier"}}},
      {"sector4k_index", volumes[1], {{"/many"}, {"", 1, "/dir2/hardlink_b.txt"}},
       {{"-filter_dir", "/MANY", "-filter_file", "c:\\dir2\\hardlink_b.txt"}}},
      {"sector4k_files", volumes[1], {{"", 1, "/many/f_000.txt"}, {"", 1, "/many/f_075.txt"}, {"", 1, "/many/f_149.txt"}},
       {{"-filter_file", "/MANY/F_000.TXT|\\many\\f_075.txt|c:\\many\\F_149.txt"}}},
      {"offset", volumes[2], {{"/reports", 2}, {"", 1, "/readme.txt", "Zone.Identifier"}},
       {{"-filter_dir_recurse", "\\Reports", "-filter_file", "/README.txt:zone.identifier"}}},
      {"mbr_logical", volumes[4], {{"/logical", 99}}, {{"-filter_dir_recurse", "C:\\LOGICAL"}}},
      {"gpt_p2", volumes[6], {{"/two/mail"}, {"", 1, "/two/readme_two.md"}},
       {{"-filter_dir", "/two/MAIL", "-filter_file", "\\TWO\\readme_two.md"}}},
      // The index of /attrlist/links lies in nine scattered clusters, and
      // the 101 names of its one file mostly in extension records.
      {"fragmented_links", volumes[7], {{"/attrlist/links"}, {"", 1, "/scattered.bin"}},
       {{"-filter_dir", "\\attrlist\\links", "-filter_file", "/Scattered.bin"},
        {"-filter_file", "\\attrlist\\LINKS\\hard_link_number_100_of_the_same_file.txt|/scattered.bin"}}},
      {"carving", volumes[9], {{"/evidence", 2}}, {{"-filter_dir", "/Evidence*2"}}},
  };
  return table;
}

class PathFilters : public ::testing::TestWithParam<std::size_t> {};

TEST_P(PathFilters, SelectExactlyWhatFlsListsThere) {
  const path_filter_case& c = path_filter_cases()[GetParam()];
  const std::set<std::uint64_t> expected = fls_selects(c.volume.name, c.expected);
  ASSERT_FALSE(expected.empty());
  for (const auto& filter : c.spellings) {
    // From the image the paths are looked up in the directory indexes; from
    // the extracted $MFT they are compared with each record's own paths.
    for (std::vector<std::string> source : {c.volume.image_source(), c.volume.mft_source()}) {
      const std::string from = source[0];
      source.insert(source.end(), filter.begin(), filter.end());
      std::set<std::uint64_t> selected;
      for (const auto& [path, line] : run_per_path(source)) selected.insert(line.base_entry);
      EXPECT_EQ(selected, expected) << from << " " << ::testing::PrintToString(filter);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(VolumeOracle, PathFilters, ::testing::Range<std::size_t>(0, path_filter_cases().size()),
                         [](const auto& info) { return std::string(path_filter_cases()[info.param].label); });

}  // namespace
