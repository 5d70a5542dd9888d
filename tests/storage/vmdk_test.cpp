// The VMDK reader against disks written by qemu-img and qemu-io (and two
// with 4 KiB grains that qemu-img reads back identically), see
// tests/fixtures/make-vmdk.sh. The virtual disk we read must have the sha256
// that qemu-img's raw view of the same disk has, read in pieces that cross
// every grain boundary, also where the next grain lives in another disk of
// the chain. Damaged copies must be refused with the -vmdk report texts, or
// read as zeros where a grain cannot be read, and never crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>

#include "storage/disk_reader.h"
#include "storage/vmdk_chain.h"
#include "storage/vmdk_chain_check.h"
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
constexpr std::size_t capacity_field = 12, grain_field = 20, descriptor_offset_field = 28,
                      descriptor_size_field = 36, entries_field = 44, directory_field = 56, overhead_field = 64;

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
  // Rewrites the embedded descriptor of `path` (padded with NULs).
  static void edit_descriptor(const std::string& path, const std::function<std::string(std::string)>& edit) {
    byte_vector bytes = read_bytes(path);
    const std::size_t offset = static_cast<std::size_t>(peek(bytes, descriptor_offset_field, 8) * 512);
    const std::size_t size = static_cast<std::size_t>(peek(bytes, descriptor_size_field, 8) * 512);
    std::string text(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                     bytes.begin() + static_cast<std::ptrdiff_t>(offset + size));
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    text = edit(text);
    ASSERT_LE(text.size(), size);
    text.resize(size, '\0');
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    write_bytes(path, bytes);
  }
  static std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  }
  static void patch(const std::string& path, const std::function<void(byte_vector&)>& change) {
    byte_vector bytes = read_bytes(path);
    change(bytes);
    write_bytes(path, bytes);
  }

  struct checked {
    bool ok = false;
    std::string report;
    std::vector<std::string> chain;
  };
  static checked check(const std::vector<std::string>& paths) {
    checked result;
    std::vector<uni::wide_string> chain;
    result.ok = storage::check_chain(wide(paths), result.report, chain);
    for (const auto& p : chain) result.chain.push_back(uni::wide_to_utf8(p));
    return result;
  }
  static bool opens(const std::vector<std::string>& paths) {
    return disk_reader(vmdk_chain_paths{wide(paths)}).is_open();
  }

  scratch_folder m_folder{"vmdk"};
};

const std::string cid_errors = "Child VMDK CID errors, aborting\n";
const std::string missing_parent = "Child VMDK points to a parent VMDK that doesn't exist, aborting\n";

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

TEST(VmdkRawView, OtherSubformats) {
  // monolithicFlat: the flat extent is the disk's bytes and is read as a
  // plain image (-mounted_vmdk); its text descriptor is no sparse extent.
  disk_reader flat(uni::to_wide(fixture("vmdk-flat-flat.vmdk")));
  ASSERT_TRUE(flat.is_open());
  EXPECT_EQ(digest_hex_of(read_view(flat, mib), true), raw_view_digests().at("vmdk-flat.vmdk"));

  // The text descriptors of monolithicFlat and twoGbMaxExtentSparse disks
  // name their extents; the chain reads through them.
  for (const std::string name : {"vmdk-flat.vmdk", "vmdk-two.vmdk"}) {
    disk_reader disk(vmdk_chain_paths{wide({fixture(name)})});
    ASSERT_TRUE(disk.is_open()) << name;
    EXPECT_EQ(digest_hex_of(read_view(disk, mib), true), raw_view_digests().at(name)) << name;
  }
  // A flat extent has no descriptor; a sparse extent of a split disk has
  // no content ids to place it in a chain (its empty content id equals its
  // empty parent content id).
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"vmdk-flat-flat.vmdk", fixture("vmdk-flat-flat.vmdk") + " can't be opened\n"},
      {"vmdk-two-s001.vmdk", cid_errors}};
  for (const auto& [name, report_text] : refused) {
    std::string report;
    std::vector<uni::wide_string> chain;
    EXPECT_FALSE(storage::check_chain(wide({fixture(name)}), report, chain));
    EXPECT_EQ(report, report_text);
    EXPECT_FALSE(disk_reader(vmdk_chain_paths{wide({fixture(name)})}).is_open()) << name;
  }
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
  length = 1;
  EXPECT_FALSE(disk.read(buffer.data(), length, size));
  length = 0;
  EXPECT_FALSE(disk.read(buffer.data(), length, 0));
  EXPECT_EQ(disk.read_at(size, buffer.data(), 16), 0);
  EXPECT_EQ(disk.read_at(size - 10, buffer.data(), 16), 10);

  EXPECT_FALSE(disk_reader(vmdk_chain_paths{}).is_open());
}

