// Security descriptors, SIDs and the $SDS table.
//
// Hand-made bytes cover the texts and every way a damaged descriptor can
// point outside itself (run under ASan/UBSan these catch stray reads). Real
// descriptors come from the fixture volumes, made by mkntfs and ntfs-3g, and
// are checked against what ntfssecaudit, fsntfsinfo and istat print for them
// (fsntfsinfo's reading normalised once into basic.security.txt); the $SDS
// table of a real volume is the owners volume's, where ntfssecaudit read
// the owner, group and ACLs of every file.
#include "ntfs/secure_sds.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "ntfs/ace_text.h"
#include "ntfs/ntfs_volume.h"
#include "ntfs/record_reader.h"
#include "ntfs/security_descriptor.h"
#include "ntfs/sid_text.h"
#include "ntfs/stream_reader.h"
#include "storage/disk_reader.h"
#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"
#include "tests/common/tsk_listing.h"

using namespace testing_support;

namespace {

using bytes = byte_vector;

std::string text_of(const bytes& b) {
  std::string out;
  const bool ok = ntfs::sid_to_text(b, out);
  return ok ? out : "<none:" + out + ">";
}

std::vector<std::string> dacl_lines(const ntfs::ace_table& table) {
  std::vector<std::string> lines;
  for (const auto& e : table) {
    lines.push_back(std::string(e.type_name) + "|" + e.sid_text + "|" + std::string(e.sid_name) + "|" + e.access_text);
  }
  return lines;
}

const std::string everything = "DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER | SYNCHRONIZE";

// ------------------------------------------------------------ SIDs ----

TEST(SidText, WellKnownSidsAndTheirNames) {
  // One "SID|name" a line; the text must survive the round trip.
  int cases = 0;
  for (const std::string& line : split_lines(read_file(source_fixture_path("golden/security_descriptor_sids.txt")))) {
    if (line.empty() || line[0] == '#') continue;
    ++cases;
    const std::vector<std::string> f = split_fields(line, "|");
    const std::string& text = f.at(0);
    const std::string name = f.size() > 1 ? f[1] : "";
    const bytes b = sid(text);
    EXPECT_EQ(text_of(b), text);
    EXPECT_EQ(ntfs::sid_to_name(b), name) << text;
    EXPECT_EQ(ntfs::sid_size(b), b.size()) << text;
  }
  EXPECT_EQ(cases, 27);
}

TEST(SidText, SubAuthorityCountsAtAndPastTheLimits) {
  std::string fifteen = "S-1-5";
  for (int i = 1; i <= 15; ++i) fifteen += "-" + std::to_string(i * 1000);
  const auto resized = [](bytes b, std::size_t n) { return b.resize(n, 0xEE), b; };
  const auto counted = [](bytes b, std::uint8_t count) { return b[1] = count, b; };
  const bytes claims_five = counted(sid("S-1-5-21-1-2"), 5);
  const std::pair<bytes, std::string> cases[] = {
      // No sub-authorities: an 8-byte SID. Read when 12 bytes are available
      // (inside a descriptor, something follows it), not when only its 8 are.
      {sid("S-1-5"), ""},
      {resized(sid("S-1-5"), 12), "S-1-5"},
      // Fifteen, the most Windows makes: 68 bytes; sixteen are refused
      // however many bytes there are.
      {sid(fifteen), fifteen},
      {resized(sid(fifteen), 67), ""},
      {resized(sid(fifteen + "-16000"), 200), ""},
      {counted(resized(sid(fifteen), 200), 255), ""},
      // A count that says more than the bytes hold, and too few bytes at all.
      {claims_five, ""},
      {{}, ""},
      {{1}, ""},
  };
  for (const auto& [b, text] : cases) {
    EXPECT_EQ(text_of(b), text.empty() ? "<none:>" : text) << testing::PrintToString(b);
    if (text.empty()) {
      EXPECT_EQ(ntfs::sid_to_name(b), "unk") << testing::PrintToString(b);
    }
  }
  EXPECT_EQ(ntfs::sid_size(sid(fifteen)), 68u);
  EXPECT_EQ(ntfs::sid_size(resized(sid(fifteen + "-16000"), 200)), 0u);

  // A failed conversion leaves the output empty, and appending adds nothing.
  std::string out = "old";
  EXPECT_FALSE(ntfs::sid_to_text(claims_five, out));
  EXPECT_EQ(out, "");
  out = "x";
  EXPECT_FALSE(ntfs::append_sid_text(out, claims_five));
  EXPECT_TRUE(ntfs::append_sid_text(out, sid("S-1-1-0")));
  EXPECT_EQ(out, "xS-1-1-0");
}

// --------------------------------------------------------- ACE texts ----

TEST(AceText, AccessMasks) {
  // Bits 0-8 and 16-20: the object-specific bits are not named.
  EXPECT_EQ(ntfs::access_mask_text(0x001F01FF), everything);
  EXPECT_EQ(ntfs::access_mask_text(0), "");
  EXPECT_EQ(ntfs::access_mask_text(0x0000FFFF), "");
  EXPECT_EQ(ntfs::access_mask_text(0x80000000), "GENERIC_READ");
  EXPECT_EQ(ntfs::access_mask_text(0xFFFFFFFF),
            "GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | " + everything +
                " | ACCESS_SYSTEM_SECURITY | MAXIMUM_ALLOWED");
  // Bits 21-23 and 26-27 have no name either.
  EXPECT_EQ(ntfs::access_mask_text(0x0CE00000), "");
  std::string joined = "before ";
  ntfs::append_access_mask_text(joined, 0x03000000);
  EXPECT_EQ(joined, "before ACCESS_SYSTEM_SECURITY | MAXIMUM_ALLOWED");
}

// -------------------------------------------------- descriptor text ----

TEST(SecurityDescriptorText, OwnerGroupAndBothAclsInKeyOrder) {
  const bytes sd = descriptor(
      "S-1-5-21-100-200-300-1001", "S-1-5-21-100-200-300-513",
      acl({{2, 0x00010000, "S-1-1-0", 0xC0}}),
      acl({{0, 0x001F01FF, "S-1-5-32-544"},
           {1, 0x00040000, "S-1-5-18"},
           {0, 0x001200A9, "S-1-5-18"},
           {0, 0x10000000, "S-1-5-32-544"},  // the same SID and type again: joined
           {0, 0x80000000, "S-1-5-21-100-200-300-502"}}));
  // Entries are ordered by SID text and type name ("S-1-5-18access allowed"
  // before "S-1-5-18access denied" before "S-1-5-21..."), each name padded
  // to 15 characters but never cut.
  EXPECT_EQ(ntfs::descriptor_to_text(sd, "  "),
            "  Security Identifiers\n"
            "  owner sid [S-1-5-21-100-200-300-1001]\n"
            "  group sid [S-1-5-21-100-200-300-513]\n"
            "  \n"
            "  System Access Control List\n"
            "  system audit    World           DELETE\n"
            "  \n"
            "  Discretionary Access Control List\n"
            "  access allowed  Local System    READ_CONTROL | SYNCHRONIZE\n"
            "  access denied   Local System    WRITE_DAC\n"
            "  access allowed  KRBTGT [key distrib center] GENERIC_READ\n"
            "  access allowed  Admins          " + everything + " | GENERIC_ALL\n");

  // The reusable form appends, and its tables start empty on every call.
  const std::string once = ntfs::descriptor_to_text(sd);
  ntfs::descriptor_scratch scratch;
  std::string out = "head\n";
  ntfs::descriptor_to_text(out, sd, "", scratch);
  ntfs::descriptor_to_text(out, sd, "", scratch);
  EXPECT_EQ(out, "head\n" + once + once);
}

TEST(SecurityDescriptorText, MissingPartsAndUnreadableSids) {
  // Neither owner nor group: the first line and the ACL sections only.
  EXPECT_EQ(ntfs::descriptor_to_text(descriptor("", "", {}, acl({{0, 0x001F01FF, "S-1-1-0"}}))),
            "Security Identifiers\n\nDiscretionary Access Control List\naccess allowed  World           " +
                everything + "\n");
  // No ACLs at all, and ACLs without entries, show no section.
  EXPECT_EQ(ntfs::descriptor_to_text(descriptor("S-1-5-18", "S-1-5-18", acl({}), acl({}))),
            "Security Identifiers\nowner sid [S-1-5-18]\ngroup sid [S-1-5-18]\n");
  // Shorter than the header: nothing is known but the first line.
  const bytes sd = descriptor("S-1-5-18", "S-1-5-32-544", {}, {});
  EXPECT_EQ(ntfs::descriptor_to_text(bytes(sd.begin(), sd.begin() + 19)), "Security Identifiers\n");
  EXPECT_EQ(ntfs::descriptor_to_text(bytes{}), "Security Identifiers\n");

  // Owner past the end, group cut short by the end: empty SIDs.
  bytes broken = sd;
  poke(broken, 4, 4000, 4);
  broken.resize(broken.size() - 2);
  EXPECT_EQ(ntfs::descriptor_to_text(broken), "Security Identifiers\nowner sid []\ngroup sid []\n");
  // Owner and group may share their bytes.
  bytes shared(20);
  poke(shared, 4, 20, 4);
  poke(shared, 8, 20, 4);
  append_bytes(shared, sid("S-1-5-32-544"));
  EXPECT_EQ(ntfs::descriptor_to_text(shared),
            "Security Identifiers\nowner sid [S-1-5-32-544]\ngroup sid [S-1-5-32-544]\n");
  // A group may use no more than the descriptor's length less the owner
  // SID. Here the group offset points into a 68-byte owner SID (88 bytes in
  // all), where a four-part SID of 24 bytes can be read, but 88 - 68 leaves
  // only 20 for it.
  bytes overlapping(20);
  poke(overlapping, 4, 20, 4);
  poke(overlapping, 8, 28, 4);
  append_bytes(overlapping, sid("S-1-5-1025-83886080-3-4-5-6-7-8-9-10-11-12-13-14-15"));
  ASSERT_EQ(overlapping.size(), 88u);
  ASSERT_EQ(overlapping[29], 4);  // the group's count byte
  std::string unbounded;
  ASSERT_TRUE(ntfs::sid_to_text(ntfs::bytes_from(overlapping, 28), unbounded));
  EXPECT_EQ(ntfs::descriptor_to_text(overlapping),
            "Security Identifiers\nowner sid [S-1-5-1025-83886080-3-4-5-6-7-8-9-10-11-12-13-14-15]\ngroup sid []\n");
}

// ------------------------------------------------------ damaged ACLs ----

TEST(AclParsing, DamagedAclsStopAtTheirBytes) {
  // Two ACEs of 20 bytes after the 8-byte ACL header; each case pokes
  // (offset, value, width) into it and reads the ACL at `at`.
  const bytes two = acl({{0, 0x001F01FF, "S-1-5-18"}, {1, 0x00010000, "S-1-1-0"}});
  const auto parse = [](const bytes& descriptor_bytes, std::uint32_t at) {
    ntfs::ace_table table;
    ntfs::parse_acl(descriptor_bytes, at, table);
    std::string text;
    for (const std::string& line : dacl_lines(table)) text += line + ";";
    return text;
  };
  // In key order: "S-1-1-0access denied" before "S-1-5-18access allowed".
  const std::string world = "access denied|S-1-1-0|World|DELETE;",
                    system = "access allowed|S-1-5-18|Local System|" + everything + ";";
  struct acl_case {
    std::vector<std::array<std::uint64_t, 3>> pokes;
    std::uint32_t at;
    std::string lines;
  };
  const acl_case cases[] = {
      {{}, 0, world + system},
      {{}, 48, ""},  // past the end, or leaving less than the ACL header
      {{}, 41, ""},
      {{}, 0xFFFFFFFF, ""},
      {{{4, 65535, 2}}, 0, world + system},                 // a count larger than the bytes
      {{{4, 65535, 2}, {2, 0xFFFF, 2}}, 0, world + system},  // and a size larger than the descriptor
      {{{4, 65535, 2}, {2, 47, 2}}, 0, system},              // the size cuts the second ACE by one byte
      {{{2, 7, 2}}, 0, ""},                                  // smaller than its own header
      {{{4, 65535, 2}, {30, 0, 2}}, 0, system},   // second ACE of size 0: no endless loop on one spot
      {{{4, 65535, 2}, {30, 15, 2}}, 0, system},  // too short for a mask and a SID header
      {{{4, 65535, 2}, {30, 21, 2}}, 0, system},  // one byte past the ACL
      {{{4, 65535, 2}, {10, 0xFFFF, 2}}, 0, ""},  // the first already runs past
      // A SID whose count says more than its ACE holds: the entry stays,
      // with no SID text and no name.
      {{{17, 3, 1}}, 0, world + "access allowed||unk|" + everything + ";"},
  };
  for (const acl_case& c : cases) {
    bytes b = two;
    for (const auto& [at, value, width] : c.pokes) poke(b, at, value, width);
    EXPECT_EQ(parse(b, c.at), c.lines) << testing::PrintToString(c.pokes) << " at " << c.at;
  }
  // The ACL somewhere inside a larger buffer.
  bytes inside(40, 0xAB);
  inside.insert(inside.end(), two.begin(), two.end());
  EXPECT_EQ(parse(inside, 40), world + system);
  // Sixteen sub-authorities are refused like a count past the ACE; fifteen are read.
  std::string fifteen = "S-1-5-21";
  for (int i = 0; i < 14; ++i) fifteen += "-" + std::to_string(i);
  bytes b = acl({{0, 0x00020000, fifteen}});
  EXPECT_EQ(parse(b, 0), "access allowed|" + fifteen + "|unk|READ_CONTROL;");
  b[8 + 8 + 1] = 16;
  EXPECT_EQ(parse(b, 0), "access allowed||unk|READ_CONTROL;");
  // Unknown ACE types are listed under "unknown".
  EXPECT_EQ(parse(acl({{0x11, 0x00100000, "S-1-5-18"}}), 0), "unknown|S-1-5-18|Local System|SYNCHRONIZE;");
}

TEST(AclParsing, EveryTruncationAndByteDamageIsSurvived) {
  // Cut a full descriptor at every length and overwrite every byte with the
  // values most likely to send an offset astray; under the sanitizers any
  // read outside the buffer ends the test.
  const bytes sd = descriptor("S-1-5-21-100-200-300-1001", "S-1-5-21-100-200-300-513",
                              acl({{2, 0x00010000, "S-1-1-0"}}),
                              acl({{0, 0x001F01FF, "S-1-5-32-544"}, {1, 0x00040000, "S-1-5-18"}}));
  ntfs::descriptor_scratch scratch;
  ntfs::sds_record record;
  std::string out;
  std::size_t texts = 0;
  for (std::size_t length = 0; length <= sd.size(); ++length) {
    const bytes cut(sd.begin(), sd.begin() + static_cast<std::ptrdiff_t>(length));
    out.clear();
    ntfs::descriptor_to_text(out, cut, "", scratch);
    EXPECT_EQ(out.rfind("Security Identifiers\n", 0), 0u);
    texts += out.size();
    const bytes entry = [&] {
      bytes e = sds_entry(0x100, 0, cut);
      return bytes(e.begin(), e.begin() + 20 + static_cast<std::ptrdiff_t>(length));
    }();
    EXPECT_TRUE(ntfs::parse_sds_entry(entry, record, true));
  }
  EXPECT_GT(texts, 0u);
  for (std::size_t at = 0; at < sd.size(); ++at) {
    for (const std::uint8_t value : {0x00, 0x01, 0x0F, 0x10, 0x7F, 0x80, 0xFF}) {
      bytes damaged = sd;
      damaged[at] = value;
      out.clear();
      ntfs::descriptor_to_text(out, damaged, "> ", scratch);
      EXPECT_EQ(out.rfind("> Security Identifiers\n", 0), 0u);
      EXPECT_TRUE(ntfs::parse_sds_entry(sds_entry(0x100, 0, damaged), record, true));
    }
  }
}

// ------------------------------------------------------ $SDS stream ----

TEST(SdsStream, EntriesAreFoundAtTheirOwnOffsetsOnly) {
  const bytes system = descriptor("S-1-5-18", "S-1-5-18", {}, acl({{0, 0x001200A9, "S-1-1-0"}}));
  const bytes alice = descriptor("S-1-5-21-1-2-3-1001", "S-1-5-21-1-2-3-513", {}, acl({{0, 0x001F01FF, "S-1-1-0"}}));
  const bytes bob = descriptor("S-1-5-21-1-2-3-1002", "S-1-5-21-1-2-3-513", {}, {});

  bytes stream = sds_entry(0x100, 0, system);
  ASSERT_EQ(stream.size(), 0x60u);  // 20 + 72 bytes, rounded up to 16
  const std::size_t second = stream.size();
  append_bytes(stream, sds_entry(0x101, second, alice));
  // A mirror copy keeps the offset of its original and is passed over, even
  // though its id would be new.
  const std::size_t mirror = 0x200;
  stream.resize(mirror, 0);
  append_bytes(stream, sds_entry(0x1FF, second, bob));
  // An entry of 40 bytes or less is not taken...
  const std::size_t small = stream.size();
  bytes tiny = sds_entry(0x102, small, bytes(20, 0));
  poke(tiny, 16, 40, 4);
  append_bytes(stream, tiny);
  // ...nor one longer than the stream.
  const std::size_t last = stream.size();
  bytes too_long = sds_entry(0x103, last, bob);
  poke(too_long, 16, 0x10000, 4);
  append_bytes(stream, too_long);
  // The same id again keeps the first entry.
  const std::size_t again = stream.size();
  append_bytes(stream, sds_entry(0x100, again, bob));
  // A stream that ends inside an entry header.
  stream.resize(stream.size() + 12, 0x55);

  ntfs::security_table table;
  ASSERT_TRUE(table.build(stream, true));
  ASSERT_EQ(table.size(), 2u);
  const ntfs::sds_record* first = table.find(0x100);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->stream_offset, 0u);
  EXPECT_EQ(first->hash, 0x1234u);
  EXPECT_EQ(first->owner_sid, "S-1-5-18");
  EXPECT_EQ(first->group_sid, "S-1-5-18");
  EXPECT_EQ(dacl_lines(first->dacl),
            (std::vector<std::string>{"access allowed|S-1-1-0|World|READ_CONTROL | SYNCHRONIZE"}));
  // The next entry was looked for at 0x60.
  const ntfs::sds_record* alice_record = table.find(0x101);
  ASSERT_NE(alice_record, nullptr);
  EXPECT_EQ(alice_record->stream_offset, 0x60u);
  EXPECT_EQ(alice_record->owner_sid, "S-1-5-21-1-2-3-1001");
  EXPECT_EQ(alice_record->group_sid, "S-1-5-21-1-2-3-513");
  EXPECT_EQ(table.find(0x1FF), nullptr);
  EXPECT_EQ(table.find(0x102), nullptr);
  EXPECT_EQ(table.find(0x103), nullptr);
  ASSERT_NE(ntfs::lookup_owner_sid(table, 0x101), nullptr);
  EXPECT_EQ(*ntfs::lookup_owner_sid(table, 0x101), "S-1-5-21-1-2-3-1001");
  EXPECT_EQ(ntfs::lookup_owner_sid(table, 0), nullptr);

