// Reading whole records into the record model. Real records of the basic
// volume are checked against what istat and fsntfsinfo report for them
// (hard links, reparse points and the DOS twin show in the golden layouts
// of entries 64-99 and the -find_mft dumps of 88 and 302, the null and the
// far-future $STANDARD_INFORMATION times of 336 and 337 in those of 318-337, the 40 named
// streams of 302's extension records and the $DATA split over 307 and 309
// in the stream reader test, whose every stream must have icat's MD5);
// cases no tool wrote (a resident attribute list pointing at its own record,
// impossible times) are made by patching or building records in memory.
#include "ntfs/record_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

#include "ntfs/mft_file_source.h"
#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

constexpr std::uint64_t k_volume = 3;
constexpr std::uint64_t k_far_future = 337;

// FILETIME of "now plus one hour", the limit a run uses for $FILE_NAME.
std::uint64_t run_future_limit() {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  return filetime_of_unix(seconds + 3600);
}

TEST(BasicVolumeRecords, VolumeInformationOfEntry3IsVersion31) {
  // fsntfsinfo: Version 3.1; fsstat: Windows XP.
  ntfs::mft_file_source file;
  ASSERT_TRUE(file.open(uni::to_wide(fixture_path("basic.mft"))));
  ntfs::record_context context;
  context.source = &file;
  ntfs::mft_record record;
  ASSERT_TRUE(ntfs::read_file_record(record, context, k_volume, false));
  ASSERT_EQ(record.volume_information.size(), 1u);
  const auto& info = *record.volume_information.first();
  EXPECT_EQ(info.major_version, 3);
  EXPECT_EQ(info.minor_version, 1);
  EXPECT_EQ(info.version_text, "ver: 3:1 (WinXP)");
  bool described = false;
  for (const auto& attribute : record.attributes) {
    if (attribute.header.type != 0x70) continue;
    EXPECT_EQ(attribute.description, "ver: 3:1 (WinXP)");
    described = true;
  }
  EXPECT_TRUE(described);
}

// --- records patched or built in memory -------------------------------------

class PatchedRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    m_image = mft_image(read_bytes(fixture_path("basic.mft")));
    ASSERT_GT(m_image.record_count(), k_far_future);
    m_context.source = &m_source;
  }

  // Changes a record of the basic volume in its in-memory form.
  template <typename Patch>
  void patch(std::uint64_t entry, Patch change) {
    rewrite_record(m_image.record(entry), change);
  }

  mft_image m_image;
  memory_source m_source{m_image};
  ntfs::record_context m_context;
  ntfs::mft_record m_record;
};

TEST_F(PatchedRecords, FileNameTimesAreNullOrFutureAndNullWins) {
  const std::uint64_t year_2100 = filetime_of_unix(4102444800);
  struct times_case {
    std::size_t slot;  // $FILE_NAME value offset of the time changed
    std::uint64_t value;
    std::size_t second_slot;
    std::uint64_t second_value;
    std::uint64_t limit;
    const char* expected;
  };
  const std::uint64_t limit = run_future_limit();
  const times_case cases[] = {
      {32, 0, 0, 0, limit, "null"},                       // access time zero
      {8, 0, 0, 0, 0, "null"},                            // creation zero, no limit set
      {16, year_2100, 0, 0, limit, "future"},             // modified in 2100
      {24, limit + 1, 0, 0, limit, "future"},             // one tick past the limit
      {24, limit, 0, 0, limit, ""},                       // exactly at the limit
      {16, year_2100, 32, 0, limit, "null"},              // both: null wins
      {16, year_2100, 0, 0, 0, ""},                       // no limit, no future test
  };
  for (const times_case& c : cases) {
    m_image = mft_image(read_bytes(fixture_path("basic.mft")));
    patch(k_far_future, [&](std::span<std::uint8_t> record) {
      const std::size_t value = value_offset_of(record, find_attribute(record, 0x30));
      poke(record, value + c.slot, c.value, 8);
      if (c.second_slot != 0) poke(record, value + c.second_slot, c.second_value, 8);
    });
    m_context.future_limit = c.limit;
    ASSERT_TRUE(ntfs::read_file_record(m_record, m_context, k_far_future, false));
    ASSERT_EQ(m_record.file_names.size(), 1u);
    const auto& anomaly = m_record.file_names.first()->anomaly;
    EXPECT_STREQ(anomaly.text, c.expected) << "slot " << c.slot << " value " << c.value;
    EXPECT_EQ(anomaly.flagged, *c.expected != '\0') << "slot " << c.slot;
  }
}

TEST(ResidentAttributeList, EntriesNamingTheBaseRecordAreNotReadAgain) {
  // Base record 40 lists its own attributes, one stream in extension record
  // 41, one in record 42 (which belongs to another file) and one in a record
  // far past the end of the MFT.
  mft_image image;
  record_builder base;
  base.entry(40).standard_information(filetime_of_unix(1709373600));
  const std::uint16_t list_id = base.next_id();
  base.attribute_list({
      {0x10, 40, 1, 0, u""},
      {0x20, 40, 1, list_id, u""},
      {0x30, 40, 1, 2, u""},
      {0x80, 40, 1, 3, u""},
      {0x80, 41, 1, 0, u"extra"},
      {0x80, 42, 1, 0, u"stranger"},
      {0x80, 0x0000FFFFFFFFFFFFULL, 1, 0, u"gone"},
  });
  base.file_name(reference_of(5, 5), u"listed.txt").resident(0x80, byte_vector(10, 'x'));
  image.set(40, base.build());
  image.set(41, record_builder()
                    .entry(41)
                    .base(reference_of(40, 1))
                    .resident(0x80, byte_vector(7, 'e'), u"extra")
                    .resident(0x80, byte_vector(3, 'u'), u"unlisted")
                    .build());
  image.set(42, record_builder().entry(42).base(reference_of(50, 1)).resident(0x80, byte_vector(5, 's'), u"stranger").build());

  memory_source source(image);
  scratch_folder folder("resident-attribute-list");
  support::diagnostics_log log;
  ASSERT_TRUE(log.open(folder.file("diags.txt")));
  for (const bool per_path : {false, true}) {
    ntfs::record_context context;
    context.source = &source;
    context.log = &log;
    context.csv_per_path = per_path;
    source.forget_reads();
    ntfs::mft_record record;
    ASSERT_TRUE(ntfs::read_file_record(record, context, 40, false));

    EXPECT_EQ(source.reads_of(40), 1) << "the base record is read once";
    EXPECT_EQ(source.reads_of(41), 1);
    EXPECT_TRUE(record.has_attribute_list);
    EXPECT_FALSE(record.has_nonresident_attribute_list);
    ASSERT_EQ(record.file_names.size(), 1u);
    EXPECT_EQ(record.file_names.first()->name_utf8, "listed.txt");
    std::map<std::string, ntfs::entry_number> streams;
    for (const auto& attribute : record.attributes) {
      if (attribute.named_stream) streams[attribute.name_utf8] = attribute.read_under_entry;
    }
    EXPECT_EQ(streams, (std::map<std::string, ntfs::entry_number>{{"extra", per_path ? 41 : 40}}));
    ASSERT_NE(record.unnamed_data(), nullptr);
    EXPECT_EQ(record.unnamed_data()->header.value_length, 10u);
  }
  log.close();
  const std::string text = read_file(folder.file("diags.txt"));
  EXPECT_NE(text.find("primary entry 40 pointing to ref entry 41\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("pointing to ref entry 40\n"), std::string::npos) << text;
}

}  // namespace
