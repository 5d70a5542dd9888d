// Run-list decoding and cluster extents.
//
// Synthetic attributes are a 64-byte non-resident header followed by the
// run-list bytes under test (one case a line in
// fixtures/golden/run_list_cases.txt). Run lists that mkntfs and ntfs-3g wrote (a
// fragmented file, holes, $Boot at cluster 0, $BadClus's one sparse run) are
// read by the stream reader test, whose every $DATA stream must have the MD5
// that icat gives.
#include "ntfs/run_list.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

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

// "VCN:LCN+count" or "VCN:sparse+count", blank-separated, as extents.
ntfs::extent_list extents_of(const std::string& text) {
  ntfs::extent_list extents;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    const auto colon = word.find(':'), plus = word.find('+');
    const std::string lcn = word.substr(colon + 1, plus - colon - 1);
    const std::uint64_t vcn = std::stoull(word.substr(0, colon), nullptr, 0);
    const auto count = static_cast<std::uint32_t>(std::stoull(word.substr(plus + 1), nullptr, 0));
    extents.push_back(lcn == "sparse" ? sparse(vcn, count) : normal(vcn, std::stoull(lcn, nullptr, 0), count));
  }
  return extents;
}

TEST(RunListDecode, RunsAndMalformedListsAsTable) {
  int cases = 0;
  for (const std::string& line : split_lines(read_file(source_fixture_path("golden/run_list_cases.txt")))) {
    if (line.empty() || line[0] == '#') continue;
    ++cases;
    const std::vector<std::string> f = split_fields(line, "|");  // name|bytes|shape|ok|extents
    byte_vector runs;
    std::istringstream hex(f.at(1));
    for (std::string pair; hex >> pair;) runs.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
    run_list_shape shape;
    std::size_t cut_to = 0;
    std::istringstream words(f.at(2));
    for (std::string word; words >> word;) {
      const std::string key = word.substr(0, word.find('='));
      const std::uint64_t value = key == word ? 0 : std::stoull(word.substr(key.size() + 1), nullptr, 0);
      if (key == "vcn") shape.first_vcn = value;
      if (key == "offset") shape.run_list_offset = static_cast<std::uint16_t>(value);
      if (key == "declared") shape.declared_length = static_cast<std::uint32_t>(value);
      if (key == "exact") shape.exact_length = true;
      if (key == "cut") cut_to = value;
    }
    byte_vector attribute = non_resident_attribute(runs, shape);
    if (cut_to != 0) attribute.resize(cut_to);
    const decoded d = decode_both(attribute);
    EXPECT_EQ(d.ok, f.at(3) == "ok") << f[0];
    EXPECT_EQ(d.text, describe(extents_of(f.size() > 4 ? f[4] : ""))) << f[0];
  }
  EXPECT_EQ(cases, 25);
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
    if (c.found) {
      EXPECT_EQ(index, c.index) << c.vcn;
    }
  }
  std::size_t index = 0;
  std::uint64_t lcn = 0;
  EXPECT_FALSE(ntfs::vcn_to_lcn({}, 0, index, lcn));
}

}  // namespace
