// Values never break the structure of a line: a name holding a line break
// is written with a marker in every layout, a separator's character inside a
// value is replaced, and records carved from free clusters say so.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

constexpr std::size_t record_bytes = 1024;

// basic.mft with the blank of "space name.txt" (entry 87) turned into LF.
std::string mft_with_line_break(const scratch_folder& folder) {
  byte_vector mft = read_bytes(fixture_path("basic.mft"));
  const std::span<std::uint8_t> record(mft.data() + 87 * record_bytes, record_bytes);
  EXPECT_TRUE(unprotect_strides(record));
  const byte_vector name = utf16le(u"space name");
  const auto at = std::search(record.begin(), record.end(), name.begin(), name.end());
  EXPECT_NE(at, record.end());
  at[10] = '\n';  // the blank: the sixth UTF-16 unit
  protect_strides(record, static_cast<std::uint16_t>(peek(record, peek(record, 4, 2), 2)));
  write_bytes(folder.file("MFT"), mft);
  return folder.file("MFT");
}

TEST(ColumnStructure, LineBreakInANameIsAMarkerInEveryLayout) {
  const scratch_folder folder("line-break-name");
  const std::string mft = mft_with_line_break(folder);
  for (const std::vector<std::string>& layout :
       std::vector<std::vector<std::string>>{{}, {"-csv"}, {"-csvperpath"}, {"-filepath_only"}, {"-bodyfile"},
                                             {"-csvl2t"}, {"-hashfile", "md5"}, {"-find_mft", "87"}}) {
    std::vector<std::string> arguments = {"-mftfile", mft, "-quiet", "-filter_inode", "87"};
    arguments.insert(arguments.end(), layout.begin(), layout.end());
    const run_result run = run_brindle(arguments);
    const std::string body = results_body(run.out), option = layout.empty() ? "default" : layout[0];
    ASSERT_EQ(run.exit_status, 0) << option << run.err;
    EXPECT_NE(body.find("space[LF]name.txt"), std::string::npos) << option << "\n" << body;
    EXPECT_EQ(body.find("space\nname"), std::string::npos) << option;
  }
}

TEST(ColumnStructure, EverySeparatorSplitsEveryLineAlike) {
  for (const char* separator : {";", " : ", "tab", "#"}) {
    const run_result run = run_brindle({"-mftfile", fixture_path("basic.mft"), "-quiet", "-csv", "-csv_separator",
                                        separator, "-mftstart", "64", "-mftrange", "36"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const std::string split_at = std::string(separator) == "tab" ? "\t" : separator;
    const std::vector<std::string> lines = split_lines(results_body(run.out));
    ASSERT_GT(lines.size(), 30u) << separator;
    for (const std::string& line : lines) {
      EXPECT_EQ(split_fields(line, split_at).size(), split_fields(lines[0], split_at).size()) << line;
    }
  }
}

TEST(ColumnStructure, CarvedRecordsAreMarked) {
  struct layout_case {
    const char* option;
    const char* mark;  // on every line of a carved record
  };
  for (const layout_case& c : {layout_case{"-csvl2t", ",NTFS:UNALLOC,"}, layout_case{"-bodyfile", " (unalloc) ("}}) {
    const run_result run =
        run_brindle({"-image", fixture_path("carving.img"), "-quiet", "-filter_unalloc_clusters", c.option});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    std::vector<std::string> lines = split_lines(results_body(run.out));
    ASSERT_GT(lines.size(), 32u) << c.option;
    lines.erase(lines.begin());  // the header
    for (const std::string& line : lines) EXPECT_NE(line.find(c.mark), std::string::npos) << line;
  }
}

}  // namespace
