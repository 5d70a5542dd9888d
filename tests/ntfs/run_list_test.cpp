// Run-list decoding and cluster extents.
//
// Synthetic attributes are a 64-byte non-resident header followed by the
// run-list bytes under test. The real-volume cases use attribute bytes
// copied out of file records that mkntfs and ntfs-3g wrote (fixups applied),
// with the expected clusters taken from The Sleuth Kit's istat.
#include "ntfs/run_list.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/common/ntfs_record_builder.h"

using namespace testing_support;

namespace {

constexpr std::uint64_t k_u64_max = std::numeric_limits<std::uint64_t>::max();

ntfs::cluster_extent normal(std::uint64_t vcn, std::uint64_t lcn, std::uint32_t count) { return {lcn, vcn, 0, count}; }
ntfs::cluster_extent sparse(std::uint64_t vcn, std::uint32_t count) { return {0, vcn, 1, count}; }

std::string describe(const ntfs::extent_list& extents) {
  std::string text;
  for (const auto& e : extents) {
    text += "{vcn " + std::to_string(e.vcn) + " lcn " + std::to_string(e.lcn) + " count " + std::to_string(e.count) +
            (e.sparse ? " sparse" : "") + "} ";
  }
  return text;
}

// Decodes both ways (full runs then extents, and the direct fast path) and
// checks that they agree on the result and the extents.
struct decoded {
  bool ok = false;
  ntfs::data_run_list runs;
  ntfs::extent_list extents;
  std::string text;  // the extents, described
};

decoded decode_both(std::span<const std::uint8_t> attribute) {
  decoded out;
  out.ok = ntfs::decode_run_list(attribute, out.runs);
  ntfs::runs_to_extents(out.runs, out.extents);
  ntfs::extent_list direct{normal(7, 7, 7)};  // stale content must be cleared
  EXPECT_EQ(ntfs::decode_extents(attribute, direct), out.ok);
  out.text = describe(out.extents);
  EXPECT_EQ(describe(direct), out.text);
  return out;
}

TEST(RunListDecode, RunsAndMalformedListsAsTable) {
  struct test_case {
    const char* what;
    byte_vector runs;
    run_list_shape shape;
    std::size_t cut_to = 0;  // bytes handed over; 0: all
    bool ok;
    ntfs::extent_list extents;  // a malformed list keeps the runs before the bad entry
  };
  const std::uint8_t ff = 0xFF;
  const test_case cases[] = {
      {"one run, two-byte offset", {0x21, 0x18, 0x34, 0x56, 0x00}, {}, 0, true, {normal(0, 0x5634, 0x18)}},
      {"negative offset", {0x21, 0x18, 0x34, 0x56, 0x21, 0x10, 0xF0, 0xFF, 0x00}, {}, 0, true,
       {normal(0, 0x5634, 0x18), normal(0x18, 0x5624, 0x10)}},
      {"eight-byte fields sign-extend", {0x11, 0x02, 0x0A, 0x88, 0x05, 0, 0, 0, 0, 0, 0, 0, ff, ff, ff, ff, ff, ff,
                                          ff, ff, 0x00}, {}, 0, true, {normal(0, 10, 2), normal(2, 9, 5)}},
      // No offset field, then an offset field of 0: both sparse; +5 counts
      // from the last real LCN.
      {"sparse runs", {0x21, 0x18, 0x34, 0x56, 0x01, 0x08, 0x11, 0x04, 0x00, 0x11, 0x02, 0x05, 0x00}, {}, 0, true,
       {normal(0, 0x5634, 0x18), sparse(0x18, 8), sparse(0x20, 4), normal(0x24, 0x5639, 2)}},
      {"first run offset 0 is cluster 0 ($Boot)", {0x11, 0x02, 0x00, 0x00}, {}, 0, true, {normal(0, 0, 2)}},
      {"first run without offset is sparse", {0x01, 0x05, 0x00}, {}, 0, true, {sparse(0, 5)}},
      {"continuation from VCN 100", {0x11, 0x04, 0x20, 0x01, 0x03, 0x11, 0x02, 0x10, 0x00}, {.first_vcn = 100}, 0,
       true, {normal(100, 0x20, 4), sparse(104, 3), normal(107, 0x30, 2)}},
      {"ends at the declared length, no terminator", {0x11, 0x02, 0x05}, {.exact_length = true}, 0, true,
       {normal(0, 5, 2)}},
      {"count of 2^32 - 1", {0x14, ff, ff, ff, ff, 0x01, 0x00}, {}, 0, true, {normal(0, 1, 0xFFFFFFFF)}},
      // The fourth byte of the second entry is in the span but past the
      // declared length.
      {"entry past the declared length", {0x11, 0x02, 0x05, 0x21, 0x04, 0x01, 0x02, 0x00}, {.declared_length = 70}, 0,
       false, {normal(0, 5, 2)}},
      {"entry past the buffer", {0x11, 0x02, 0x05, 0x21, 0x04, 0x01, 0x02, 0x00}, {.declared_length = 80}, 70, false,
       {normal(0, 5, 2)}},
      {"buffer cut at an entry boundary", {0x11, 0x02, 0x05, 0x11, 0x01, 0x01, 0x00}, {}, 67, false,
       {normal(0, 5, 2)}},
      {"count field of 9 bytes", {0x11, 0x02, 0x05, 0x19, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {}, 0, false,
       {normal(0, 5, 2)}},
      {"offset field of 9 bytes", {0x11, 0x02, 0x05, 0x91, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {}, 0, false,
       {normal(0, 5, 2)}},
      {"run list offset past the end", {0x11, 0x02, 0x05, 0x00}, {.run_list_offset = 200}, 0, false, {}},
      {"run list offset into the header", {0x11, 0x02, 0x05, 0x00}, {.run_list_offset = 16}, 0, false, {}},
      {"header cut short", {0x11, 0x02, 0x05, 0x00}, {}, 33, false, {}},
      {"declared length 0", {0x11, 0x02, 0x05, 0x00}, {.declared_length = 0}, 0, false, {}},
      {"count of 2^32", {0x11, 0x02, 0x05, 0x15, 0, 0, 0, 0, 0x01, 0x01, 0x00}, {}, 0, false, {normal(0, 5, 2)}},
      {"VCN past 2^64 - 1", {0x11, 0x02, 0x05, 0x11, 0x02, 0x01, 0x00}, {.first_vcn = k_u64_max - 3}, 0, false,
       {normal(k_u64_max - 3, 5, 2)}},
      {"LCN 5 - 6", {0x11, 0x02, 0x05, 0x11, 0x01, 0xFA, 0x00}, {}, 0, false, {normal(0, 5, 2)}},
      {"LCN 5 - 256", {0x11, 0x02, 0x05, 0x21, 0x01, 0x00, 0xFF, 0x00}, {}, 0, false, {normal(0, 5, 2)}},
      {"first run before cluster 0", {0x21, 0x01, 0xFF, 0xFF, 0x00}, {}, 0, false, {}},
      // Two steps of 2^63 - 1 reach 2^64 - 2; one more cluster fits, +2 does not.
      {"LCN past 2^64 - 1", {0x81, 0x01, ff, ff, ff, ff, ff, ff, ff, 0x7F, 0x81, 0x01, ff, ff, ff, ff, ff, ff, ff,
                             0x7F, 0x11, 0x01, 0x02, 0x00}, {}, 0, false,
       {normal(0, k_u64_max / 2, 1), normal(1, k_u64_max - 1, 1)}},
      {"last cluster past 2^64 - 1", {0x81, 0x01, ff, ff, ff, ff, ff, ff, ff, 0x7F, 0x81, 0x02, ff, ff, ff, ff, ff,
                                      ff, ff, 0x7F, 0x00}, {}, 0, false, {normal(0, k_u64_max / 2, 1)}},
  };
  for (const auto& c : cases) {
    byte_vector attribute = non_resident_attribute(c.runs, c.shape);
    if (c.cut_to != 0) attribute.resize(c.cut_to);
    const decoded d = decode_both(attribute);
    EXPECT_EQ(d.ok, c.ok) << c.what;
    EXPECT_EQ(d.text, describe(c.extents)) << c.what;
  }
  EXPECT_FALSE(decode_both(byte_vector{}).ok);
}

TEST(RunListDecode, RunFieldsCursorAndReuse) {
  const auto d = decode_both(non_resident_attribute({0x21, 0x18, 0x34, 0x56, 0x21, 0x10, 0xF0, 0xFF, 0x01, 0x08}));
  ASSERT_TRUE(d.ok);
  ASSERT_EQ(d.runs.size(), 3u);
  const auto& run = d.runs[0];
  EXPECT_EQ(run.count, 0x18u);
  EXPECT_EQ(run.delta, 0x5634u);
  EXPECT_FALSE(run.negative);
  EXPECT_EQ(run.attribute_type, 0x80u);
  EXPECT_EQ(run.run_offset, 64u);
  EXPECT_EQ(run.raw_bytes, (byte_vector{0x21, 0x18, 0x34, 0x56}));
  EXPECT_EQ(run.next_bytes, (byte_vector{0x21, 0x10, 0xF0}));
  EXPECT_TRUE(run.has_offset_field);
  EXPECT_FALSE(run.resident);
  EXPECT_TRUE(d.runs[1].negative);
  EXPECT_EQ(d.runs[1].delta, 16u);
  EXPECT_EQ(d.runs[1].run_offset, 68u);
  EXPECT_FALSE(d.runs[2].has_offset_field);
  EXPECT_EQ(d.runs[2].next_bytes, (byte_vector{0x00, 0x00, 0x00}));
  // Next bytes stop at the declared length, though the span holds more.
  const auto padded = decode_both(non_resident_attribute({0x11, 0x02, 0x05, 0x00, 0xAA, 0xBB}, {.declared_length = 68}));
  EXPECT_TRUE(padded.ok && padded.runs.at(0).next_bytes.empty());

  const auto attribute = non_resident_attribute({0x21, 0x18, 0x34, 0x56, 0x01, 0x08, 0x00});
  ntfs::run_list_cursor cursor(attribute);
  ntfs::data_run_view view;
  ASSERT_TRUE(cursor.next(view));
  EXPECT_EQ(view.raw_bytes.data(), attribute.data() + 64);
  ASSERT_TRUE(cursor.next(view));
  EXPECT_EQ(view.index, 1u);
  EXPECT_EQ(view.raw_bytes.size(), 2u);
  EXPECT_FALSE(cursor.next(view));
  EXPECT_FALSE(cursor.next(view));
  EXPECT_FALSE(cursor.malformed());

  ntfs::extent_list extents;
  extents.reserve(64);
  const auto* storage = extents.data();
  ASSERT_TRUE(ntfs::decode_extents(attribute, extents));
  EXPECT_EQ(extents.data(), storage);

  ntfs::data_run marker;
  marker.delta = k_u64_max;
  marker.resident = true;
  ntfs::runs_to_extents({marker}, extents);
  EXPECT_TRUE(extents.empty());
}

TEST(RunListDecode, RandomBytesNeverEscapeTheAttribute) {
  // The sanitizer build catches any read outside the buffer, decode_both any
  // disagreement between the two decoding paths.
  std::mt19937 random(20240611);
  for (int round = 0; round < 20000; ++round) {
    byte_vector runs(random() % 40);
    for (auto& b : runs) b = static_cast<std::uint8_t>(random());
    run_list_shape shape{.first_vcn = (round % 3 == 0) ? k_u64_max - random() % 64 : random() % 64,
                         .exact_length = true};
    auto attribute = non_resident_attribute(runs, shape);
    if (round % 5 == 0) poke(attribute, 4, random() % 120, 4);
    if (round % 7 == 0) poke(attribute, 32, 60 + random() % 50, 2);
    attribute.resize(attribute.size() - random() % 4 * (round % 2));
    const auto d = decode_both(attribute);
    std::uint64_t vcn = d.runs.empty() ? 0 : d.runs[0].vcn;
    for (const auto& run : d.runs) {
      ASSERT_EQ(run.vcn, vcn);
      ASSERT_LE(run.run_offset + run.raw_bytes.size(), attribute.size());
      vcn += run.count;
    }
  }
}

TEST(RunListExtents, MergeDropSparseAndByteSize) {
  ntfs::extent_list target{normal(100, 500, 50)};
  ntfs::merge_extents(target, {normal(0, 200, 100)});  // arriving in reverse order
  EXPECT_EQ(describe(target), describe({normal(0, 200, 100), normal(100, 500, 50)}));
  // The first extent for a VCN is kept.
  target = {normal(40, 1, 10), normal(0, 2, 40)};
  ntfs::merge_extents(target, {normal(40, 99, 10), sparse(50, 5), normal(50, 98, 5), normal(0, 97, 1)});
  ntfs::merge_extents(target, target);
  EXPECT_EQ(describe(target), describe({normal(0, 2, 40), normal(40, 1, 10), sparse(50, 5)}));
  // Enough extents that the sort is not a simple insertion sort.
  target.clear();
  ntfs::extent_list more;
  for (std::uint32_t i = 0; i < 200; ++i) {
    target.push_back(normal((i * 7919) % 200, 1000 + (i * 7919) % 200, 1));
    more.push_back(normal(199 - i, 5000 + i, 1));
    more.push_back(normal(200 + i, 9000 + i, 1));
  }
  ntfs::merge_extents(target, more);
  ASSERT_EQ(target.size(), 400u);
  for (std::uint32_t v = 0; v < 400; ++v) ASSERT_EQ(target[v].lcn, v < 200 ? 1000 + v : 9000 + (v - 200)) << v;

  ntfs::extent_list extents{normal(15, 200, 3), sparse(10, 5), normal(0, 100, 10), sparse(18, 2), normal(20, 50, 4)};
  ntfs::drop_sparse_extents(extents);
  EXPECT_EQ(describe(extents), describe({normal(0, 100, 10), normal(10, 200, 3), normal(13, 50, 4)}));
  extents = {sparse(0, 4), sparse(4, 4)};
  ntfs::drop_sparse_extents(extents);
  EXPECT_TRUE(extents.empty());

  const ntfs::extent_list holes{normal(0, 100, 10), sparse(10, 5), normal(15, 7, 1)};
  EXPECT_EQ(ntfs::extents_byte_size(holes, 4096, false), 16u * 4096);
  EXPECT_EQ(ntfs::extents_byte_size(holes, 4096, true), 11u * 4096);
  const ntfs::extent_list huge{normal(0, 1, 0xFFFFFFFF), normal(0xFFFFFFFF, 1, 0xFFFFFFFF)};
  // (2^33 - 2) clusters of 2^31 bytes is just under 2^64; of 2^32 bytes it saturates.
  EXPECT_EQ(ntfs::extents_byte_size(huge, std::uint64_t{1} << 31, false), std::uint64_t{0x1FFFFFFFE} << 31);
  EXPECT_EQ(ntfs::extents_byte_size(huge, std::uint64_t{1} << 32, false), k_u64_max);
}

TEST(RunListVcnToLcn, NormalSparseGapsOverlapsAndTheTop) {
  // Clusters 0-9 at 100, 10-14 sparse, 15-19 missing, 20-23 at 50; then
  // overlapping extents, where the first covering one wins, and LCNs at the top.
  const ntfs::extent_list extents{normal(0, 100, 10), sparse(10, 5), normal(20, 50, 4)};
  const ntfs::extent_list overlapping{normal(0, 100, 10), normal(5, 900, 10)};
  const ntfs::extent_list near_top{normal(k_u64_max - 2, k_u64_max - 1, 2)};
  const ntfs::extent_list wrapping{normal(0, k_u64_max, 4)};
  struct test_case {
    const ntfs::extent_list* list;
    std::uint64_t vcn;
    bool found;
    std::size_t index;
    std::uint64_t lcn;
  };
  const test_case cases[] = {
      {&extents, 0, true, 0, 100},           {&extents, 9, true, 0, 109},      {&extents, 10, true, 1, 0},
      {&extents, 23, true, 2, 53},           {&extents, 15, false, 0, 0},      {&extents, 19, false, 0, 0},
      {&extents, 24, false, 0, 0},           {&extents, k_u64_max, false, 0, 0}, {&overlapping, 7, true, 0, 107},
      {&overlapping, 12, true, 1, 907},      {&near_top, k_u64_max - 2, true, 0, k_u64_max - 1},
      {&wrapping, 2, false, 0, 0},
  };
  for (const auto& c : cases) {
    std::size_t index = 99;
    std::uint64_t lcn = 99;
    ASSERT_EQ(ntfs::vcn_to_lcn(*c.list, c.vcn, index, lcn), c.found) << c.vcn;
    EXPECT_EQ(lcn, c.lcn) << c.vcn;
    if (c.found) EXPECT_EQ(index, c.index) << c.vcn;
  }
  std::size_t index = 0;
  std::uint64_t lcn = 0;
  EXPECT_FALSE(ntfs::vcn_to_lcn({}, 0, index, lcn));
}

// A 16 MiB volume with 4096-byte clusters made by mkntfs, written through the
// ntfs-3g driver, then read with istat. Each attribute is the complete $DATA
// copied out of its file record; the expected extents are istat's cluster
// list with consecutive clusters collapsed and its 0 entries as sparse.
TEST(RunListRealVolume, AttributesMatchIstat) {
  // A file filling the holes one cluster at a time (one-, two- and
  // three-byte offsets, several negative, slack after the terminator); a
  // file written tail first with holes between; $Boot (11 02 00: offset 0
  // on the first run); $BadClus:$Bad (02 FF 0F: one sparse run over the
  // volume, no offset field).
  const std::string fragmented =
      "800000008000000001004000000002000000000000000000710d000000000000"
      "40000000000000000020d700000000000020d700000000000020d70000000000"
      "22e705180a22960551f811039721010008110102110102110102110102110102"
      "11010211010211010211010211010211010222e50105f61101e800e50105f611";
  const std::pair<std::string, ntfs::extent_list> cases[] = {
      {fragmented,
       {normal(0, 2584, 1511), normal(1511, 617, 1430), normal(2941, 512, 3), normal(2944, 2560, 1),
        normal(2945, 2562, 1), normal(2946, 2564, 1), normal(2947, 2566, 1), normal(2948, 2568, 1),
        normal(2949, 2570, 1), normal(2950, 2572, 1), normal(2951, 2574, 1), normal(2952, 2576, 1),
        normal(2953, 2578, 1), normal(2954, 2580, 1), normal(2955, 2582, 1), normal(2956, 27, 485),
        normal(3441, 3, 1)}},
      {"8000000058000000010048000080020000000000000000004b00000000000000"
       "480004000000000000c0040000000000e0b3040000000000e0b3040000000000"
       "0050010000000000210ae301011a1108f8011d1103fd0000",
       {normal(0, 483, 10), sparse(10, 26), normal(36, 475, 8), sparse(44, 29), normal(73, 472, 3)}},
      {"8000000048000000010040000000010000000000000000000100000000000000"
       "4000000000000000002000000000000000200000000000000020000000000000"
       "1102000000000000",
       {normal(0, 0, 2)}},
      {"800000005000000001044000000001000000000000000000fe0f000000000000"
       "480000000000000000f0ff000000000000f0ff00000000000000000000000000"
       "240042006100640002ff0f0000000000",
       {sparse(0, 4095)}},
  };
  for (const auto& [hex, from_istat] : cases) {
    const decoded d = decode_both(from_hex(hex));
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.text, describe(from_istat));
  }
  // Cutting a real attribute anywhere yields a prefix of its runs; only a
  // cut inside the slack after the terminator still decodes fully.
  const byte_vector attribute = from_hex(fragmented);
  const decoded full = decode_both(attribute);
  for (std::size_t size = 0; size <= attribute.size(); ++size) {
    const decoded d = decode_both(std::span<const std::uint8_t>(attribute).first(size));
    ASSERT_LE(d.extents.size(), full.extents.size());
    EXPECT_EQ(d.text, describe(ntfs::extent_list(full.extents.begin(), full.extents.begin() + d.extents.size())));
    EXPECT_EQ(d.ok, size >= 64 + 59) << size;
  }
}

}  // namespace
