// The record header test and the update-sequence fixups, on records that
// mkntfs and ntfs-3g wrote. Each negative case changes one header field of an
// otherwise good record. Fixups applied to every stride tail of real records
// are proven by the stream reader test (sector4k's resident $AttrDef spans
// five tails of a 4096-byte record, and must have icat's MD5), the junction
// whose print name crosses a tail by a golden -find_mft dump, and index
// blocks of real folders by the slack tests.
#include "ntfs/record_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ntfs/record_reader.h"
#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

constexpr std::size_t k_record = 1024;
constexpr std::uint64_t k_long_file_name = 88;  // two $FILE_NAME, resident $DATA

byte_vector on_disk_record(const std::string& mft, std::uint64_t entry, std::size_t size) {
  static std::map<std::string, byte_vector> files;
  auto& bytes = files[mft];
  if (bytes.empty()) bytes = read_bytes(fixture_path(mft));
  EXPECT_GE(bytes.size(), (entry + 1) * size) << mft;
  if (bytes.size() < (entry + 1) * size) return byte_vector(size, 0);
  return byte_vector(bytes.begin() + static_cast<std::ptrdiff_t>(entry * size),
                     bytes.begin() + static_cast<std::ptrdiff_t>((entry + 1) * size));
}

std::uint16_t tail_of(std::span<const std::uint8_t> record, std::size_t stride) {
  return static_cast<std::uint16_t>(peek(record, stride * stride_bytes - 2, 2));
}

TEST(RecordHeaderField, DecidesWhetherTheRecordIsRead) {
  using ntfs::fixup_result;
  struct header_damage {
    const char* what;
    std::size_t offset;
    std::uint64_t value;
    std::size_t width;
    fixup_result expected;
  };
  const header_damage cases[] = {
      {"update sequence offset 0x2c", 4, 0x2C, 2, fixup_result::rejected},
      {"update sequence offset 0x32", 4, 0x32, 2, fixup_result::rejected},
      {"update sequence count 9", 6, 9, 2, fixup_result::applied},
      {"update sequence count 10", 6, 10, 2, fixup_result::rejected},
      {"update sequence count 0xffff", 6, 0xFFFF, 2, fixup_result::rejected},
      {"first attribute 0x48", 20, 0x48, 2, fixup_result::applied},
      {"first attribute 0x49", 20, 0x49, 2, fixup_result::rejected},
      {"first attribute 0x100", 20, 0x100, 2, fixup_result::rejected},
      {"signature BAAD", 0, 0x44414142, 4, fixup_result::bad_record},
      {"signature INDX", 0, 0x58444E49, 4, fixup_result::applied},
      {"signature file in lower case", 0, 0x656C6966, 4, fixup_result::rejected},
      {"signature zero", 0, 0, 4, fixup_result::rejected},
  };
  for (const header_damage& damage : cases) {
    byte_vector record = on_disk_record("basic.mft", k_long_file_name, k_record);
    poke(record, damage.offset, damage.value, damage.width);
    const byte_vector before = record;
    EXPECT_EQ(ntfs::apply_fixups(record), damage.expected) << damage.what;
    // A refused record must be left alone; an accepted one gets its tails back.
    EXPECT_EQ(record == before, damage.expected != fixup_result::applied) << damage.what;
  }
}

TEST(RecordFixups, IndexBlocksAreAcceptedWithTheirOwnArrayOffset) {
  // An INDX block keeps its update-sequence array at 0x28, which the FILE
  // header test would refuse. The same record with "INDX" and offset 0x28 is
  // still fixed up.
  byte_vector record = on_disk_record("basic.mft", k_long_file_name, k_record);
  std::memcpy(record.data(), "INDX", 4);
  std::memmove(record.data() + 0x28, record.data() + 0x30, 6);
  poke(record, 4, 0x28, 2);
  byte_vector expected = record;
  unprotect_strides(expected);
  ASSERT_EQ(ntfs::apply_fixups(record), ntfs::fixup_result::applied);
  EXPECT_EQ(record, expected);
}

