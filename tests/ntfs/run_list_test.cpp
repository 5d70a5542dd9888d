// Run-list decoding and cluster extents.
//
// Synthetic attributes are a 64-byte non-resident header followed by the
// run-list bytes under test. The RunListRealVolume cases use attribute bytes
// copied out of file records that mkntfs and ntfs-3g wrote (fixups applied),
// with the expected clusters taken from The Sleuth Kit's istat.
#include "ntfs/run_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t k_u64_max = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint32_t k_data_type = 0x80;

void put_le(bytes& out, std::size_t offset, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

struct attribute_shape {
  std::uint64_t first_vcn = 0;
  std::uint16_t run_list_offset = 64;
  // Declared attribute length; 0 = header plus run list, rounded up to 8.
  std::uint32_t declared_length = 0;
  bool exact_length = false;  // declare header + run list with no padding
};

bytes make_attribute(const bytes& run_list, attribute_shape shape = {}) {
  std::size_t length = 64 + run_list.size();
  if (!shape.exact_length) length = (length + 7) / 8 * 8;
  bytes out(length, 0);
  put_le(out, 0, k_data_type, 4);
  put_le(out, 4, shape.declared_length != 0 ? shape.declared_length : length, 4);
  out[8] = 1;  // non-resident
  put_le(out, 16, shape.first_vcn, 8);
  put_le(out, 32, shape.run_list_offset, 2);
  for (std::size_t i = 0; i < run_list.size(); ++i) out[64 + i] = run_list[i];
  return out;
}

bytes from_hex(std::string_view hex) {
  bytes out;
  auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
  }
  return out;
}

ntfs::cluster_extent normal(std::uint64_t vcn, std::uint64_t lcn, std::uint32_t count) {
  return {lcn, vcn, 0, count};
}
ntfs::cluster_extent sparse(std::uint64_t vcn, std::uint32_t count) { return {0, vcn, 1, count}; }

bool same(const ntfs::extent_list& a, const ntfs::extent_list& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].lcn != b[i].lcn || a[i].vcn != b[i].vcn || a[i].sparse != b[i].sparse || a[i].count != b[i].count) {
      return false;
    }
  }
  return true;
}

std::string describe(const ntfs::extent_list& extents) {
  std::string text;
  for (const auto& e : extents) {
    text += "{vcn " + std::to_string(e.vcn) + " lcn " + std::to_string(e.lcn) + " count " +
            std::to_string(e.count) + (e.sparse ? " sparse" : "") + "} ";
  }
  return text;
}

// Decodes both ways (full runs then extents, and the direct fast path) and
// checks that they agree on the result and the extents.
struct decoded {
  bool ok = false;
  ntfs::data_run_list runs;
  ntfs::extent_list extents;
};

decoded decode_both(const bytes& attribute) {
  decoded out;
  out.ok = ntfs::decode_run_list(attribute, out.runs);
  ntfs::runs_to_extents(out.runs, out.extents);
  ntfs::extent_list direct{normal(7, 7, 7)};  // stale content must be cleared
  const bool direct_ok = ntfs::decode_extents(attribute, direct);
  EXPECT_EQ(direct_ok, out.ok);
  EXPECT_TRUE(same(direct, out.extents)) << describe(direct) << "vs " << describe(out.extents);
  return out;
}

// --- Decoding --------------------------------------------------------------

TEST(RunListDecode, SingleRunWithTwoByteOffset) {
  const auto attribute = make_attribute({0x21, 0x18, 0x34, 0x56, 0x00});
  const auto d = decode_both(attribute);
  ASSERT_TRUE(d.ok);
  ASSERT_EQ(d.runs.size(), 1u);
  const auto& run = d.runs[0];
  EXPECT_EQ(run.count, 0x18u);
  EXPECT_EQ(run.lcn, 0x5634u);
  EXPECT_EQ(run.delta, 0x5634u);
  EXPECT_FALSE(run.negative);
  EXPECT_EQ(run.vcn, 0u);
  EXPECT_EQ(run.attribute_type, k_data_type);
  EXPECT_EQ(run.run_offset, 64u);
  EXPECT_EQ(run.raw_bytes, (bytes{0x21, 0x18, 0x34, 0x56}));
  EXPECT_EQ(run.next_bytes, (bytes{0x00, 0x00, 0x00}));
  EXPECT_TRUE(run.has_offset_field);
  EXPECT_FALSE(run.resident);
  EXPECT_TRUE(same(d.extents, {normal(0, 0x5634, 0x18)}));
}

