// The VMDK reader against disks written by qemu-img and qemu-io (and two
// with 4 KiB grains that qemu-img reads back identically), see
// tests/fixtures/make-vmdk.sh. The virtual disk we read must have the sha256
// that qemu-img's raw view of the same disk has, read in pieces that cross
// every grain boundary, also where the next grain lives in another disk of
// the chain. Grains a damaged file cannot deliver read as zeros. (Damaged
// headers and broken snapshot chains, refused with the -vmdk report texts,
// are the golden runs in fixtures/golden/runs/vmdk_damage.txt, over the
// copies fixtures/make-damaged.sh makes.)
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>

#include "storage/disk_reader.h"
#include "storage/vmdk_chain.h"
#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

using namespace testing_support;
using storage::disk_reader;
using storage::vmdk_chain_paths;

namespace {

constexpr std::size_t mib = 1 << 20;

std::string fixture(const std::string& name) { return fixture_path(name); }

std::vector<uni::wide_string> wide(const std::vector<std::string>& paths) {
  std::vector<uni::wide_string> out;
  for (const auto& p : paths) out.push_back(uni::to_wide(p));
  return out;
}

// sha256 of the raw view of each fixture disk, as qemu-img converted it.
const std::map<std::string, std::string>& raw_view_digests() {
  static const std::map<std::string, std::string> digests = [] {
    std::map<std::string, std::string> read;
    for (const auto& line : split_lines(read_file(source_fixture_path("vmdk-raw-views.sha256.txt")))) {
      const auto fields = split_fields(line, "  ");
      if (fields.size() == 2) read[fields[1]] = fields[0];
    }
    return read;
  }();
  return digests;
}


// The virtual disk (its first `limit_bytes`), read in pieces of `piece` bytes.
byte_vector read_view(disk_reader& disk, std::size_t piece, std::uint64_t limit_bytes = ~0ULL) {
  byte_vector view(static_cast<std::size_t>(std::min(disk.size_bytes(), limit_bytes)));
  for (std::size_t at = 0; at < view.size();) {
    std::size_t length = std::min(piece, view.size() - at);
    const std::size_t asked = length;
    if (!disk.read(view.data() + at, length, at) || length != asked) {
      ADD_FAILURE() << "read of " << asked << " bytes at " << at << " delivered " << length;
      return {};
    }
    at += length;
  }
  return view;
}

// Offset of the first byte where `a` and `b` differ, or "equal".
std::string first_difference(const byte_vector& a, const byte_vector& b) {
  if (a.size() != b.size()) return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
  const auto at = std::mismatch(a.begin(), a.end(), b.begin());
  return at.first == a.end() ? "equal" : "differ at " + std::to_string(at.first - a.begin());
}

// Header fields at their offsets in the sparse extent header.
constexpr std::size_t grain_field = 20, entries_field = 44, directory_field = 56;

// Byte offset of the grain table entry of grain `grain` in a sparse extent.
std::size_t table_entry_offset(const byte_vector& disk, std::uint64_t grain) {
  const std::uint64_t entries = peek(disk, entries_field, 4);
  const std::uint64_t directory = peek(disk, directory_field, 8) * 512;
  const std::uint64_t table = peek(disk, static_cast<std::size_t>(directory + 4 * (grain / entries)), 4);
  return static_cast<std::size_t>(table * 512 + 4 * (grain % entries));
}

// Copies fixtures into a scratch folder, where tests may damage them.
class VmdkScratch : public ::testing::Test {
 protected:
  std::string copy(const std::string& name, const std::string& as = "") {
    const std::string target = m_folder.file(as.empty() ? name : as);
    std::filesystem::create_directories(std::filesystem::path(target).parent_path());
    std::filesystem::copy_file(fixture(name), target, std::filesystem::copy_options::overwrite_existing);
    return target;
  }
  static void patch(const std::string& path, const std::function<void(byte_vector&)>& change) {
    byte_vector bytes = read_bytes(path);
    change(bytes);
    write_bytes(path, bytes);
  }

