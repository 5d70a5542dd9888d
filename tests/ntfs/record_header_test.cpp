// The record header test and the update-sequence fixups, on records that
// mkntfs and ntfs-3g wrote. Each negative case changes one header field of an
// otherwise good record. The expected contents after fixups come from other
// tools: icat for the $AttrDef table, fls for the names in /bigdir's index
// blocks (the junction whose print name crosses a stride tail is a golden
// -find_mft dump).
#include "ntfs/record_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
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

std::string ascii_of_utf16(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned unit = bytes[i] | (bytes[i + 1] << 8);
    text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return text;
}

std::uint16_t tail_of(std::span<const std::uint8_t> record, std::size_t stride) {
  return static_cast<std::uint16_t>(peek(record, stride * stride_bytes - 2, 2));
}

struct header_damage {
  const char* what;
  std::size_t offset;
  std::uint64_t value;
  std::size_t width;
  ntfs::fixup_result expected;
};

void PrintTo(const header_damage& damage, std::ostream* out) { *out << damage.what; }

class RecordHeaderField : public ::testing::TestWithParam<header_damage> {};

TEST_P(RecordHeaderField, DecidesWhetherTheRecordIsRead) {
  const header_damage& damage = GetParam();
  byte_vector record = on_disk_record("basic.mft", k_long_file_name, k_record);
  poke(record, damage.offset, damage.value, damage.width);
  const byte_vector before = record;

  const ntfs::fixup_result result = ntfs::apply_fixups(record);
  EXPECT_EQ(result, damage.expected);
  if (result != ntfs::fixup_result::applied) {
    EXPECT_EQ(record, before) << "a refused record must be left alone";
  } else {
    EXPECT_NE(record, before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    OneFieldChanged, RecordHeaderField,
    ::testing::Values(
        header_damage{"update_sequence_offset_0x2c", 4, 0x2C, 2, ntfs::fixup_result::rejected},
        header_damage{"update_sequence_offset_0x32", 4, 0x32, 2, ntfs::fixup_result::rejected},
        header_damage{"update_sequence_count_9", 6, 9, 2, ntfs::fixup_result::applied},
        header_damage{"update_sequence_count_10", 6, 10, 2, ntfs::fixup_result::rejected},
        header_damage{"update_sequence_count_ffff", 6, 0xFFFF, 2, ntfs::fixup_result::rejected},
        header_damage{"first_attribute_0x48", 20, 0x48, 2, ntfs::fixup_result::applied},
        header_damage{"first_attribute_0x49", 20, 0x49, 2, ntfs::fixup_result::rejected},
        header_damage{"first_attribute_0x100", 20, 0x100, 2, ntfs::fixup_result::rejected},
        header_damage{"signature_BAAD", 0, 0x44414142, 4, ntfs::fixup_result::bad_record},
        header_damage{"signature_INDX", 0, 0x58444E49, 4, ntfs::fixup_result::applied},
        header_damage{"signature_file_lower_case", 0, 0x656C6966, 4, ntfs::fixup_result::rejected},
        header_damage{"signature_zero", 0, 0, 4, ntfs::fixup_result::rejected}),
    [](const auto& info) { return std::string(info.param.what); });

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

TEST(RecordFixups, A4096ByteRecordHasAllEightStridesRestored) {
  // sector4k keeps $AttrDef (2560 bytes) resident in entry 4, so the value
  // runs over five stride tails; icat of that stream ends with the
  // all-zero definition, 160 bytes from 2400 on.
  byte_vector record = on_disk_record("sector4k.mft", 4, 4096);
  ASSERT_EQ(peek(record, 6, 2), 9u);
  const std::uint16_t usn = static_cast<std::uint16_t>(peek(record, 0x30, 2));
  for (std::size_t stride = 1; stride <= 8; ++stride) ASSERT_EQ(tail_of(record, stride), usn) << stride;
  const byte_vector on_disk = record;

  ASSERT_EQ(ntfs::apply_fixups(record), ntfs::fixup_result::applied);
  std::size_t changed = 0;
  for (std::size_t i = 0; i < record.size(); ++i) changed += record[i] != on_disk[i];
  EXPECT_LE(changed, 16u);  // only the eight tails
  for (std::size_t stride = 1; stride <= 8; ++stride) {
    EXPECT_EQ(tail_of(record, stride), peek(on_disk, 0x30 + 2 * stride, 2)) << stride;
  }
  const std::size_t value = value_offset_of(record, find_attribute(record, 0x80));
  ASSERT_GT(value + 2560, 5 * stride_bytes);
  for (std::size_t k = value + 15 * 160; k < value + 2560; ++k) ASSERT_EQ(record[k], 0) << k;
}

TEST(RecordFixups, IndexBlocksOfARealDirectoryReadBackEveryName) {
  // /bigdir holds file_000.txt .. file_199.txt (fls). Its INDX blocks lie in
  // the volume image; with fixups applied, walking their index entries finds
  // each name exactly once, including the one under a stride tail.
  const byte_vector image = read_bytes(fixture_path("basic.img"));
  ASSERT_GT(image.size(), 1u << 20);
  std::multiset<std::string> names;
  std::size_t blocks = 0;
  for (std::size_t at = 0; at + 4096 <= image.size(); at += 4096) {
    if (std::memcmp(image.data() + at, "INDX", 4) != 0) continue;
    byte_vector block(image.begin() + static_cast<std::ptrdiff_t>(at),
                      image.begin() + static_cast<std::ptrdiff_t>(at + 4096));
    ASSERT_EQ(ntfs::apply_fixups(block), ntfs::fixup_result::applied) << at;
    // Index node header at 0x18: offset of the first entry and bytes in use,
    // both from 0x18. Entry: reference u64, length u16, key length u16,
    // flags u16 (2 = last); a $FILE_NAME key from 16 (name length at 64).
    const std::size_t end = 0x18 + peek(block, 0x1C, 4);
    std::size_t entry = 0x18 + peek(block, 0x18, 4);
    std::vector<std::string> found;
    while (entry + 16 <= end && end <= block.size()) {
      const std::size_t length = peek(block, entry + 8, 2);
      if ((peek(block, entry + 12, 2) & 2) || length == 0) break;
      const std::size_t name_length = block[entry + 16 + 64];
      found.push_back(ascii_of_utf16(std::span(block).subspan(entry + 16 + 66, 2 * name_length)));
      entry += length;
    }
    if (found.empty() || found.front().rfind("file_", 0) != 0) continue;
    ++blocks;
    names.insert(found.begin(), found.end());
  }
  EXPECT_GT(blocks, 1u);
  ASSERT_EQ(names.size(), 200u);
  for (int i = 0; i < 200; ++i) {
    char expected[16];
    std::snprintf(expected, sizeof expected, "file_%03d.txt", i);
    EXPECT_EQ(names.count(expected), 1u) << expected;
  }
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
