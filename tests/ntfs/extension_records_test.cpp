// An extracted $MFT has no clusters for a non-resident attribute list, so
// the base record takes attributes from the records that name it as their
// base: only from those in use whose base reference carries its sequence
// number too, never from a freed extension or one of an earlier file.
#include <gtest/gtest.h>

#include "ntfs/mft_file_source.h"
#include "ntfs/record_reader.h"
#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

using namespace testing_support;

TEST(ExtensionRecords, OnlyRecordsInUseOfThisVeryFileLendAttributes) {
  // A non-resident $ATTRIBUTE_LIST of 200 bytes: one cluster at LCN 0x20.
  byte_vector list = non_resident_attribute({0x11, 0x01, 0x20}, {.type = 0x20});
  poke(list, 48, 200, 8);
  mft_image image;
  image.set(0, record_builder().build());  // the record size is learnt from entry 0
  image.set(40, record_builder().entry(40).sequence(3).file_name(reference_of(5, 5), u"host.txt")
                    .raw_attribute(list).build());
  const struct { std::uint16_t flags, base_sequence; std::u16string stream; } extensions[] = {
      {1, 3, u"current"}, {0, 3, u"freed"}, {1, 2, u"older_file"}};
  for (std::uint32_t i = 0; i < 3; ++i) {
    image.set(41 + i, record_builder().entry(41 + i).flags(extensions[i].flags)
                          .base(reference_of(40, extensions[i].base_sequence))
                          .resident(0x80, byte_vector(5, 'x'), extensions[i].stream).build());
  }
  scratch_folder folder("extension-records");
  write_bytes(folder.file("mft.bin"), image.bytes());
  ntfs::mft_file_source source;
  ASSERT_TRUE(source.open(uni::to_wide(folder.file("mft.bin"))));
  ntfs::record_context context;
  context.source = &source;
  ntfs::mft_record record;
  ASSERT_TRUE(ntfs::read_file_record(record, context, 40, false));
  std::vector<std::string> streams;
  for (const auto& attribute : record.attributes)
    if (attribute.named_stream) streams.push_back(attribute.name_utf8);
  EXPECT_EQ(streams, std::vector<std::string>{"current"});
}