  scratch_folder m_folder{"vmdk"};
};

// ---------------------------------------------------------------------------

TEST(VmdkRawView, EveryDiskReadsAsQemuReadsIt) {
  struct disk_case {
    std::vector<std::string> files;  // newest first
    std::string source_image;        // what it was made from
    std::vector<std::size_t> pieces;
  };
  const std::vector<disk_case> cases = {
      {{"vmdk-mono.vmdk"}, "mbr.img", {mib, 4095}},
      {{"vmdk-chain-base.vmdk"}, "basic.img", {64 * 1024}},
      {{"vmdk-chain-child1.vmdk", "vmdk-chain-base.vmdk"}, "basic.img", {mib}},
      {{"vmdk-chain-child2.vmdk", "vmdk-chain-child1.vmdk", "vmdk-chain-base.vmdk"}, "basic.img", {mib, 65537, 4095}},
      {{"vmdk-grain4k.vmdk"}, "gpt.img", {mib, 3000}},
      {{"vmdk-grain4k-child.vmdk", "vmdk-chain-base.vmdk"}, "basic.img", {mib, 4097}},
      // Text descriptors (monolithicFlat, twoGbMaxExtentSparse) naming their extents.
      {{"vmdk-flat.vmdk"}, "offset.img", {mib}},
      {{"vmdk-two.vmdk"}, "mbr.img", {mib}},
  };
  for (const disk_case& c : cases) {
    SCOPED_TRACE(c.files.front());
    std::vector<std::string> paths;
    for (const auto& f : c.files) paths.push_back(fixture(f));
    disk_reader disk(vmdk_chain_paths{wide(paths)});
    ASSERT_TRUE(disk.is_open());
    EXPECT_EQ(disk.kind(), disk_reader::source_kind::vmdk);
    EXPECT_EQ(disk.narrow_path(), paths.front());
    EXPECT_EQ(disk.sector_size(), 512u);
    EXPECT_EQ(disk.size_bytes(), std::filesystem::file_size(fixture(c.source_image)));
    for (std::size_t piece : c.pieces) {
      SCOPED_TRACE(piece);
      const byte_vector view = read_view(disk, piece);
      EXPECT_EQ(digest_hex_of(view, true), raw_view_digests().at(c.files.front()));
    }
  }
}

TEST(VmdkRawView, AFlatExtentIsAPlainImage) {
  // monolithicFlat: the flat extent is the disk's bytes and is read as a
  // plain image (-mounted_vmdk).
  disk_reader flat(uni::to_wide(fixture("vmdk-flat-flat.vmdk")));
  ASSERT_TRUE(flat.is_open());
  EXPECT_EQ(digest_hex_of(read_view(flat, mib), true), raw_view_digests().at("vmdk-flat.vmdk"));

}

TEST(VmdkRawView, ByteSourceBehaviour) {
  disk_reader disk(vmdk_chain_paths{wide({fixture("vmdk-mono.vmdk")})});
  ASSERT_TRUE(disk.is_open());
  const std::uint64_t size = disk.size_bytes();
  EXPECT_EQ(disk.drive_number(), -1);
  // Every file of the chain is open read-only.
  int descriptors = 0;
  for (const auto& link : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(link.path(), error) != std::filesystem::canonical(fixture("vmdk-mono.vmdk")))
      continue;
    ++descriptors;
    EXPECT_EQ(::fcntl(std::stoi(link.path().filename().string()), F_GETFL) & O_ACCMODE, O_RDONLY);
  }
  EXPECT_EQ(descriptors, 1);
  const byte_vector mbr = read_bytes(fixture("mbr.img"));
  byte_vector buffer(4096, 0xee);
  std::size_t length = 4096;
  ASSERT_TRUE(disk.read(buffer.data(), length, size - 512));
  EXPECT_EQ(length, 512u);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 512, mbr.end() - 512));
  EXPECT_EQ(buffer[512], 0xee);
  // Reads at or past the end, and empty ones, are refused before any
  // source is asked (disk_reader_test).
  EXPECT_FALSE(disk_reader(vmdk_chain_paths{}).is_open());
}