  // Without ACLs (the default), owners and groups only.
  ASSERT_TRUE(table.build(stream));
  EXPECT_TRUE(table.find(0x100)->dacl.empty());
  EXPECT_EQ(table.find(0x100)->owner_sid, "S-1-5-18");

  // Entries not at a multiple of 16 are never looked at.
  bytes shifted(8, 0);
  append_bytes(shifted, sds_entry(0x100, 8, system));
  EXPECT_FALSE(table.build(shifted));
  EXPECT_TRUE(table.empty());
  EXPECT_FALSE(table.build({}));
  EXPECT_FALSE(table.build(bytes(19, 0)));
}

TEST(SdsStream, EntryHeadersThatDoNotFitTheirBytes) {
  const bytes sd = descriptor("S-1-5-18", "", {}, {});
  bytes entry = sds_entry(7, 0x40, sd);
  ntfs::sds_record record;
  ASSERT_TRUE(ntfs::parse_sds_entry(entry, record));
  EXPECT_EQ(record.security_id, 7u);
  EXPECT_EQ(record.stream_offset, 0x40u);
  EXPECT_EQ(record.owner_sid, "S-1-5-18");
  EXPECT_EQ(record.group_sid, "");

  poke(entry, 16, entry.size() + 1, 4);  // longer than the bytes given
  EXPECT_FALSE(ntfs::parse_sds_entry(entry, record));
  poke(entry, 16, 19, 4);  // shorter than its own header
  EXPECT_FALSE(ntfs::parse_sds_entry(entry, record));
  poke(entry, 16, 20, 4);  // a header and no descriptor: nothing to show, but sound
  EXPECT_TRUE(ntfs::parse_sds_entry(entry, record));
  EXPECT_EQ(record.owner_sid, "");
  EXPECT_FALSE(ntfs::parse_sds_entry(bytes(entry.begin(), entry.begin() + 19), record));
  // The owner is read within the entry's length, not beyond it.
  poke(entry, 16, 20 + 20 + 11, 4);
  EXPECT_TRUE(ntfs::parse_sds_entry(entry, record));
  EXPECT_EQ(record.owner_sid, "");
}

