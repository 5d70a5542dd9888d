// Damaged volumes, made by patching copies of the fixture images that mkntfs
// wrote: boot sectors with unusable geometry, and MFT run lists that point
// past the volume, overlap themselves or hold absurd runs.
//
// Each damage is checked on the volume object: which records it still maps
// (its record capacity, where the walk stops) and that they read as on the
// intact volume. Runs of the program on damaged boot sectors (zeroed, no
// sectors per cluster, records of 2^1 and 2^128 bytes), images
// cut short and broken partition tables are golden runs
// (fixtures/golden/runs/damaged_volume.txt, over the copies that
// fixtures/make-damaged.sh makes).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ntfs/ntfs_volume.h"
#include "support/byte_reader.h"
#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

using bytes = byte_vector;
using patch = std::function<void(bytes&)>;

// `basic` and `fragmented`: 4096-byte clusters, 1024-byte records, 4095
// clusters (boot sector: 32767 sectors of 512 bytes), the MFT from cluster 4.
constexpr std::uint64_t k_record = 1024;
constexpr std::uint64_t k_volume_clusters = 4095;
constexpr std::uint64_t k_basic_records = 348;  // 87 clusters of MFT

const bytes& fixture_bytes(const std::string& name) {
  static std::map<std::string, bytes> loaded;
  auto it = loaded.find(name);
  if (it == loaded.end()) it = loaded.emplace(name, read_bytes(fixture_path(name))).first;
  return it->second;
}

// Bytes that are nothing in particular (and never the "NTFS    " id).
void fill_garbage(bytes& image, std::uint64_t from, std::uint64_t to) {
  for (std::uint64_t i = from; i < to; ++i) image.at(i) = static_cast<std::uint8_t>((i * 37 + 11) & 0xFF);
}

// Where the unnamed $DATA attribute of MFT record 0 lies in a volume image,
// found the way a reader must: the boot sector gives the cluster size and
// the MFT's first cluster, the record header the first attribute, and each
// attribute header its type and length. Offsets are from the image start.
struct mft_data_location {
  std::uint64_t attribute = 0;
  std::uint64_t run_list = 0;
};

mft_data_location find_mft_data(const bytes& image) {
  support::byte_reader boot(std::span<const std::uint8_t>(image).first(512));
  const std::uint64_t cluster = std::uint64_t{boot.le16(11)} * boot.u8(13);
  const std::uint64_t record_at = boot.le64(48) * cluster;
  support::byte_reader record(std::span<const std::uint8_t>(image).subspan(record_at, k_record));
  std::size_t at = record.le16(20);
  while (record.ok() && record.le32(at) != 0xFFFFFFFF) {
    if (record.le32(at) == 0x80 && record.u8(at + 9) == 0) {
      return {record_at + at, record_at + at + record.le16(at + 32)};
    }
    const std::uint32_t length = record.le32(at + 4);
    if (length == 0) break;
    at += length;
  }
  ADD_FAILURE() << "no $DATA in MFT record 0";
  return {};
}

// Writes `runs` over the MFT's own run list, `from` bytes into it.
patch mft_runs(std::size_t from, bytes runs) {
  return [=](bytes& image) { poke_bytes(image, find_mft_data(image).run_list + from, runs); };
}

bytes damaged(const std::string& fixture, const patch& damage) {
  bytes image = fixture_bytes(fixture);
  if (damage) damage(image);
  return image;
}

// A volume image held in memory; reads past its end come back short.
class memory_image final : public storage::byte_source {
 public:
  explicit memory_image(bytes image) : m_bytes(std::move(image)) {}
  std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset >= m_bytes.size()) return 0;
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, m_bytes.size() - offset));
    std::memcpy(buffer, m_bytes.data() + offset, length);
    return static_cast<std::int64_t>(length);
  }
  std::uint64_t size_bytes() const override { return m_bytes.size(); }

 private:
  bytes m_bytes;
};

// The raw bytes of `entry` as the volume reads them; empty when it cannot.
bytes record_of(ntfs::ntfs_volume& volume, std::uint64_t entry) {
  bytes record(volume.mft_record_size());
  if (!volume.read_record(entry, record, ntfs::read_intent::random)) return {};
  return record;
}