TEST(RunListDecode, NegativeOffsetMovesBackwards) {
  // Second run: one-byte count 0x10, two-byte offset 0xFFF0 = -16.
  const auto d = decode_both(make_attribute({0x21, 0x18, 0x34, 0x56, 0x21, 0x10, 0xF0, 0xFF, 0x00}));
  ASSERT_TRUE(d.ok);
  ASSERT_EQ(d.runs.size(), 2u);
  EXPECT_TRUE(d.runs[1].negative);
  EXPECT_EQ(d.runs[1].delta, 16u);
  EXPECT_EQ(d.runs[1].lcn, 0x5634u - 16);
  EXPECT_EQ(d.runs[1].vcn, 0x18u);
  EXPECT_EQ(d.runs[1].run_offset, 68u);
  EXPECT_EQ(d.runs[0].next_bytes, (bytes{0x21, 0x10, 0xF0}));
  EXPECT_TRUE(same(d.extents, {normal(0, 0x5634, 0x18), normal(0x18, 0x5624, 0x10)}));
}

TEST(RunListDecode, EightByteFieldsSignExtendAtFullWidth) {
  // LCN 10, then an eight-byte count of 5 and an eight-byte offset of -1.
  const auto d = decode_both(make_attribute({0x11, 0x02, 0x0A,                                //
                                             0x88, 0x05, 0, 0, 0, 0, 0, 0, 0,                 //
                                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  //
                                             0x00}));
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(same(d.extents, {normal(0, 10, 2), normal(2, 9, 5)})) << describe(d.extents);
  EXPECT_TRUE(d.runs[1].negative);
  EXPECT_EQ(d.runs[1].delta, 1u);
}

TEST(RunListDecode, SparseRunsWithoutAndWithZeroOffset) {
  const auto d = decode_both(make_attribute({
      0x21, 0x18, 0x34, 0x56,  // 0x18 clusters at 0x5634
      0x01, 0x08,              // no offset field: 8 sparse clusters
      0x11, 0x04, 0x00,        // offset field present but 0: 4 sparse clusters
      0x11, 0x02, 0x05,        // +5 from the last real LCN, 0x5634
      0x00}));
  ASSERT_TRUE(d.ok);
  ASSERT_EQ(d.runs.size(), 4u);
  EXPECT_FALSE(d.runs[1].has_offset_field);
  EXPECT_TRUE(d.runs[2].has_offset_field);
  EXPECT_EQ(d.runs[2].delta, 0u);
  EXPECT_EQ(d.runs[3].lcn, 0x5639u);
  EXPECT_TRUE(same(d.extents, {normal(0, 0x5634, 0x18), sparse(0x18, 8), sparse(0x20, 4), normal(0x24, 0x5639, 2)}))
      << describe(d.extents);
}

TEST(RunListDecode, ZeroOffsetOnFirstRunIsClusterZeroUnlessFieldAbsent) {
  // First run with an offset field holding 0: clusters 0 and 1 (as $Boot).
  EXPECT_TRUE(same(decode_both(make_attribute({0x11, 0x02, 0x00, 0x00})).extents, {normal(0, 0, 2)}));
  // First run without an offset field: sparse.
  EXPECT_TRUE(same(decode_both(make_attribute({0x01, 0x05, 0x00})).extents, {sparse(0, 5)}));
}

TEST(RunListDecode, VcnsStartAtTheAttributesFirstVcn) {
  // A continuation of an attribute in an extension record starts at VCN 100.
  attribute_shape shape;
  shape.first_vcn = 100;
  const auto d = decode_both(make_attribute({0x11, 0x04, 0x20, 0x01, 0x03, 0x11, 0x02, 0x10, 0x00}, shape));
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(same(d.extents, {normal(100, 0x20, 4), sparse(104, 3), normal(107, 0x30, 2)})) << describe(d.extents);
}

TEST(RunListDecode, ListMayEndAtTheDeclaredLengthWithoutTerminator) {
  attribute_shape shape;
  shape.exact_length = true;
  const auto d = decode_both(make_attribute({0x11, 0x02, 0x05}, shape));
  EXPECT_TRUE(d.ok);
  EXPECT_TRUE(same(d.extents, {normal(0, 5, 2)}));
  EXPECT_TRUE(d.runs[0].next_bytes.empty());
}

