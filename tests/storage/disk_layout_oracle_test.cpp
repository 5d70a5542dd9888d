// Partition tables brindle meets on real disks, against mmls's listing of
// the same images (NAME.mmls.txt, starts and lengths already in bytes): a
// hidden-NTFS type and a primary entry after the extended one, a
// 4096-byte-sector volume behind a 512-byte MBR, and 4Kn disks with MBR and
// GPT. Each NTFS volume is then chosen by its byte offset.
#include <gtest/gtest.h>

#include <algorithm>

#include "storage/partition_table.h"
#include "storage/volume_selection.h"
#include "tests/common/test_support.h"

using namespace storage;
using namespace testing_support;

namespace {

// "start|length" of the partitions and extended containers mmls lists.
std::vector<std::string> mmls_partitions(const std::string& disk) {
  std::vector<std::string> rows;
  for (const std::string& line : split_lines(read_file(source_fixture_path(disk + ".mmls.txt")))) {
    const auto fields = split_fields(line, "|");  // start|length|slot|description
    if (fields.size() < 4 || fields[2] == "-------") continue;
    if (fields[2] == "Meta" && fields[3].rfind("DOS Extended", 0) != 0) continue;
    rows.push_back(fields[0] + "|" + fields[1]);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

struct disk_case {
  const char* disk;
  std::vector<std::uint64_t> ntfs_offsets;  // bytes, in table order
};

TEST(DiskLayoutOracle, PartitionsAsMmlsListsThemAndEachNtfsVolumeChosen) {
  const std::vector<disk_case> disks = {
      {"mbr-odd", {0x100000, 0xa00000}},
      {"mbr-s4k", {0x100000}},
      {"4kn-mbr", {0x100000}},
      {"4kn-gpt", {0x100000}},
  };
  for (const disk_case& d : disks) {
    SCOPED_TRACE(d.disk);
    disk_reader image(uni::to_wide(fixture_path(std::string(d.disk) + ".img")));
    ASSERT_TRUE(image.is_open());
    partition_table table;
    ASSERT_TRUE(parse_partitions(image, table, false, false));
    std::vector<std::string> ours;
    std::vector<std::uint64_t> ntfs;
    for (const partition_entry& entry : table) {
      ours.push_back(std::to_string(entry.start_bytes()) + "|" + std::to_string(entry.sector_count * entry.sector_size));
      if (entry.file_system == "ntfs") ntfs.push_back(entry.start_bytes());
    }
    std::sort(ours.begin(), ours.end());
    EXPECT_EQ(ours, mmls_partitions(d.disk));
    EXPECT_EQ(ntfs, d.ntfs_offsets);

    std::string report;
    bool found = false;
    std::uint64_t offset = 0;
    EXPECT_FALSE(select_volume(report, found, offset, image, false));
    EXPECT_EQ(offset, d.ntfs_offsets.back()) << report;
    for (const std::uint64_t at : d.ntfs_offsets) {
      offset = at;
      report.clear();
      EXPECT_TRUE(select_volume(report, found, offset, image, false)) << report;
    }
  }
}

// A volume the table no longer lists (its entry wiped) is still opened at
// the offset the examiner gives, since an NTFS boot sector is there; an
// offset without one is refused.
TEST(DiskLayoutOracle, AnUnlistedVolumeIsTakenAtItsBootSector) {
  std::vector<std::uint8_t> disk = read_bytes(fixture_path("mbr-s4k.img"));
  ASSERT_GT(disk.size(), 0x200000u);
  std::fill(disk.begin() + 446, disk.begin() + 462, 0);
  disk[446 + 16 + 4] = 0x83, disk[446 + 16 + 8] = 0x01, disk[446 + 16 + 12] = 0x10;  // a Linux entry keeps the MBR
  scratch_folder folder("unlisted-volume");
  write_bytes(folder.file("disk.img"), disk);
  disk_reader image(uni::to_wide(folder.file("disk.img")));
  for (const auto& [at, accepted] : {std::pair<std::uint64_t, bool>{0x100000, true}, {0x100200, false}}) {
    std::string report;
    bool found = false;
    std::uint64_t offset = at;
    EXPECT_EQ(select_volume(report, found, offset, image, false), accepted) << at << report;
  }
}

}  // namespace
