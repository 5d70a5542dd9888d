// Values never break a line's structure: a line break in a name is a marker
// in every layout. (Separators inside values and the marks of carved records
// are kept as golden runs: column_structure.)
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

using namespace testing_support;

TEST(ColumnStructure, LineBreakInANameIsAMarkerInEveryLayout) {
  // basic.mft with the blank of "space name.txt" (entry 87) turned into LF.
  const scratch_folder folder("line-break-name");
  byte_vector mft = read_bytes(fixture_path("basic.mft"));
  const std::span<std::uint8_t> record(mft.data() + 87 * 1024, 1024);
  ASSERT_TRUE(unprotect_strides(record));
  const byte_vector name = utf16le(u"space name");
  std::search(record.begin(), record.end(), name.begin(), name.end())[10] = '\n';
  protect_strides(record, static_cast<std::uint16_t>(peek(record, peek(record, 4, 2), 2)));
  write_bytes(folder.file("MFT"), mft);
  const std::vector<std::vector<std::string>> layouts = {{"-quiet"},   {"-csv"},     {"-csvperpath"},
                                                        {"-filepath_only"}, {"-bodyfile"}, {"-csvl2t"},
                                                        {"-hashfile", "md5"}, {"-find_mft", "87"}};
  for (const std::vector<std::string>& layout : layouts) {
    std::vector<std::string> arguments = {"-mftfile", folder.file("MFT"), "-quiet", "-filter_inode", "87"};
    arguments.insert(arguments.end(), layout.begin(), layout.end());
    const std::string body = results_body(run_brindle(arguments).out);
    EXPECT_NE(body.find("space[LF]name.txt"), std::string::npos) << layout[0] << "\n" << body;
    EXPECT_EQ(body.find("space\nname"), std::string::npos) << layout[0];
  }
}