TEST(RunListDecode, NextBytesStopAtTheDeclaredLength) {
  // Declared length ends one byte after the entry; the span holds more.
  attribute_shape shape;
  shape.declared_length = 64 + 4;
  const auto d = decode_both(make_attribute({0x11, 0x02, 0x05, 0x00, 0xAA, 0xBB, 0xCC}, shape));
  ASSERT_TRUE(d.ok);
  ASSERT_EQ(d.runs.size(), 1u);
  EXPECT_TRUE(d.runs[0].next_bytes.empty());
}

TEST(RunListDecode, CursorWalksWithoutCopying) {
  const auto attribute = make_attribute({0x21, 0x18, 0x34, 0x56, 0x01, 0x08, 0x00});
  ntfs::run_list_cursor cursor(attribute);
  ntfs::data_run_view view;
  ASSERT_TRUE(cursor.next(view));
  EXPECT_EQ(view.raw_bytes.data(), attribute.data() + 64);
  EXPECT_EQ(view.index, 0u);
  ASSERT_TRUE(cursor.next(view));
  EXPECT_EQ(view.index, 1u);
  EXPECT_EQ(view.raw_bytes.size(), 2u);
  EXPECT_FALSE(cursor.next(view));
  EXPECT_FALSE(cursor.next(view));
  EXPECT_FALSE(cursor.malformed());
  EXPECT_EQ(cursor.attribute_type(), k_data_type);
}

TEST(RunListDecode, DecodeExtentsReusesCapacity) {
  ntfs::extent_list extents;
  extents.reserve(64);
  const auto* storage = extents.data();
  ASSERT_TRUE(ntfs::decode_extents(make_attribute({0x21, 0x18, 0x34, 0x56, 0x00}), extents));
  ASSERT_TRUE(ntfs::decode_extents(make_attribute({0x11, 0x01, 0x05, 0x01, 0x02, 0x00}), extents));
  EXPECT_EQ(extents.size(), 2u);
  EXPECT_EQ(extents.data(), storage);
  EXPECT_GE(extents.capacity(), 64u);
}

TEST(RunListDecode, ResidentMarkerProducesNoExtent) {
  ntfs::data_run marker;
  marker.delta = k_u64_max;
  marker.resident = true;
  marker.resident_length = 72;
  ntfs::extent_list extents;
  ntfs::runs_to_extents({marker}, extents);
  EXPECT_TRUE(extents.empty());
}

// --- Malformed input -------------------------------------------------------
// Each case keeps the runs decoded before the bad entry and reports failure.

TEST(RunListMalformed, EntryRunningPastTheDeclaredLength) {
  // The second entry needs 4 bytes; the declared length leaves 3. The span
  // itself holds the fourth byte, which must not be read.
  attribute_shape shape;
  shape.declared_length = 64 + 6;
  const auto d = decode_both(make_attribute({0x11, 0x02, 0x05, 0x21, 0x04, 0x01, 0x02, 0x00}, shape));
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(same(d.extents, {normal(0, 5, 2)}));
}

TEST(RunListMalformed, EntryRunningPastTheBuffer) {
  // Declared length says 80 bytes; only 70 were handed over.
  auto attribute = make_attribute({0x11, 0x02, 0x05, 0x21, 0x04, 0x01, 0x02, 0x00});
  put_le(attribute, 4, 80, 4);
  attribute.resize(64 + 6);
  const auto d = decode_both(attribute);
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(same(d.extents, {normal(0, 5, 2)}));
}

TEST(RunListMalformed, BufferCutAtAnEntryBoundary) {
  // The caller's buffer ends right after a whole entry, before the declared
  // end: the list was cut, not finished.
  auto attribute = make_attribute({0x11, 0x02, 0x05, 0x11, 0x01, 0x01, 0x00});
  attribute.resize(64 + 3);
  const auto d = decode_both(attribute);
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(same(d.extents, {normal(0, 5, 2)}));
}

TEST(RunListMalformed, FieldWiderThanEightBytes) {
  bytes count_too_wide{0x11, 0x02, 0x05, 0x19};
  count_too_wide.resize(count_too_wide.size() + 10, 0x01);
  bytes offset_too_wide{0x11, 0x02, 0x05, 0x91, 0x01};
  offset_too_wide.resize(offset_too_wide.size() + 9, 0x01);
  for (const auto& run_list : {count_too_wide, offset_too_wide}) {
    const auto d = decode_both(make_attribute(run_list));
    EXPECT_FALSE(d.ok);
    EXPECT_TRUE(same(d.extents, {normal(0, 5, 2)})) << describe(d.extents);
  }
}