TEST(RecordFixups, CountBelowTwoMeansNoFixupsAtAll) {
  for (const std::uint16_t count : {0, 1}) {
    byte_vector record = on_disk_record("basic.mft", k_long_file_name, k_record);
    const std::uint16_t usn = static_cast<std::uint16_t>(peek(record, 0x30, 2));
    poke(record, 6, count, 2);
    const byte_vector before = record;
    EXPECT_EQ(ntfs::apply_fixups(record), ntfs::fixup_result::applied) << count;
    EXPECT_EQ(record, before) << count;
    EXPECT_EQ(tail_of(record, 1), usn) << count;
  }
}

TEST(RecordFixups, ATornTailMarksTheRecordBadAndLeavesItAlone) {
  byte_vector record = on_disk_record("basic.mft", k_long_file_name, k_record);
  poke(record, 2 * stride_bytes - 2, 0xBEEF, 2);  // neither the sequence number nor the saved bytes
  const byte_vector before = record;
  ntfs::fixup_mismatch mismatch;
  ASSERT_EQ(ntfs::apply_fixups(record, nullptr, &mismatch), ntfs::fixup_result::bad_record);
  EXPECT_EQ(record, before);
  EXPECT_EQ(mismatch.tail_offset, 2 * stride_bytes - 2);
  EXPECT_EQ(mismatch.found, 0xBEEF);
}

TEST(RecordFixups, ShortAndEmptyBuffers) {
  byte_vector empty;
  EXPECT_EQ(ntfs::apply_fixups(empty), ntfs::fixup_result::rejected);
  // A buffer holding only the first stride: the second array entry has no
  // stride to go to and must not be written past the end.
  byte_vector record = on_disk_record("basic.mft", k_long_file_name, k_record);
  record.resize(stride_bytes);
  byte_vector expected = record;
  expected[stride_bytes - 2] = record[0x32];
  expected[stride_bytes - 1] = record[0x33];
  EXPECT_EQ(ntfs::apply_fixups(record), ntfs::fixup_result::applied);
  EXPECT_EQ(record, expected);
  // Too short to hold the header: nothing to apply, nothing read past the end.
  byte_vector stub = {'F', 'I', 'L', 'E', 0x30};
  EXPECT_EQ(ntfs::apply_fixups(stub), ntfs::fixup_result::rejected);
}

// The same decisions seen through the record reader, with its log lines.
TEST(RecordFixups, RefusedAndBaadRecordsAreLoggedByTheReader) {
  const byte_vector base = read_bytes(fixture_path("basic.mft"));
  ASSERT_EQ(base.size() % k_record, 0u);
  mft_image image(base);
  poke(image.record(k_long_file_name), 4, 0x2C, 2);
  std::memcpy(image.record(92).data(), "BAAD", 4);
  memory_source source(image);

  scratch_folder folder("record-header-log");
  support::diagnostics_log log;
  ASSERT_TRUE(log.open(folder.file("diags.txt")));
  ntfs::record_context context;
  context.source = &source;
  context.log = &log;
  ntfs::mft_record record;

  EXPECT_FALSE(ntfs::read_file_record(record, context, k_long_file_name, false));
  std::vector<std::uint8_t> buffer;
  bool bad = true;
  EXPECT_FALSE(ntfs::read_raw_record(buffer, bad, context, k_long_file_name));
  EXPECT_FALSE(bad);

  EXPECT_FALSE(ntfs::read_file_record(record, context, 92, false));
  EXPECT_TRUE(ntfs::read_raw_record(buffer, bad, context, 92));
  EXPECT_TRUE(bad);

  // An untouched neighbour still reads.
  EXPECT_TRUE(ntfs::read_file_record(record, context, 93, false));
  log.close();

  const std::string text = read_file(folder.file("diags.txt"));
  EXPECT_NE(text.find("err: mftfixup 58\n"), std::string::npos) << text;
  EXPECT_NE(text.find("err: fixup_mft type: BAAD\n"), std::string::npos) << text;
  EXPECT_NE(text.find("err: recd bad 5c\n"), std::string::npos) << text;
  EXPECT_EQ(text.find(" 5d\n"), std::string::npos) << text;
}

}  // namespace