// ------------------------------------------------- fixture volumes ----

struct opened_volume {
  explicit opened_volume(const std::string& path) : disk(uni::to_wide(path)), volume(disk, 0) {}
  storage::disk_reader disk;
  ntfs::ntfs_volume volume;
};

// Reads record `entry` of a volume and returns its security id, and the
// bytes of its $SECURITY_DESCRIPTOR (resident or not) in `sd`.
bool read_security_of(ntfs::ntfs_volume& volume, std::uint64_t entry, std::uint32_t& id, bytes& sd) {
  ntfs::record_context context;
  context.source = &volume;
  context.clusters = &volume;
  ntfs::mft_record record;
  if (!ntfs::read_file_record(record, context, entry, false)) return false;
  id = record.standard_information() ? record.standard_information()->security_id : 0;
  sd.clear();
  for (const auto& attribute : record.attributes) {
    if (attribute.header.type != ntfs::attribute_type::security_descriptor) continue;
    ntfs::vector_sink sink(sd);
    if (!ntfs::read_stream(volume, attribute, sink)) return false;
  }
  return true;
}

TEST(SecureOnFixtureVolumes, OwnersVolumeAgreesWithNtfssecaudit) {
  // The "owners" volume: files given descriptors with distinct owners
  // through ntfs-3g. owners.secaudit.txt holds ntfssecaudit -r's reading of every path:
  // "path|key|owner|group", key "none" for a descriptor of the file's own.
  opened_volume v(fixture_path("owners.img"));
  ASSERT_TRUE(v.volume.validate());
  ntfs::security_table table;
  ASSERT_TRUE(ntfs::load_security_table(v.volume, table, true));

  std::map<std::string, std::uint64_t> entry_of;
  for (const auto& line : read_fls("owners")) {
    if (!line.deleted) entry_of.emplace(line.path.empty() ? "/" : line.path, line.entry);
  }
  entry_of.emplace("/", 5);
  std::size_t checked = 0;
  for (const std::string& line : split_lines(read_file(source_fixture_path("owners.secaudit.txt")))) {
    const std::vector<std::string> f = split_fields(line, "|");
    ASSERT_EQ(f.size(), 4u) << line;
    ASSERT_TRUE(entry_of.count(f[0])) << line;
    std::uint32_t id = 0;
    bytes sd;
    ASSERT_TRUE(read_security_of(v.volume, entry_of[f[0]], id, sd)) << line;
    std::string owner, group;
    if (f[1] == "none") {
      EXPECT_EQ(id, 0u) << line;
      // $MFT has neither a security id nor a descriptor; ntfssecaudit shows
      // the one libntfs-3g assumes for such a record.
      if (sd.empty()) continue;
      ntfs::descriptor_header header;
      ASSERT_TRUE(ntfs::read_descriptor_header(sd, header)) << line;
      ntfs::sid_to_text(ntfs::bytes_from(sd, header.owner_offset), owner);
      ntfs::sid_to_text(ntfs::bytes_from(sd, header.group_offset), group);
    } else {
      EXPECT_EQ(id, std::stoul(f[1], nullptr, 16)) << line;
      const ntfs::sds_record* record = table.find(id);
      ASSERT_NE(record, nullptr) << line;
      owner = record->owner_sid;
      group = record->group_sid;
    }
    EXPECT_EQ(owner, f[2]) << line;
    EXPECT_EQ(group, f[3]) << line;
    ++checked;
  }
  EXPECT_GE(checked, 10u);

  // The ACLs the fixture script wrote.
  const auto acl_of = [&](const std::string& path, bool sacl) {
    std::uint32_t id = 0;
    bytes sd;
    EXPECT_TRUE(read_security_of(v.volume, entry_of.at(path), id, sd)) << path;
    const ntfs::sds_record* record = table.find(id);
    EXPECT_NE(record, nullptr) << path;
    return record ? dacl_lines(sacl ? record->sacl : record->dacl) : std::vector<std::string>{};
  };
  const std::string domain = "S-1-5-21-1111111111-2222222222-3333333333";
  EXPECT_EQ(acl_of("/home/bob.txt", false),
            (std::vector<std::string>{"access denied|S-1-1-0|World|WRITE_DAC",
                                      "access allowed|" + domain + "-1002|unk|" + everything + " | GENERIC_ALL"}));
  EXPECT_EQ(acl_of("/home/carol.txt", true), (std::vector<std::string>{"system audit|S-1-1-0|World|DELETE"}));
  EXPECT_EQ(acl_of("/admin.txt", false),
            (std::vector<std::string>{"access allowed|" + domain + "-500|User Admin|" + everything}));
}