TEST(RunListMalformed, RunListOffsetOutsideTheRunListArea) {
  attribute_shape past_end;
  past_end.run_list_offset = 200;
  attribute_shape into_header;
  into_header.run_list_offset = 16;
  for (const auto& shape : {past_end, into_header}) {
    const auto d = decode_both(make_attribute({0x11, 0x02, 0x05, 0x00}, shape));
    EXPECT_FALSE(d.ok);
    EXPECT_TRUE(d.runs.empty());
  }
}

TEST(RunListMalformed, EmptyOrTruncatedHeader) {
  EXPECT_FALSE(decode_both(bytes{}).ok);
  auto attribute = make_attribute({0x11, 0x02, 0x05, 0x00});
  EXPECT_FALSE(decode_both(bytes(attribute.begin(), attribute.begin() + 33)).ok);
  put_le(attribute, 4, 0, 4);  // declared length 0
  const auto d = decode_both(attribute);
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(d.runs.empty());
}

TEST(RunListMalformed, CountsBeyondThirtyTwoBits) {
  // 0xFFFFFFFF clusters still fit the count field ...
  EXPECT_TRUE(same(decode_both(make_attribute({0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00})).extents,
                   {normal(0, 1, 0xFFFFFFFF)}));
  // ... 2^32 does not.
  const auto d = decode_both(make_attribute({0x11, 0x02, 0x05, 0x15, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00}));
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(same(d.extents, {normal(0, 5, 2)}));
}

TEST(RunListMalformed, VcnPastTheEndOfTheRange) {
  attribute_shape shape;
  shape.first_vcn = k_u64_max - 3;
  const auto d = decode_both(make_attribute({0x11, 0x02, 0x05, 0x11, 0x02, 0x01, 0x00}, shape));
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(same(d.extents, {normal(k_u64_max - 3, 5, 2)}));
}

TEST(RunListMalformed, LcnBelowZero) {
  // 5 - 6 would wrap to 2^64 - 1, 5 - 256 to 2^64 - 251.
  for (const auto& run_list : {bytes{0x11, 0x02, 0x05, 0x11, 0x01, 0xFA, 0x00},
                               bytes{0x11, 0x02, 0x05, 0x21, 0x01, 0x00, 0xFF, 0x00}}) {
    const auto d = decode_both(make_attribute(run_list));
    EXPECT_FALSE(d.ok);
    EXPECT_TRUE(same(d.extents, {normal(0, 5, 2)}));
  }
  // The very first run cannot lie before cluster 0.
  const auto d = decode_both(make_attribute({0x21, 0x01, 0xFF, 0xFF, 0x00}));
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(d.runs.empty());
}

TEST(RunListMalformed, LcnPastTheTopOfTheRange) {
  // Two steps of 2^63 - 1 reach 2^64 - 2; one more cluster fits, +2 does not.
  const auto d = decode_both(make_attribute({0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F,  //
                                             0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F,  //
                                             0x11, 0x01, 0x02, 0x00}));
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(same(d.extents, {normal(0, k_u64_max / 2, 1), normal(1, k_u64_max - 1, 1)})) << describe(d.extents);
  // A run whose last cluster would pass 2^64 - 1.
  const auto e = decode_both(make_attribute({0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F,  //
                                             0x81, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F,  //
                                             0x00}));
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.extents.size(), 1u);
}

