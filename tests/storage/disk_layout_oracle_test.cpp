// Partition tables of disks made by sfdisk and sgdisk (an extended chain of
// two links, a GPT with a non-ASCII name, a hidden-NTFS entry and a primary
// after the extended one, a 4096-byte-sector volume behind a 512-byte MBR,
// 4Kn MBR and GPT disks) against mmls's partitions and extended containers,
// whose rows the fixture scripts wrote in bytes.
#include <gtest/gtest.h>

#include <set>

#include "storage/disk_reader.h"
#include "storage/partition_table.h"
#include "tests/common/test_support.h"

using namespace testing_support;

TEST(DiskLayoutOracle, PartitionsInBytesAsMmlsListsThem) {
  for (const std::string disk :
       {"mbr-odd.img", "mbr-s4k.img", "4kn-mbr.img", "4kn-gpt.img", "partitions-mbr.bin", "partitions-gpt.bin"}) {
    std::multiset<std::string> expected, ours;
    for (const std::string& line : split_lines(read_file(source_fixture_path(disk.substr(0, disk.find('.')) + ".mmls.txt")))) {
      const auto row = split_fields(line, "|");  // start|length|slot|description
      if (row[2] != "-------" && (row[2] != "Meta" || row[3].rfind("DOS Extended", 0) == 0))
        expected.insert(row[0] + "+" + row[1]);
    }
    storage::disk_reader image(uni::to_wide(fixture_path(disk)));
    storage::partition_table table;
    ASSERT_TRUE(storage::parse_partitions(image, table, false, false)) << disk;
    for (const auto& e : table)
      ours.insert(std::to_string(e.start_bytes()) + "+" + std::to_string(e.end_bytes() - e.start_bytes()));
    EXPECT_EQ(ours, expected) << disk;
  }
}