TEST(SecureOnFixtureVolumes, EveryDescriptorAgreesWithFsntfsinfo) {
  // basic.security.txt holds fsntfsinfo's reading of every descriptor:
  // "entry|owner|group|SID+type=mask|..." with the ACEs in on-disk order.
  // The ACE table joins the ACEs of one SID and type, keyed by both.
  opened_volume v(fixture_path("basic.img"));
  ASSERT_TRUE(v.volume.validate());
  const std::vector<std::string> lines = split_lines(read_file(source_fixture_path("basic.security.txt")));
  ASSERT_GT(lines.size(), 250u);
  for (const std::string& line : lines) {
    const std::vector<std::string> f = split_fields(line, "|");
    std::map<std::string, std::string> expected;
    for (std::size_t i = 3; i < f.size(); ++i) {
      const auto equals = f[i].find('=');
      std::string& text = expected[f[i].substr(0, equals)];
      if (!text.empty()) text += " | ";
      text += ntfs::access_mask_text(static_cast<std::uint32_t>(std::stoul(f[i].substr(equals + 1), nullptr, 16)));
    }
    std::uint32_t id = 0;
    bytes sd;
    ASSERT_TRUE(read_security_of(v.volume, std::stoull(f.at(0)), id, sd)) << line;
    ntfs::descriptor_header header;
    ASSERT_TRUE(ntfs::read_descriptor_header(sd, header)) << line;
    std::string owner, group;
    ntfs::sid_to_text(ntfs::bytes_from(sd, header.owner_offset), owner);
    ntfs::sid_to_text(ntfs::bytes_from(sd, header.group_offset), group);
    EXPECT_EQ(owner + "|" + group, f.at(1) + "|" + f.at(2)) << line;
    EXPECT_EQ(header.sacl_offset, 0u) << line;
    ntfs::ace_table dacl;
    ntfs::parse_acl(sd, header.dacl_offset, dacl);
    std::map<std::string, std::string> ours;
    for (const auto& e : dacl) ours[e.key] = e.access_text;
    EXPECT_EQ(ours, expected) << line;
  }
}

}  // namespace