TEST(RunListMalformed, RandomBytesNeverEscapeTheAttribute) {
  // Random run lists, declared lengths and offsets; the sanitizer build
  // catches any read outside the buffer, decode_both any disagreement
  // between the two decoding paths.
  std::mt19937 random(20240611);
  for (int round = 0; round < 20000; ++round) {
    bytes run_list(random() % 40);
    for (auto& b : run_list) b = static_cast<std::uint8_t>(random());
    attribute_shape shape;
    shape.first_vcn = (round % 3 == 0) ? k_u64_max - random() % 64 : random() % 64;
    shape.exact_length = true;
    auto attribute = make_attribute(run_list, shape);
    if (round % 5 == 0) put_le(attribute, 4, random() % 120, 4);
    if (round % 7 == 0) put_le(attribute, 32, 60 + random() % 50, 2);
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

// --- Extent lists ----------------------------------------------------------

TEST(RunListExtents, MergeArrivingInReverseOrder) {
  ntfs::extent_list target{normal(100, 500, 50)};
  ntfs::merge_extents(target, {normal(0, 200, 100)});
  EXPECT_TRUE(same(target, {normal(0, 200, 100), normal(100, 500, 50)})) << describe(target);
}

TEST(RunListExtents, MergeKeepsTheFirstExtentForAVcn) {
  ntfs::extent_list target{normal(40, 1, 10), normal(0, 2, 40)};
  ntfs::merge_extents(target, {normal(40, 99, 10), sparse(50, 5), normal(50, 98, 5), normal(0, 97, 1)});
  EXPECT_TRUE(same(target, {normal(0, 2, 40), normal(40, 1, 10), sparse(50, 5)})) << describe(target);
  ntfs::merge_extents(target, target);
  EXPECT_TRUE(same(target, {normal(0, 2, 40), normal(40, 1, 10), sparse(50, 5)})) << describe(target);
}

TEST(RunListExtents, MergeOfManyDuplicatesKeepsEveryExistingExtent) {
  // Enough extents that the sort is not a simple insertion sort.
  ntfs::extent_list target;
  ntfs::extent_list more;
  for (std::uint32_t i = 0; i < 200; ++i) {
    target.push_back(normal((i * 7919) % 200, 1000 + (i * 7919) % 200, 1));
    more.push_back(normal(199 - i, 5000 + i, 1));
    more.push_back(normal(200 + i, 9000 + i, 1));
  }
  ntfs::merge_extents(target, more);
  ASSERT_EQ(target.size(), 400u);
  for (std::uint32_t v = 0; v < 400; ++v) {
    EXPECT_EQ(target[v].vcn, v);
    EXPECT_EQ(target[v].lcn, v < 200 ? 1000 + v : 9000 + (v - 200)) << v;
  }
}

TEST(RunListExtents, DropSparseRenumbersFromZero) {
  ntfs::extent_list extents{normal(15, 200, 3), sparse(10, 5), normal(0, 100, 10), sparse(18, 2), normal(20, 50, 4)};
  ntfs::drop_sparse_extents(extents);
  EXPECT_TRUE(same(extents, {normal(0, 100, 10), normal(10, 200, 3), normal(13, 50, 4)})) << describe(extents);
  ntfs::extent_list all_sparse{sparse(0, 4), sparse(4, 4)};
  ntfs::drop_sparse_extents(all_sparse);
  EXPECT_TRUE(all_sparse.empty());
}

TEST(RunListExtents, ByteSizeWithAndWithoutSparseClusters) {
  const ntfs::extent_list extents{normal(0, 100, 10), sparse(10, 5), normal(15, 7, 1)};
  EXPECT_EQ(ntfs::extents_byte_size(extents, 4096, false), 16u * 4096);
  EXPECT_EQ(ntfs::extents_byte_size(extents, 4096, true), 11u * 4096);
  EXPECT_EQ(ntfs::extents_byte_size({}, 4096, false), 0u);
}

TEST(RunListExtents, ByteSizeSaturatesInsteadOfWrapping) {
  const ntfs::extent_list extents{normal(0, 1, 0xFFFFFFFF), normal(0xFFFFFFFF, 1, 0xFFFFFFFF)};
  // (2^33 - 2) clusters of 2^31 bytes is just under 2^64: exact.
  EXPECT_EQ(ntfs::extents_byte_size(extents, std::uint64_t{1} << 31, false),
            (std::uint64_t{0x1FFFFFFFE}) << 31);
  // Of 2^32 bytes it is not: saturated.
  EXPECT_EQ(ntfs::extents_byte_size(extents, std::uint64_t{1} << 32, false), k_u64_max);
}

// --- VCN to LCN ------------------------------------------------------------

TEST(RunListVcnToLcn, NormalSparseAndGaps) {
  // Clusters 0-9 at 100, 10-14 sparse, 15-19 missing, 20-23 at 50.
  const ntfs::extent_list extents{normal(0, 100, 10), sparse(10, 5), normal(20, 50, 4)};
  std::size_t index = 99;
  std::uint64_t lcn = 99;
  ASSERT_TRUE(ntfs::vcn_to_lcn(extents, 0, index, lcn));
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(lcn, 100u);
  ASSERT_TRUE(ntfs::vcn_to_lcn(extents, 9, index, lcn));
  EXPECT_EQ(lcn, 109u);
  lcn = 99;
  ASSERT_TRUE(ntfs::vcn_to_lcn(extents, 10, index, lcn));
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(lcn, 0u);
  ASSERT_TRUE(ntfs::vcn_to_lcn(extents, 23, index, lcn));
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(lcn, 53u);
  for (std::uint64_t missing : {std::uint64_t{15}, std::uint64_t{19}, std::uint64_t{24}, k_u64_max}) {
    EXPECT_FALSE(ntfs::vcn_to_lcn(extents, missing, index, lcn)) << missing;
    EXPECT_EQ(lcn, 0u);
  }
  EXPECT_FALSE(ntfs::vcn_to_lcn({}, 0, index, lcn));
}

TEST(RunListVcnToLcn, FirstCoveringExtentWinsAndLcnNeverWraps) {
  const ntfs::extent_list overlapping{normal(0, 100, 10), normal(5, 900, 10)};
  std::size_t index = 0;
  std::uint64_t lcn = 0;
  ASSERT_TRUE(ntfs::vcn_to_lcn(overlapping, 7, index, lcn));
  EXPECT_EQ(lcn, 107u);
  ASSERT_TRUE(ntfs::vcn_to_lcn(overlapping, 12, index, lcn));
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(lcn, 907u);
  const ntfs::extent_list near_top{normal(k_u64_max - 2, k_u64_max - 1, 2)};
  ASSERT_TRUE(ntfs::vcn_to_lcn(near_top, k_u64_max - 2, index, lcn));
  EXPECT_EQ(lcn, k_u64_max - 1);
  EXPECT_FALSE(ntfs::vcn_to_lcn({normal(0, k_u64_max, 4)}, 2, index, lcn));
}

// --- Real volume -----------------------------------------------------------
// A 16 MiB volume with 4096-byte clusters made by mkntfs, written through the
// ntfs-3g driver, unmounted, then read with The Sleuth Kit 4.11 (istat). Each
// fixture is the complete $DATA attribute copied out of its file record; the
// expected clusters are istat's cluster list with consecutive clusters
// collapsed into (vcn, lcn, count) runs and its 0 entries as sparse.

// Checks the decoded extents against istat cluster by cluster, and the total
// against the last VCN ntfs-3g wrote into the attribute header (u64 at 24).
void expect_matches_istat(const bytes& attribute, const ntfs::extent_list& from_istat) {
  ntfs::extent_list extents;
  ASSERT_TRUE(ntfs::decode_extents(attribute, extents));
  std::uint64_t last_vcn = 0;
  for (std::size_t i = 0; i < 8; ++i) last_vcn |= std::uint64_t{attribute[24 + i]} << (8 * i);
  std::uint64_t clusters = 0;
  for (const auto& e : extents) clusters += e.count;
  EXPECT_EQ(clusters, last_vcn + 1);
  for (std::uint64_t vcn = 0; vcn <= last_vcn; ++vcn) {
    std::size_t ours_index = 0, istat_index = 0;
    std::uint64_t ours = 0, expected = 0;
    ASSERT_TRUE(ntfs::vcn_to_lcn(from_istat, vcn, istat_index, expected)) << vcn;
    ASSERT_TRUE(ntfs::vcn_to_lcn(extents, vcn, ours_index, ours)) << vcn;
    ASSERT_EQ(ours, expected) << "vcn " << vcn;
    ASSERT_EQ(extents[ours_index].sparse, from_istat[istat_index].sparse) << "vcn " << vcn;
  }
}

TEST(RunListRealVolume, FragmentedFileMatchesIstat) {
  // A file written until the volume was full after every other one-cluster
  // file had been deleted: it fills the holes one cluster at a time. Its
  // run list has one-, two- and three-byte offsets, several negative, and
  // slack bytes after the terminator.
  const auto attribute = from_hex(
      "800000008000000001004000000002000000000000000000710d000000000000"
      "40000000000000000020d700000000000020d700000000000020d70000000000"
      "22e705180a22960551f811039721010008110102110102110102110102110102"
      "11010211010211010211010211010211010222e50105f61101e800e50105f611");
  const ntfs::extent_list from_istat{
      normal(0, 2584, 1511),  normal(1511, 617, 1430), normal(2941, 512, 3), normal(2944, 2560, 1),
      normal(2945, 2562, 1),  normal(2946, 2564, 1),   normal(2947, 2566, 1), normal(2948, 2568, 1),
      normal(2949, 2570, 1),  normal(2950, 2572, 1),   normal(2951, 2574, 1), normal(2952, 2576, 1),
      normal(2953, 2578, 1),  normal(2954, 2580, 1),   normal(2955, 2582, 1), normal(2956, 27, 485),
      normal(3441, 3, 1)};
  expect_matches_istat(attribute, from_istat);
  ntfs::extent_list extents;
  ASSERT_TRUE(ntfs::decode_extents(attribute, extents));
  EXPECT_TRUE(same(extents, from_istat)) << describe(extents);
}

TEST(RunListRealVolume, SparseFileMatchesIstat) {
  // Written tail first, then the middle, then the head, with holes between:
  // three data runs each before the previous one, and two sparse runs.
  const auto attribute = from_hex(
      "8000000058000000010048000080020000000000000000004b00000000000000"
      "480004000000000000c0040000000000e0b3040000000000e0b3040000000000"
      "0050010000000000210ae301011a1108f8011d1103fd0000");
  const ntfs::extent_list from_istat{normal(0, 483, 10), sparse(10, 26), normal(36, 475, 8), sparse(44, 29),
                                     normal(73, 472, 3)};
  expect_matches_istat(attribute, from_istat);
  ntfs::extent_list extents;
  ASSERT_TRUE(ntfs::decode_extents(attribute, extents));
  EXPECT_TRUE(same(extents, from_istat)) << describe(extents);
  EXPECT_EQ(ntfs::extents_byte_size(extents, 4096, false), 76u * 4096);
  EXPECT_EQ(ntfs::extents_byte_size(extents, 4096, true), 21u * 4096);
}

TEST(RunListRealVolume, BootFileStartsAtClusterZero) {
  // $Boot's run list is 11 02 00: an offset field that holds 0 on the first
  // run. istat lists clusters 0 and 1.
  const auto attribute = from_hex(
      "8000000048000000010040000000010000000000000000000100000000000000"
      "4000000000000000002000000000000000200000000000000020000000000000"
      "1102000000000000");
  expect_matches_istat(attribute, {normal(0, 0, 2)});
}

TEST(RunListRealVolume, BadClusterStreamIsOneSparseRun) {
  // $BadClus:$Bad as mkntfs writes it: 02 FF 0F, one run over the whole
  // volume with no offset field. istat lists no clusters for it (its
  // initialized size is 0); the header's last VCN, 4094, gives the count.
  const auto attribute = from_hex(
      "800000005000000001044000000001000000000000000000fe0f000000000000"
      "480000000000000000f0ff000000000000f0ff00000000000000000000000000"
      "240042006100640002ff0f0000000000");
  ntfs::extent_list extents;
  ASSERT_TRUE(ntfs::decode_extents(attribute, extents));
  EXPECT_TRUE(same(extents, {sparse(0, 4095)})) << describe(extents);
}

TEST(RunListRealVolume, EveryTruncationDecodesAPrefix) {
  // Cutting a real attribute anywhere yields a prefix of its runs, never
  // a different run.
  const auto attribute = from_hex(
      "800000008000000001004000000002000000000000000000710d000000000000"
      "40000000000000000020d700000000000020d700000000000020d70000000000"
      "22e705180a22960551f811039721010008110102110102110102110102110102"
      "11010211010211010211010211010211010222e50105f61101e800e50105f611");
  ntfs::extent_list full;
  ASSERT_TRUE(ntfs::decode_extents(attribute, full));
  for (std::size_t size = 0; size <= attribute.size(); ++size) {
    const auto cut = std::span<const std::uint8_t>(attribute).first(size);
    ntfs::extent_list extents;
    const bool ok = ntfs::decode_extents(cut, extents);
    ASSERT_LE(extents.size(), full.size());
    EXPECT_TRUE(same(extents, ntfs::extent_list(full.begin(), full.begin() + extents.size()))) << size;
    // Only a cut inside the slack after the terminator still decodes fully.
    EXPECT_EQ(ok, size >= 64 + 59) << size;
  }
}

}  // namespace