// ---------------------------------------------------------------------------

TEST_F(VmdkScratch, ChainsGivenInAnyOrder) {
  const std::vector<std::string> files = {copy("vmdk-chain-base.vmdk"), copy("vmdk-chain-child1.vmdk"),
                                          copy("vmdk-chain-child2.vmdk")};
  const std::string& expected = raw_view_digests().at("vmdk-chain-child2.vmdk");
  std::vector<std::size_t> order = {0, 1, 2};
  do {
    std::vector<std::string> paths;
    for (std::size_t i : order) paths.push_back(files[i]);
    const checked c = check(paths);
    EXPECT_TRUE(c.ok) << c.report;
    EXPECT_EQ(c.report, "");
    EXPECT_EQ(c.chain, paths);
    disk_reader disk(vmdk_chain_paths{wide(paths)});
    ASSERT_TRUE(disk.is_open());
    EXPECT_EQ(disk.narrow_path(), files[2]);
    EXPECT_EQ(digest_hex_of(read_view(disk, mib), true), expected);
  } while (std::next_permutation(order.begin(), order.end()));

  // The same file named twice is taken once.
  const checked twice = check({files[0], files[1], files[0]});
  EXPECT_TRUE(twice.ok) << twice.report;
  EXPECT_EQ(twice.chain, (std::vector<std::string>{files[0], files[1]}));
  EXPECT_TRUE(opens({files[1], files[0], files[1]}));
}

TEST_F(VmdkScratch, ParentsFoundThroughTheirHints) {
  const std::string base = copy("vmdk-chain-base.vmdk");
  const std::string child1 = copy("vmdk-chain-child1.vmdk");
  const std::string child2 = copy("vmdk-chain-child2.vmdk");

  // The newest snapshot alone: both parents sit next to it under the names
  // qemu-img put in the hints.
  checked c = check({child2});
  ASSERT_TRUE(c.ok) << c.report;
  EXPECT_EQ(c.report, "=> vmdk file: " + child2 + "\n depends on parent vmdk " + child1 + "\n=> vmdk file: " + child1 +
                          "\n depends on parent vmdk " + base + "\n");
  EXPECT_EQ(c.chain, (std::vector<std::string>{child2, child1, base}));
  disk_reader disk(vmdk_chain_paths{wide(c.chain)});
  ASSERT_TRUE(disk.is_open());
  EXPECT_EQ(digest_hex_of(read_view(disk, mib), true), raw_view_digests().at("vmdk-chain-child2.vmdk"));

  // Only the middle disk is missing.
  c = check({base, child2});
  ASSERT_TRUE(c.ok) << c.report;
  EXPECT_EQ(c.report, "=> vmdk file: " + child2 + "\n depends on parent vmdk " + child1 + "\n");
  EXPECT_EQ(c.chain, (std::vector<std::string>{base, child2, child1}));

  // A hint with a relative folder is taken from the snapshot's folder.
  const std::string moved = copy("vmdk-chain-base.vmdk", "parents/moved-base.vmdk");
  const std::string relative = copy("vmdk-chain-child1.vmdk", "snaps/relative.vmdk");
  edit_descriptor(relative, [](std::string text) {
    return replaced(text, "parentFileNameHint=\"vmdk-chain-base.vmdk\"",
                    "parentFileNameHint=\"../parents/moved-base.vmdk\"");
  });
  c = check({relative});
  ASSERT_TRUE(c.ok) << c.report;
  EXPECT_EQ(c.chain, (std::vector<std::string>{relative, m_folder.file("snaps/../parents/moved-base.vmdk")}));

  // A Windows host's hint: folders end at "\"; the folder does not exist
  // here, so the file of that name next to the snapshot is taken.
  const std::string windows = copy("vmdk-chain-child1.vmdk", "windows.vmdk");
  edit_descriptor(windows, [](std::string text) {
    text = replaced(text, "parentFileNameHint=\"vmdk-chain-base.vmdk\"",
                    "parentFileNameHint=\"D:\\VMs\\basic\\vmdk-chain-base.vmdk\"");
    return replaced(text, "version=1\n", "version=1\nencoding=\"windows-1252\"\n");
  });
  c = check({windows});
  ASSERT_TRUE(c.ok) << c.report;
  EXPECT_EQ(c.report, "=> vmdk file: " + windows + "\n depends on parent vmdk " + base + "\n");

  // Key names in any case, CR LF line ends.
  const std::string shouting = copy("vmdk-chain-child1.vmdk", "shouting.vmdk");
  edit_descriptor(shouting, [](std::string text) {
    text = replaced(text, "parentCID=", "PARENTcid=");
    text = replaced(text, "parentFileNameHint=", "PARENTFILENAMEHINT=");
    std::string crlf;
    for (char ch : text) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    return crlf;
  });
  c = check({shouting});
  ASSERT_TRUE(c.ok) << c.report;
  EXPECT_EQ(c.chain, (std::vector<std::string>{shouting, base}));
}