// ---------------------------------------------------------------------------
// Boot sector

TEST(DamagedBootSector, VolumeObjectRefusesUnusableGeometry) {
  const auto field = [](std::uint64_t offset, std::uint64_t value, int width) -> patch {
    return [=](bytes& image) { poke(image, offset, value, width); };
  };
  struct test_case {
    const char* what;
    patch damage;
    bool usable;
  };
  const std::vector<test_case> cases = {
      {"intact", nullptr, true},
      {"garbage boot sector", [](bytes& i) { fill_garbage(i, 0, 512); }, false},
      {"NTFS id in front of garbage", [](bytes& i) { fill_garbage(i, 11, 512); }, false},
      {"3 sectors per cluster", field(13, 3, 1), false},
      {"sectors per cluster 0xE0, 2^32 sectors as a negative power of two", field(13, 0xE0, 1), false},
      {"128 sectors per cluster: 64 KiB clusters, no MFT where they put it", field(13, 128, 1), false},
      {"0 bytes per sector", field(11, 0, 2), false},
      {"128 bytes per sector", field(11, 128, 2), false},
      {"513 bytes per sector", field(11, 513, 2), false},
      {"8192 bytes per sector", field(11, 8192, 2), false},
      {"0 clusters per record", field(64, 0, 1), false},
      {"32 clusters per record (128 KiB records)", field(64, 32, 1), false},
      {"127 clusters per record", field(64, 0x7F, 1), false},
      {"records of 2^7 bytes", field(64, 0xF9, 1), false},
      {"records of 2^17 bytes", field(64, 0xEF, 1), false},
      {"MFT cluster past the volume", field(48, k_volume_clusters + 1, 8), false},
      // 2^52 + 4 clusters of 4096 bytes wrap around to the real MFT at byte
      // 16384 in 64-bit arithmetic.
      {"MFT cluster beyond 64-bit byte offsets, no sector count",
       [](bytes& i) { poke(i, 40, 0, 8), poke(i, 48, (std::uint64_t{1} << 52) + 4, 8); }, false},
      // Record 0's update sequence covers 1024 bytes: the size is enlarged.
      {"records of 2^9 bytes", field(64, 0xF7, 1), true},
      {"no sector count", field(40, 0, 8), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    memory_image image(damaged("basic.img", c.damage));
    ntfs::ntfs_volume volume(image, 0);
    ASSERT_EQ(volume.validate(), c.usable);
    EXPECT_EQ(volume.is_validated(), c.usable);
    std::uint32_t size = 0;
    EXPECT_EQ(volume.record_size(size), c.usable);
    EXPECT_EQ(volume.record_capacity(), c.usable ? k_basic_records : 0);
    bytes record(k_record);
    EXPECT_EQ(volume.read_record(5, record, ntfs::read_intent::sequential), c.usable);
    if (!c.usable) continue;
    EXPECT_EQ(size, k_record);
    EXPECT_EQ(std::memcmp(record.data(), "FILE", 4), 0);
  }
}

// ---------------------------------------------------------------------------
// The MFT's own run list ($DATA of record 0)

// fragmented's run list: 11 2b 04 | 21 01 01 0a | 9 x (11 01 xx) | 00, so
// the last run (cluster 2610, records 208-211) starts 31 bytes in.
constexpr std::size_t k_fragmented_last_run = 31;

TEST(DamagedMftRunList, VolumeObjectMapsWhatTheRunListStillHolds) {
  struct test_case {
    const char* what;
    const char* fixture;
    patch damage;
    bool usable;
    std::uint64_t capacity;  // records
    std::uint64_t readable;  // entries 1 .. readable-1 read, `readable` does not
    bool as_intact;          // and they read as on the intact volume
  };
  bytes overlapping = {0x11, 0x2B, 0x04};  // the first run as it is, then ten runs over it
  for (int i = 0; i < 10; ++i) overlapping.insert(overlapping.end(), {0x11, 0x01, 0x01});
  overlapping.push_back(0x00);
  const std::vector<test_case> cases = {
      // Record 0 is found through the boot sector, but no record through
      // the run list.
      {"a run past the volume", "basic.img", mft_runs(0, {0x31, 0x57, 0x00, 0x00, 0x01, 0x00}), true, 0, 1, false},
      {"a run of no clusters before the real one", "basic.img",
       mft_runs(0, {0x11, 0x00, 0x02, 0x11, 0x57, 0x02, 0x00}), true, k_basic_records, k_basic_records, true},
      // Cut at the volume's last cluster: 4091 clusters from cluster 4.
      {"a run of 2^32 - 1 clusters", "basic.img", mft_runs(0, {0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0x04, 0x00}), true,
       (k_volume_clusters - 4) * 4, (k_volume_clusters - 4) * 4, true},
      // And a $DATA size to match: 17 592 186 040 320 bytes, about 1.7e10
      // records. The walk stops at the capacity, the volume's end.
      {"a run of 2^32 - 1 clusters and sizes to match", "basic.img",
       [](bytes& image) {
         mft_runs(0, {0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0x04, 0x00})(image);
         // Allocated, real and initialised size.
         for (std::uint64_t field : {40, 48, 56}) poke(image, find_mft_data(image).attribute + field, 0xFFFFFFFFull * 4096, 8);
       },
       true, (k_volume_clusters - 4) * 4, (k_volume_clusters - 4) * 4, true},
      {"a run before cluster 0", "basic.img", mft_runs(0, {0x11, 0x57, 0x84, 0x00}), false, 0, 0, false},
      {"a count wider than 32 bits", "basic.img", mft_runs(0, {0x15, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x04, 0x00}),
       false, 0, 0, false},
      {"only a sparse run", "basic.img", mft_runs(0, {0x01, 0x57, 0x00}), true, 0, 1, false},
      {"last run past the volume", "fragmented.img",
       mft_runs(k_fragmented_last_run, {0x21, 0x01, 0x00, 0x40, 0x00}), true, 208, 208, true},
      {"last run of no clusters", "fragmented.img", mft_runs(k_fragmented_last_run, {0x11, 0x00, 0x04, 0x00}), true,
       208, 208, true},
      {"last run with a 9-byte count field", "fragmented.img",
       mft_runs(k_fragmented_last_run, {0x19, 0x01, 0x00, 0x00}), true, 208, 208, true},
      {"last run of 2^32 - 1 clusters", "fragmented.img",
       mft_runs(k_fragmented_last_run, {0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0x04, 0x00}), true,
       (52 + k_volume_clusters - 2610) * 4, (52 + k_volume_clusters - 2610) * 4, true},
      {"runs 2 to 11 lying over run 1", "fragmented.img", mft_runs(0, overlapping), true, 212, 212, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    memory_image image(damaged(c.fixture, c.damage));
    memory_image intact_image(fixture_bytes(c.fixture));
    ntfs::ntfs_volume volume(image, 0), intact(intact_image, 0);
    ASSERT_TRUE(intact.validate());
    ASSERT_EQ(volume.validate(), c.usable);
    EXPECT_EQ(volume.record_capacity(), c.capacity);
    if (!c.usable) continue;
    if (c.readable > 1) {
      EXPECT_FALSE(record_of(volume, c.readable - 1).empty());
    }
    EXPECT_TRUE(record_of(volume, c.readable).empty());
    if (c.as_intact) {
      // Record 0 holds the patched run list itself.
      for (std::uint64_t entry = 1; entry < std::min(c.readable, intact.record_capacity()); ++entry) {
        ASSERT_EQ(record_of(volume, entry), record_of(intact, entry)) << entry;
      }
    }
  }
  // Runs over the first one map records 172.. onto its clusters again:
  // cluster 5 holds records 4 to 7.
  memory_image image(damaged("fragmented.img", mft_runs(0, overlapping)));
  memory_image intact_image(fixture_bytes("fragmented.img"));
  ntfs::ntfs_volume volume(image, 0), intact(intact_image, 0);
  ASSERT_TRUE(volume.validate() && intact.validate());
  EXPECT_EQ(record_of(volume, 172), record_of(intact, 4));
  EXPECT_EQ(record_of(volume, 211), record_of(intact, 43));
}

}  // namespace
