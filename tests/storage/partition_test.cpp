// Partition discovery and volume selection: crafted in-memory disks for the
// damaged and odd cases, and two disks partitioned by sfdisk/sgdisk (see
// tests/fixtures/make-partitions.sh). Extended chains that loop or point
// past the disk, and GPT entry arrays and entries past it, are golden runs
// over damaged copies of the mbr and gpt disks (damaged_volume).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

#include "storage/gpt_table.h"
#include "storage/partition_table.h"
#include "storage/partition_types.h"
#include "storage/volume_selection.h"
#include "tests/common/test_support.h"

using namespace storage;
using namespace testing_support;

namespace {

// A sparse disk in memory: bytes never written read as zeros.
class memory_disk final : public storage::byte_source {
 public:
  explicit memory_disk(std::uint64_t size_bytes) : m_size(size_bytes) {}
  std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset >= m_size) return 0;
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, m_size - offset));
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::memset(out, 0, length);
    for (auto it = m_bytes.lower_bound(offset); it != m_bytes.end() && it->first < offset + length; ++it)
      out[it->first - offset] = it->second;
    ++m_reads;
    return static_cast<std::int64_t>(length);
  }
  std::uint64_t size_bytes() const override { return m_size; }
  void le(std::uint64_t offset, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) m_bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  void text(std::uint64_t offset, const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) m_bytes[offset + i] = static_cast<std::uint8_t>(text[i]);
  }
  void sign(std::uint64_t sector) { le(sector * 512 + 510, 0xAA55, 2); }
  // One 16-byte entry of the MBR or extended boot record at `sector`.
  void slot(std::uint64_t sector, int index, std::uint8_t type, std::uint32_t start, std::uint32_t count) {
    const std::uint64_t at = sector * 512 + 446 + 16 * index;
    le(at + 4, type, 1), le(at + 8, start, 4), le(at + 12, count, 4), sign(sector);
  }
  void ntfs_boot(std::uint64_t sector, std::uint64_t total_sectors) {
    text(sector * 512 + 3, "NTFS    ");
    le(sector * 512 + 11, 512, 2), le(sector * 512 + 40, total_sectors, 8), sign(sector);
  }
  std::size_t m_reads = 0;

 private:
  std::uint64_t m_size;
  std::map<std::uint64_t, std::uint8_t> m_bytes;
};

// "start+count type-name/file-system 'name'; " per entry.
std::string rows_of(const partition_table& table) {
  std::string rows;
  for (const auto& e : table) {
    rows += std::to_string(e.start_sector) + "+" + std::to_string(e.sector_count) + " " + partition_type_name(e.type) +
            (e.file_system.empty() ? "" : "/" + e.file_system) + (e.name.empty() ? "" : " '" + e.name + "'") + "; ";
  }
  return rows;
}

constexpr std::uint64_t mib = 1024 * 1024;
using filler = std::function<void(memory_disk&)>;

// An NTFS partition at 1 MiB and a FAT32 one at 11 MiB.
void primaries(memory_disk& d) {
  d.slot(0, 0, 0x07, 2048, 20480);
  d.ntfs_boot(2048, 20479);
  d.slot(0, 1, 0x0C, 22528, 8192);
  d.text(22528 * 512 + 82, "FAT32   ");
}

// Extended partition at 8192: a logical NTFS at 10240, a link to the second
// record at 14336 (relative to the extended start), a Linux logical at 16384.
void extended(memory_disk& d) {
  d.slot(0, 0, 0x07, 2048, 4096);
  d.slot(0, 1, 0x0F, 8192, 16384);
  d.slot(0, 2, 0x07, 30000, 100);  // after the extended entry: still a primary
  d.slot(8192, 0, 0x07, 2048, 2048);
  d.ntfs_boot(10240, 2047);
  d.slot(8192, 1, 0x05, 6144, 4096);
  d.slot(14336, 0, 0x83, 2048, 2048);
}

const std::string extended_rows =
    "2048+4096 ntfs or exfat; 8192+16384 exten; 30000+100 ntfs or exfat; 10240+2048 ntfs or exfat/ntfs; "
    "14336+4096 exten; 16384+2048 linux; ";

