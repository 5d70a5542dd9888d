// A damaged record is logged with the entry, the byte offset and the values
// the reader expected and found.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ntfs/record_reader.h"
#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

using namespace testing_support;

TEST(RecordDiagnostics, DamageIsLoggedWithOffsetExpectedAndFound) {
  // A non-resident $DATA whose first run-list header byte declares a 9-byte count.
  const byte_vector bad_runs = non_resident_attribute({0x09});
  record_builder builder;
  builder.entry(40).standard_information(filetime_of_unix(1709373600)).file_name(reference_of(5, 5), u"a.txt");
  const byte_vector plain = builder.raw_attribute(bad_runs).build_plain();
  const std::size_t name_at = find_attribute(plain, 0x30);
  const std::string name_at_text = std::to_string(name_at);
  const std::string data_at_text = std::to_string(find_attribute(plain, 0x80));
  struct damage_case {
    std::function<void(std::span<std::uint8_t>)> damage;  // on the record's in-memory form
    std::string line;
  };
  const damage_case cases[] = {
      {[](std::span<std::uint8_t> r) { poke(r, 20, 0x50, 2); },
       "err: entry 40 first attribute offset at byte 20: expected at most 0x48, found 0x50"},
      {[&](std::span<std::uint8_t> r) { poke(r, name_at + 4, 0, 4); },
       "err: entry 40 attribute at byte " + name_at_text + ": zero length: expected more than 0, found 0"},
      {[&](std::span<std::uint8_t> r) { poke(r, name_at + 4, 4096, 4); },
       "err: entry 40 attribute at byte " + name_at_text + ": length past the record end: expected at most " +
           std::to_string(1024 - name_at) + ", found 4096"},
      {[](std::span<std::uint8_t>) {},
       "err: entry 40 attribute type 0x80 at byte " + data_at_text +
           ": run list entry at byte 64: field wider than 8 bytes, 0 runs kept"},
      // The end marker in the last 8 bytes, too few for a header, is no damage.
      {[](std::span<std::uint8_t> r) {
         poke(r, 56, 0x100, 4);
         poke(r, 4 + 56, 1016 - 56, 4);
         poke(r, 1016, 0xFFFFFFFF, 4);
       },
       ""},
  };
  scratch_folder folder("record-diagnostics");
  for (const damage_case& c : cases) {
    SCOPED_TRACE(c.line);
    mft_image image;
    image.set(40, builder.build());
    rewrite_record(image.record(40), c.damage);
    memory_source source(image);
    support::diagnostics_log log;
    ASSERT_TRUE(log.open(folder.file("diags.txt")));
    ntfs::record_context context;
    context.source = &source;
    context.log = &log;
    ntfs::mft_record record;
    ntfs::read_file_record(record, context, 40, false);
    log.close();
    const std::string text = read_file(folder.file("diags.txt"));
    EXPECT_EQ(text.find(c.line.empty() ? "err: " : c.line + "\n") != std::string::npos, !c.line.empty()) << text;
  }
}