TEST_F(VmdkScratch, BrokenChainsAreRefusedWithTheirReport) {
  const std::string base = copy("vmdk-chain-base.vmdk");
  const std::string child1 = copy("vmdk-chain-child1.vmdk");
  struct refusal {
    std::string what;
    std::vector<std::string> paths;
    std::string report;
  };
  std::vector<refusal> refusals;

  // The parent is neither given nor where the hint says.
  const std::string orphan = copy("vmdk-chain-child1.vmdk", "alone/orphan.vmdk");
  refusals.push_back({"missing parent", {orphan}, missing_parent});
  const std::string no_hint = copy("vmdk-chain-child1.vmdk", "alone/no-hint.vmdk");
  edit_descriptor(no_hint, [](std::string text) { return replaced(text, "parentFileNameHint", "comment"); });
  refusals.push_back({"no hint", {no_hint}, missing_parent});

  // The parent was changed after the snapshot was taken: its content id is
  // no longer the one the snapshot names, given or found through the hint.
  const std::string changed = copy("vmdk-chain-base.vmdk", "changed/vmdk-chain-base.vmdk");
  edit_descriptor(changed, [](std::string text) { return replaced(text, "CID=00b45e01", "CID=00b45e99"); });
  const std::string changed_child = copy("vmdk-chain-child1.vmdk", "changed/child.vmdk");
  refusals.push_back({"parent content id", {changed_child}, cid_errors});
  refusals.push_back({"parent content id, both given", {changed, changed_child}, cid_errors});

  // A disk that names itself as its parent.
  const std::string self = copy("vmdk-chain-child1.vmdk", "self.vmdk");
  edit_descriptor(self, [](std::string text) { return replaced(text, "parentCID=00b45e01", "parentCID=0c41d001"); });
  refusals.push_back({"own parent", {self}, cid_errors});

  // Two different files with one content id.
  const std::string twin = copy("vmdk-chain-base.vmdk", "twin.vmdk");
  refusals.push_back({"twins", {base, twin, child1}, cid_errors});

  // Two snapshots of one base: not one line of disks.
  const std::string sibling = copy("vmdk-grain4k-child.vmdk");
  refusals.push_back({"siblings", {base, child1, sibling}, cid_errors});

  // A loop: the base names its own snapshot as its parent.
  const std::string loop_base = copy("vmdk-chain-base.vmdk", "loop/base.vmdk");
  const std::string loop_child = copy("vmdk-chain-child1.vmdk", "loop/child.vmdk");
  edit_descriptor(loop_base,
                  [](std::string text) { return replaced(text, "parentCID=ffffffff", "parentCID=0c41d001"); });
  refusals.push_back({"loop", {loop_base, loop_child}, cid_errors});

  // Two unrelated base disks.
  refusals.push_back({"two bases", {base, fixture("vmdk-mono.vmdk")}, cid_errors});

  const std::string missing_file = m_folder.file("none.vmdk");
  refusals.push_back({"no such file", {base, missing_file}, missing_file + " can't be opened\n"});

  for (const refusal& r : refusals) {
    const checked c = check(r.paths);
    EXPECT_FALSE(c.ok) << r.what;
    EXPECT_EQ(c.report, r.report) << r.what;
    EXPECT_TRUE(c.chain.empty()) << r.what;
    EXPECT_FALSE(opens(r.paths)) << r.what;
  }
  // Without the hint search disk_reader needs every disk of the chain.
  EXPECT_FALSE(opens({fixture("vmdk-chain-child2.vmdk"), fixture("vmdk-chain-base.vmdk")}));
  std::string report;
  std::vector<uni::wide_string> chain;
  EXPECT_FALSE(storage::check_chain({}, report, chain));
}