TEST(PartitionMbr, TablesAndChains) {
  struct test_case {
    const char* what;
    std::uint64_t size;
    filler fill;
    std::string expected;  // empty: the parse fails
  };
  const std::vector<test_case> cases = {
      {"primaries; a known but unnamed type; an empty entry", 64 * mib,
       [](memory_disk& d) { primaries(d), d.slot(0, 2, 0x42, 40000, 100), d.slot(0, 3, 0x83, 50000, 0); },
       "2048+20480 ntfs or exfat/ntfs; 22528+8192 fat32/fat32; 40000+100 unk; "},
      {"extended chain with two logicals", 64 * mib, extended, extended_rows},
      {"no boot signature", 64 * mib, [](memory_disk& d) { primaries(d), d.le(510, 0, 2); }, ""},
      {"bare NTFS volume", 8 * mib, [](memory_disk& d) { d.ntfs_boot(0, 16383); }, "0+16383 ntfs or exfat/ntfs; "},
      {"bare ext2 volume", 8 * mib, [](memory_disk& d) { d.le(1080, 0xEF53, 2); }, "0+0 linux/ext; "},
      {"protective MBR without a GPT", 8 * mib, [](memory_disk& d) { d.slot(0, 0, 0xEE, 1, 16383); }, ""},
  };
  for (const auto& c : cases) {
    memory_disk disk(c.size);
    c.fill(disk);
    partition_table table;
    EXPECT_EQ(parse_partitions(disk, table, false, false), !c.expected.empty()) << c.what;
    EXPECT_EQ(rows_of(table), c.expected) << c.what;
  }
}

TEST(PartitionMbr, TypeNames) {
  std::string names;
  for (std::uint16_t type : {0x07, 0x97, 0x42, 0x8007, 0xEE, 0x8E, 0x0107}) names += partition_type_name(type) + "|";
  EXPECT_EQ(names, "ntfs or exfat|hidden fat32|unk|ntfs or exfat [guess]|gpt|linux Logical Volume Mgr|unk|");
  EXPECT_TRUE(is_known_mbr_type(0xFE) && !is_known_mbr_type(0x02));
}

struct gpt_partition {
  std::uint64_t first, last;
  std::u16string name;
};

memory_disk gpt_disk(std::uint64_t array_lba, std::uint32_t count, std::uint32_t entry_size,
                     const std::vector<gpt_partition>& parts) {
  memory_disk disk(8 * mib);
  disk.slot(0, 0, 0xEE, 1, 16383);
  disk.text(512, "EFI PART");
  disk.le(512 + 24, 1, 8), disk.le(512 + 72, array_lba, 8);
  disk.le(512 + 80, count, 4), disk.le(512 + 84, entry_size, 4);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::uint64_t at = array_lba * 512 + (i * 2) * entry_size;  // every other slot stays unused
    disk.le(at, 0xEBD0A0A2B9E5443Bull, 8), disk.le(at + 16, 0x40 + i, 8);
    disk.le(at + 32, parts[i].first, 8), disk.le(at + 40, parts[i].last, 8);
    for (std::size_t c = 0; c < parts[i].name.size(); ++c) disk.le(at + 56 + 2 * c, parts[i].name[c], 2);
    disk.ntfs_boot(parts[i].first, parts[i].last - parts[i].first);
  }
  return disk;
}

TEST(PartitionGpt, HeadersAndEntryArrays) {
  // Past the 2 MiB that the largest accepted entry array can cover.
  const std::vector<gpt_partition> two_ntfs = {{8192, 11263, u"Windows"}, {11264, 14335, u"Donn\u00e9es \U0001F600"}};
  const std::string first = "8192+3072 ntfs or exfat/ntfs 'Windows'; ",
                    both = first + "11264+3072 ntfs or exfat/ntfs 'Donn\u00e9es \U0001F600'; ";
  struct test_case {
    const char* what;
    memory_disk disk;
    std::string expected;
  };
  std::vector<test_case> cases;
  cases.push_back({"two NTFS partitions", gpt_disk(2, 128, 128, two_ntfs), both});
  cases.push_back({"header count larger than anything real", gpt_disk(2, 0xFFFFFFFF, 128, two_ntfs), both});
  cases.push_back({"larger entries", gpt_disk(2, 128, 256, two_ntfs), both});
  cases.push_back({"entry size too small", gpt_disk(2, 128, 64, two_ntfs), ""});
  cases.push_back(
      {"reversed range skipped", gpt_disk(2, 128, 128, {{11263, 8192, u"x"}, two_ntfs[1]}), both.substr(first.size())});
  cases.push_back({"no signature", gpt_disk(2, 128, 128, two_ntfs), ""});
  cases.back().disk.text(512, "EFI CART");
  cases.push_back({"header not at LBA 1", gpt_disk(2, 128, 128, two_ntfs), ""});
  cases.back().disk.le(512 + 24, 2, 8);
  for (auto& c : cases) {
    partition_table table;
    EXPECT_EQ(parse_partitions(c.disk, table, false, false), !c.expected.empty()) << c.what;
    EXPECT_EQ(rows_of(table), c.expected) << c.what;
    EXPECT_LT(c.disk.m_reads, 200u) << c.what;
    for (const auto& e : table) EXPECT_TRUE(e.gpt && e.sector_size == 512) << c.what;
  }
  partition_table table;
  memory_disk disk = gpt_disk(2, 128, 128, two_ntfs);
  ASSERT_TRUE(parse_gpt(disk, table, false));
  EXPECT_TRUE(table[1].gpt_unique_id[0] == 0x41 && table[1].gpt_type_id[0] == 0x3B);
}

