// Attributes that a base record takes from its extension records when the
// source is an extracted $MFT (whose attribute list lies in clusters it does
// not have): which records may lend them, and how the extents of one stream
// spread over several records become one stream.
#include <gtest/gtest.h>

#include <map>

#include "ntfs/mft_file_source.h"
#include "ntfs/record_reader.h"
#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

// A non-resident attribute of `clusters` clusters at VCN `first_vcn`, one
// run at LCN 0x20; sizes as the VCN 0 extent states them.
byte_vector non_resident(std::uint32_t type, const std::u16string& name, std::uint64_t first_vcn,
                         std::uint8_t clusters, std::uint64_t real_size, std::uint16_t id) {
  const std::size_t runs_at = round_up8(64 + 2 * name.size());
  byte_vector attribute(runs_at + 8, 0);
  poke(attribute, 0, type, 4), poke(attribute, 4, attribute.size(), 4);
  attribute[8] = 1, attribute[9] = static_cast<std::uint8_t>(name.size());
  poke(attribute, 10, 64, 2), poke(attribute, 14, id, 2);
  poke(attribute, 16, first_vcn, 8), poke(attribute, 24, first_vcn + clusters - 1, 8);
  poke(attribute, 32, runs_at, 2);
  poke(attribute, 40, first_vcn == 0 ? real_size : 0, 8), poke(attribute, 48, first_vcn == 0 ? real_size : 0, 8);
  poke(attribute, 56, first_vcn == 0 ? real_size : 0, 8);
  const byte_vector units = utf16le(name);
  std::copy(units.begin(), units.end(), attribute.begin() + 64);
  attribute[runs_at] = 0x11, attribute[runs_at + 1] = clusters, attribute[runs_at + 2] = 0x20;
  return attribute;
}

struct extension {
  std::uint16_t flags;           // 1: in use
  std::uint16_t base_sequence;   // sequence number in the base reference
  std::uint64_t first_vcn;       // of the stream extent it holds
  std::u16string stream;
};

struct stream_seen {
  std::uint64_t clusters, size;
  bool operator==(const stream_seen&) const = default;
};

TEST(ExtensionRecords, OnlyRecordsOfThisFileLendAttributesAndExtentsJoinByName) {
  struct test_case {
    const char* what;
    std::vector<extension> extensions;  // entries 41, 42, ...
    std::map<std::string, stream_seen> expected;
  };
  const std::vector<test_case> cases = {
      {"in use, same base reference", {{1, 3, 0, u"current"}}, {{"current", {4, 16000}}}},
      {"freed, or of an older file in entry 40",
       {{0, 3, 0, u"freed"}, {1, 2, 0, u"older"}, {1, 3, 0, u"current"}},
       {{"current", {4, 16000}}}},
      {"a stream continued in two extension records, ids apart",
       {{1, 3, 4, u"split"}, {1, 3, 8, u"split"}},
       {{"split", {12, 16000}}}},
  };
  scratch_folder folder("extension-records");
  for (const test_case& c : cases) {
    mft_image image;
    image.set(0, record_builder().build());  // the record size is learnt from entry 0
    record_builder base;
    base.entry(40).sequence(3).standard_information(filetime_of_unix(1709373600));
    base.file_name(reference_of(5, 5), u"host.txt").raw_attribute(non_resident(0x20, u"", 0, 1, 200, 7));
    bool splits = false;
    for (const extension& e : c.extensions) splits |= e.stream == u"split" && e.first_vcn != 0;
    if (splits) base.raw_attribute(non_resident(0x80, u"split", 0, 4, 16000, 9));
    image.set(40, base.build());
    for (std::size_t i = 0; i < c.extensions.size(); ++i) {
      const extension& e = c.extensions[i];
      image.set(41 + i, record_builder()
                            .entry(static_cast<std::uint32_t>(41 + i))
                            .flags(e.flags)
                            .base(reference_of(40, e.base_sequence))
                            .raw_attribute(non_resident(0x80, e.stream, e.first_vcn, 4, 16000, 0))
                            .build());
    }
    const std::string path = folder.file("mft.bin");
    write_bytes(path, image.bytes());
    ntfs::mft_file_source source;
    ASSERT_TRUE(source.open(uni::to_wide(path)));
    ntfs::record_context context;
    context.source = &source;
    ntfs::mft_record record;
    ASSERT_TRUE(ntfs::read_file_record(record, context, 40, false)) << c.what;
    std::map<std::string, stream_seen> seen;
    for (const auto& attribute : record.attributes) {
      if (!attribute.named_stream) continue;
      std::uint64_t clusters = 0;
      for (const auto& extent : attribute.extents) clusters += extent.count;
      seen[attribute.name_utf8] = {clusters, attribute.header.real_size};
    }
    EXPECT_EQ(seen, c.expected) << c.what;
  }
}

}  // namespace