TEST_F(VmdkScratch, DamagedFilesAreRefusedOrReadAsZeros) {
  const byte_vector good = read_bytes(fixture("vmdk-mono.vmdk"));
  const std::uint64_t directory_sector = peek(good, directory_field, 8);
  const std::uint64_t overhead_sector = peek(good, overhead_field, 8);
  struct damage {
    std::string what;
    std::function<void(byte_vector&)> change;
  };
  const std::vector<damage> refused = {
      {"magic", [](byte_vector& b) { b[0] = 'X'; }},
      {"empty file", [](byte_vector& b) { b.clear(); }},
      {"header only", [](byte_vector& b) { b.resize(40); }},
      {"grain size 0", [](byte_vector& b) { poke(b, grain_field, 0, 8); }},
      {"grain size 2^40", [](byte_vector& b) { poke(b, grain_field, std::uint64_t{1} << 40, 8); }},
      {"grain size not a power of two", [](byte_vector& b) { poke(b, grain_field, 0x60006, 8); }},
      {"no table entries", [](byte_vector& b) { poke(b, entries_field, 0, 4); }},
      {"huge tables", [](byte_vector& b) { poke(b, entries_field, 0xffffffff, 4); }},
      {"capacity overflows", [](byte_vector& b) { poke(b, capacity_field, ~std::uint64_t{0}, 8); }},
      {"descriptor past the end",
       [](byte_vector& b) { poke(b, descriptor_offset_field, std::uint64_t{1} << 50, 8); }},
      {"descriptor too long", [](byte_vector& b) { poke(b, descriptor_size_field, ~std::uint64_t{0} / 2, 8); }},
      {"overhead past the end", [](byte_vector& b) { poke(b, overhead_field, ~std::uint64_t{0}, 8); }},
      {"directory past the overhead",
       [=](byte_vector& b) { poke(b, directory_field, overhead_sector, 8); }},
      {"directory at 0", [](byte_vector& b) { poke(b, directory_field, 0, 8); }},
      {"first table outside the overhead",
       [=](byte_vector& b) { poke(b, static_cast<std::size_t>(directory_sector * 512), overhead_sector + 5, 4); }},
      // A grain table that runs past the end of the file.
      {"truncated grain table",
       [=](byte_vector& b) {
         poke(b, static_cast<std::size_t>(directory_sector * 512 + 4), b.size() / 512 - 1, 4);
       }},
      {"cut inside the metadata",
       [=](byte_vector& b) { b.resize(static_cast<std::size_t>(overhead_sector * 512 - 700)); }},
  };
  for (const damage& d : refused) {
    const std::string path = m_folder.file("refused.vmdk");
    byte_vector bytes = good;
    d.change(bytes);
    write_bytes(path, bytes);
    const checked c = check({path});
    EXPECT_FALSE(c.ok) << d.what;
    EXPECT_EQ(c.report, path + " can't be opened\n") << d.what;
    EXPECT_FALSE(opens({path})) << d.what;
  }

  // A descriptor of random bytes names no content ids: the disk opens but
  // cannot be placed in a chain.
  const std::string garbage = copy("vmdk-mono.vmdk", "garbage.vmdk");
  patch(garbage, [](byte_vector& b) {
    std::uint32_t state = 12345;
    for (std::size_t i = 512; i < 21 * 512; ++i) {
      state = state * 1103515245 + 12345;
      b[i] = static_cast<std::uint8_t>((state >> 16) | 1);  // never NUL
    }
  });
  checked c = check({garbage});
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.report, cid_errors);
  EXPECT_FALSE(opens({garbage}));

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
