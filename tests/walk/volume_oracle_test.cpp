// brindle reading the fixture volumes straight from their images (bare
// volumes, a volume behind 1 MiB of zeros, MBR primary and logical
// partitions, GPT partitions) against The Sleuth Kit's listing of the same
// volumes (fls -r -p -m for names, entries and sizes, istat for sequence
// numbers and exact times), and against brindle's own reading of the
// extracted $MFT.
#include <gtest/gtest.h>

#include <algorithm>
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

// One spelling of a path filter per line of path-filters.txt, which
// filter-oracle.py wrote from fls's listing: the volume, the entries fls
// lists where the filter points, the filter arguments.
std::vector<std::string> path_filter_lines() { return split_lines(read_file(source_fixture_path("path-filters.txt"))); }

class PathFilters : public ::testing::TestWithParam<std::string> {};

TEST_P(PathFilters, SelectExactlyWhatFlsListsThere) {
  const std::vector<std::string> fields = split_fields(GetParam(), "\t");
  const volume_case& v = *std::find_if(std::begin(volumes), std::end(volumes),
                                       [&](const volume_case& c) { return c.name == fields.at(0); });
  std::set<std::uint64_t> expected;
  for (const std::string& entry : split_fields(fields.at(1), " ")) expected.insert(std::stoull(entry));
  // From the image the paths are looked up in the directory indexes; from
  // the extracted $MFT they are compared with each record's own paths.
  for (std::vector<std::string> source : {v.image_source(), v.mft_source()}) {
    const std::string from = source[0];
    source.insert(source.end(), fields.begin() + 2, fields.end());
    std::set<std::uint64_t> selected;
    for (const auto& [path, line] : run_per_path(source)) selected.insert(line.base_entry);
    EXPECT_EQ(selected, expected) << from;
  }
}

INSTANTIATE_TEST_SUITE_P(VolumeOracle, PathFilters, ::testing::ValuesIn(path_filter_lines()),
                         [](const auto& info) {
                           std::string volume = split_fields(info.param, "\t").at(0);
                           std::replace(volume.begin(), volume.end(), '-', '_');
                           return volume + "_" + std::to_string(info.index);
                         });

}  // namespace