TEST(PartitionSelection, ATableFoundOnlyByTheLenientScan) {
  // The reports of the other choices (the NTFS partition, one that is not
  // NTFS, offsets and partitions past the end, a cut volume taken or not,
  // no partitions at all, no volume at an offset) are golden runs over
  // damaged and intact fixture disks (image_source, damaged_volume). Here
  // the only table is one sector late, at sector 63.
  memory_disk disk(16 * mib);
  disk.slot(63, 0, 0x07, 2048, 100);
  std::uint64_t offset = 0;
  bool found = false;
  std::string report;
  EXPECT_FALSE(select_volume(report, found, offset, disk, false));
  EXPECT_EQ(report, "disk is corrupted, partition info questionable\n\nvolume offset [ 0x107e00 ] : ntfs or exfat\n\n"
                    "use option [-offset 0x107e00]\n");
  EXPECT_TRUE(found);
  EXPECT_EQ(offset, 2111u * 512);
}

// Starts and lengths are held against mmls in disk_layout_oracle_test; here
// the file systems the fixture script put into the partitions, the GPT names
// and the volume the program suggests.
TEST(PartitionOracle, DisksPartitionedBySfdiskAndSgdisk) {
  disk_reader mbr(uni::to_wide(fixture_path("partitions-mbr.bin")));
  disk_reader gpt(uni::to_wide(fixture_path("partitions-gpt.bin")));
  ASSERT_TRUE(mbr.is_open() && gpt.is_open());
  partition_table table;
  ASSERT_TRUE(parse_partitions(mbr, table, false, false));
  EXPECT_EQ(rows_of(table), "2048+4096 ntfs or exfat/ntfs; 6144+6144 fat16/fat16; 12288+36864 exten; "
                            "14336+4096 ntfs or exfat/ntfs; 18432+6144 exten; 20480+4096 linux; ");
  ASSERT_TRUE(parse_partitions(gpt, table, false, false));
  EXPECT_EQ(rows_of(table), "2048+4096 ntfs or exfat/ntfs 'Basic data partition'; 6144+4096 linux/ext 'linux home'; "
                            "10240+4096 ntfs or exfat/ntfs 'Donn\u00e9es \u2603'; ");
  // With the table's own areas first, where mmls lists them (sectors 0, 1
  // and 2-33), and the gap before the first partition.
  ASSERT_TRUE(parse_partitions(gpt, table, false, true));
  EXPECT_EQ(rows_of(table).substr(0, 141), "0+1 gpt/mbr 'mbr'; 1+1 gpt/gpt header 'gpt header'; "
                                           "2+32 gpt/gpt partition entries 'gpt partition entries'; "
                                           "34+2014 empty/unalloc 'unalloc'; ");

  std::string report;
  bool found = false;
  std::uint64_t offset = 0;
  EXPECT_FALSE(select_volume(report, found, offset, mbr, false));
  EXPECT_EQ(report, "\nvolume offset [ 0x100000 ] : ntfs or exfat\nvolume offset [ 0x300000 ] : fat16\n"
                    "volume offset [ 0x600000 ] : exten\nvolume offset [ 0x700000 ] : ntfs or exfat\n"
                    "volume offset [ 0x900000 ] : exten\nvolume offset [ 0xa00000 ] : linux\n\n"
                    "use option [-offset 0x700000]\n");
  EXPECT_TRUE(select_volume(report, found, offset, mbr, false));
  offset = 10240 * 512;
  EXPECT_TRUE(select_volume(report, found, offset, gpt, false));
}

}  // namespace