// ---------------------------------------------------------------------------

TEST_F(VmdkScratch, GrainsTheFileCannotDeliverReadAsZeros) {
  const byte_vector good = read_bytes(fixture("vmdk-mono.vmdk"));
  // Grains the file cannot deliver read as zeros; the rest is untouched.
  const byte_vector mbr = read_bytes(fixture("mbr.img"));
  const std::uint64_t grain_bytes = peek(good, grain_field, 8) * 512;
  // The first grain (MBR) and the grain holding the NTFS boot sector.
  const std::uint64_t grain_a = 0, grain_b = 0x100000 / grain_bytes;
  const std::string bad_grain = copy("vmdk-mono.vmdk", "bad-grain.vmdk");
  patch(bad_grain, [&](byte_vector& b) {
    ASSERT_NE(peek(b, table_entry_offset(b, grain_a), 4), 0u);
    poke(b, table_entry_offset(b, grain_a), 0xfffffff0, 4);  // far past the end
    // Stored so that the end of the file cuts the grain in half.
    poke(b, table_entry_offset(b, grain_b), (b.size() - grain_bytes / 2) / 512, 4);
  });
  const byte_vector bad_bytes = read_bytes(bad_grain);
  disk_reader disk(vmdk_chain_paths{wide({bad_grain})});
  ASSERT_TRUE(disk.is_open());
  byte_vector expected = mbr;
  std::fill_n(expected.begin(), grain_bytes, 0);
  const std::size_t tail = bad_bytes.size() - grain_bytes / 2;
  std::copy(bad_bytes.begin() + static_cast<std::ptrdiff_t>(tail), bad_bytes.end(),
            expected.begin() + static_cast<std::ptrdiff_t>(grain_b * grain_bytes));
  std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(grain_b * grain_bytes + grain_bytes / 2),
              grain_bytes / 2, 0);
  EXPECT_EQ(first_difference(read_view(disk, mib), expected), "equal");
  // Small reads that cross into and out of both damaged grains.
  const std::size_t around = static_cast<std::size_t>((grain_b + 2) * grain_bytes);
  EXPECT_EQ(first_difference(read_view(disk, 5000, around), byte_vector(expected.begin(), expected.begin() + around)),
            "equal");

  // A file cut inside its grain data: what is left reads as stored, the
  // rest of the cut grains as zeros.
  const std::string cut = copy("vmdk-mono.vmdk", "cut.vmdk");
  const std::size_t cut_at = good.size() / 2 + 1000;
  patch(cut, [&](byte_vector& b) { b.resize(cut_at); });
  disk_reader shortened(vmdk_chain_paths{wide({cut})});
  ASSERT_TRUE(shortened.is_open());
  const byte_vector& whole = mbr;  // the intact disk reads as the image it was made from
  const byte_vector rest = read_view(shortened, mib);
  ASSERT_EQ(rest.size(), whole.size());
  std::size_t zeroed = 0;
  for (std::uint64_t grain = 0; grain * grain_bytes < whole.size(); ++grain) {
    const std::size_t at = static_cast<std::size_t>(grain * grain_bytes);
    const std::size_t n = std::min<std::size_t>(grain_bytes, whole.size() - at);
    const std::uint64_t entry = peek(good, table_entry_offset(good, grain), 4);
    const auto begin = rest.begin() + static_cast<std::ptrdiff_t>(at);
    if (entry == 0 || entry * 512 + n <= cut_at) {
      EXPECT_TRUE(std::equal(begin, begin + static_cast<std::ptrdiff_t>(n),
                             whole.begin() + static_cast<std::ptrdiff_t>(at)))
          << grain;
    } else if (entry * 512 >= cut_at) {
      EXPECT_TRUE(std::all_of(begin, begin + static_cast<std::ptrdiff_t>(n), [](std::uint8_t x) { return x == 0; }))
          << grain;
      ++zeroed;
    }
  }
  EXPECT_GT(zeroed, 10u);
}

}  // namespace
