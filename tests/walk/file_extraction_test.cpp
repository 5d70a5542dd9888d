// -action_copy_files: every copied stream must hold exactly the bytes The
// Sleuth Kit's icat reads for it (NAME.md5.txt and NAME.sha.txt were made
// from icat when the fixtures were built), be named after its time, digest,
// name, stream and label, and land in the folder of its state and of the
// filter that selected it. Names from the volume are hostile input: the
// tests plant "..", separators, control characters and a 255-unit name in a
// copy of a fixture volume, plant links in the results folder, and fill or
// freeze the file system under it.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <compare>
#include <filesystem>
#include <map>
#include <set>

#include "support/digest_set.h"
#include "support/digest_text.h"
#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"
#include "walk/extraction_names.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr const char* empty_md5 = "d41d8cd98f00b204e9800998ecf8427e";

struct content_digests {
  std::string md5, sha256;
  auto operator<=>(const content_digests&) const = default;
};

content_digests digests_of(const std::vector<std::uint8_t>& bytes) {
  support::digest_set set;
  set.start(true, false, true);
  set.update(bytes);
  set.finish();
  char md5[33], sha256[65];
  return {std::string(support::digest_hex(*set.md5_value(), md5)),
          std::string(support::digest_hex(*set.sha256_value(), sha256))};
}

// Labels of the attributes that are not $DATA, as they end a copy's name.
const char* const other_labels[] = {"obj id",  "security descr", "vol name",        "vol info",
                                    "indx root", "indx alloc",   "bitmap",          "reparse point",
                                    "extended attribs info", "extended attribs", "property set",
                                    "logged stream", "unk"};

enum class stream_kind { unnamed_data, named_data, other };

struct extracted_file {
  std::string relative;  // below the results folder, "/"-separated
  std::string name;
  std::uintmax_t size = 0;
  content_digests content;
  std::string name_md5;  // the digest the name carries
  stream_kind kind = stream_kind::unnamed_data;
};

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Every entry below `folder`, links not followed. Anything but folders and
// regular files inside the results folder is a failure.
std::vector<extracted_file> files_below(const fs::path& folder) {
  std::vector<extracted_file> files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_symlink()) {
      ADD_FAILURE() << "link in the results folder: " << entry.path();
      continue;
    }
    if (entry.is_directory()) continue;
    EXPECT_TRUE(entry.is_regular_file()) << entry.path();
    extracted_file file;
    file.relative = fs::relative(entry.path(), folder).generic_string();
    file.name = entry.path().filename().string();
    file.size = entry.file_size();
    file.content = digests_of(read_bytes(entry.path().string()));
    // yyyy_mm_dd_hhmm_ss_mmm_<md5>_...
    if (file.name.size() > 56 && file.name[22] == '_' && file.name[55] == '_') file.name_md5 = file.name.substr(23, 32);
    if (ends_with(file.name, "_ads.bin")) {
      file.kind = stream_kind::named_data;
    } else {
      for (const char* label : other_labels) {
        if (ends_with(file.name, std::string("_") + label + ".bin")) file.kind = stream_kind::other;
      }
    }
    files.push_back(file);
  }
  return files;
}

struct icat_stream {
  content_digests content;
  std::string address;  // entry-128-id
  std::string path;
  bool named = false;
};

std::vector<icat_stream> icat_streams(const std::string& volume) {
  std::map<std::string, std::string> sha256_by_address;
  for (const std::string& line : split_lines(read_file(source_fixture_path(volume + ".sha.txt")))) {
    const auto fields = split_fields(line, "|");  // sha1|sha256|address
    sha256_by_address[fields.at(2)] = fields.at(1);
  }
  std::vector<icat_stream> streams;
  for (const std::string& line : split_lines(read_file(source_fixture_path(volume + ".md5.txt")))) {
    const auto fields = split_fields(line, "|");  // md5|address|path
    icat_stream stream;
    stream.content = {fields.at(0), sha256_by_address.at(fields.at(1))};
    stream.address = fields.at(1);
    stream.path = fields.back();
    stream.named = stream.path.substr(stream.path.rfind('/') + 1).find(':') != std::string::npos;
    streams.push_back(stream);
  }
  return streams;
}

std::string md5_of_address(const std::vector<icat_stream>& streams, const std::string& address) {
  for (const auto& stream : streams) {
    if (stream.address == address) return stream.content.md5;
  }
  ADD_FAILURE() << "no icat stream " << address;
  return {};
}

run_result copy_run(std::vector<std::string> arguments, const fs::path& folder) {
  arguments.insert(arguments.end(), {"-action_copy_files", folder.string(), "-quiet"});
  return run_brindle(arguments);
}

std::set<content_digests> contents_of(const std::vector<extracted_file>& files, stream_kind kind) {
  std::set<content_digests> contents;
  for (const auto& file : files) {
    if (file.kind == kind) contents.insert(file.content);
  }
  return contents;
}

// Checks shared by every extraction run: each name carries its content's
// MD5, nothing is left at the temporary name, nothing went wrong.
void expect_clean_copy(const run_result& run, const fs::path& folder, const std::vector<extracted_file>& files) {
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err.find("prob"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(folder / "__temp__.bin"));
  for (const auto& file : files) EXPECT_EQ(file.name_md5, file.content.md5) << file.relative;
}

TEST(FileExtraction, EveryStreamIsByteIdenticalToIcat) {
  scratch_folder scratch("extract-icat");
  for (const char* volume : {"basic", "streams", "fragmented"}) {
    SCOPED_TRACE(volume);
    const fs::path folder = scratch.path() / volume;
    const run_result run = copy_run({"-image", fixture_path(std::string(volume) + ".img"), "-all"}, folder);
    const auto files = files_below(folder);
    expect_clean_copy(run, folder, files);
    const auto expected = icat_streams(volume);
    std::set<content_digests> icat;
    for (const auto& stream : expected) icat.insert(stream.content);

    std::set<content_digests> copied;
    for (const auto& file : files) {
      EXPECT_TRUE(file.relative.rfind("valid/catchall/", 0) == 0 || file.relative.rfind("deleted-mft/catchall/", 0) == 0)
          << file.relative;
      if (file.kind == stream_kind::other) continue;
      copied.insert(file.content);
      // TSK gives $BadClus:$Bad no bytes; NTFS presents it as a sparse
      // stream as long as the volume.
      if (file.name.find("_$BadClus.$Bad_ads.bin") != std::string::npos) continue;
      EXPECT_TRUE(icat.count(file.content)) << "not what icat reads: " << file.relative;
    }
    std::size_t compared = 0;
    for (const auto& stream : expected) {
      if (stream.content.md5 == empty_md5) continue;  // empty streams are not copied
      EXPECT_TRUE(copied.count(stream.content)) << "not copied: " << stream.path << " " << stream.address;
      ++compared;
    }
    EXPECT_GT(compared, 15u);
  }

  // -named_data copies the streams that have names, the default only the
  // unnamed data streams; both agree with icat.
  const auto expected = icat_streams("basic");
  std::set<content_digests> icat_named, icat_unnamed;
  for (const auto& stream : expected) {
    if (stream.content.md5 == empty_md5) continue;
    (stream.named ? icat_named : icat_unnamed).insert(stream.content);
  }
  const fs::path named_folder = scratch.path() / "named";
  const run_result named = copy_run({"-image", fixture_path("basic.img"), "-named_data"}, named_folder);
  const auto named_files = files_below(named_folder);
  expect_clean_copy(named, named_folder, named_files);
  EXPECT_TRUE(contents_of(named_files, stream_kind::unnamed_data).empty());
  const auto named_data = contents_of(named_files, stream_kind::named_data);
  for (const auto& content : icat_named) EXPECT_TRUE(named_data.count(content)) << content.md5;
  // $I30 indexes have names too.
  EXPECT_FALSE(contents_of(named_files, stream_kind::other).empty());

  const fs::path default_folder = scratch.path() / "default";
  const run_result plain = copy_run({"-image", fixture_path("basic.img")}, default_folder);
  const auto plain_files = files_below(default_folder);
  expect_clean_copy(plain, default_folder, plain_files);
  EXPECT_EQ(contents_of(plain_files, stream_kind::unnamed_data), icat_unnamed);
  for (const auto& file : plain_files) EXPECT_EQ(file.kind, stream_kind::unnamed_data) << file.relative;
}

// The MFT record of `entry` in a volume image whose MFT starts with a run
// long enough to hold it (true of the low entries of basic.img).
std::span<std::uint8_t> mft_record(std::vector<std::uint8_t>& image, std::uint64_t entry) {
  const std::uint64_t cluster = peek(image, 0x0B, 2) * image[0x0D];
  const std::uint64_t at = peek(image, 0x30, 8) * cluster + entry * 1024;
  const std::span<std::uint8_t> record = std::span<std::uint8_t>(image).subspan(at, 1024);
  EXPECT_EQ(std::string(record.begin(), record.begin() + 4), "FILE");
  EXPECT_EQ(peek(record, 44, 4), entry);
  return record;
}

// Gives the record's one $FILE_NAME a shorter name (the old units past it
// stay but are not part of the name); fixups are undone and redone.
void rename_record(std::vector<std::uint8_t>& image, std::uint64_t entry, const std::u16string& name) {
  rewrite_record(mft_record(image, entry), [&](std::span<std::uint8_t> record) {
    const std::size_t attribute = find_attribute(record, 0x30);
    ASSERT_NE(attribute, no_attribute);
    ASSERT_EQ(find_attribute(record, 0x30, 1), no_attribute);
    const std::size_t value = value_offset_of(record, attribute);
    ASSERT_GE(record[value + 64], name.size());
    record[value + 64] = static_cast<std::uint8_t>(name.size());
    const byte_vector units = utf16le(name);
    std::copy(units.begin(), units.end(), record.begin() + value + 66);
  });
}

struct hostile_name {
  std::uint64_t entry;
  std::u16string name;
  std::string on_disk;  // what the copy's name holds
};

TEST(FileExtraction, HostileNamesAndPlantedLinksStayInsideTheFolder) {
  scratch_folder scratch("extract-hostile");
  const auto icat = icat_streams("basic");
  // Files of /bigdir: file_000.txt (101) and on, resident, modified
  // 2024-03-02 10:06:00.
  std::vector<std::uint8_t> image = read_bytes(fixture_path("basic.img"));
  const std::vector<hostile_name> names = {
      {101, u"..", ".."},
      {102, u"a/b", "a_b"},
      {103, u"..\\..\\x", ".._.._x"},
      {104, u"\\evil", "_evil"},
      {105, u"c\x01\x1f\x7f", "c___"},
      {106, std::u16string(u"n\0ul", 4), "n_ul"},
      {107, u".", "."},
  };
  for (const auto& hostile : names) rename_record(image, hostile.entry, hostile.name);
  // Entry 108 becomes a record of our own with a 255-unit name: 765 bytes
  // of UTF-8, which must be cut to fit with the time, digest and ".bin".
  const std::u16string long_name(255, u'\u65E5');
  const std::string long_content = "a name too long for Linux\n";
  const std::span<std::uint8_t> slot = mft_record(image, 108);
  const byte_vector record = record_builder()
                                 .sequence(static_cast<std::uint16_t>(peek(slot, 16, 2)))
                                 .entry(108)
                                 .standard_information(filetime_of_unix(1709373600))  // 2024-03-02 10:00:00
                                 .file_name(reference_of(100, 1), long_name)
                                 .resident(0x80, byte_vector(long_content.begin(), long_content.end()))
                                 .build();
  std::copy(record.begin(), record.end(), slot.begin());
  const std::string patched = scratch.file("hostile.img");
  write_bytes(patched, image);

  const fs::path folder = scratch.path() / "out";
  const fs::path inodes = folder / "valid" / "inodes";
  fs::create_directories(inodes);
  // A link at the temporary name must not carry the copy elsewhere.
  const std::string victim = scratch.file("victim.txt");
  write_bytes(victim, {'k', 'e', 'e', 'p'});
  fs::create_symlink(victim, folder / "__temp__.bin");
  // A file already at a copy's name is kept: the name holds the digest.
  const std::string file_009 = "2024_03_02_1006_00_000_" + md5_of_address(icat, "110-128-2") + "_file_009.txt.bin";
  write_bytes((inodes / file_009).string(), {'o', 'l', 'd'});

  const run_result run = copy_run({"-image", patched, "-filter_inode", "101,102,103,104,105,106,107,108,110"}, folder);
  EXPECT_EQ(read_file(victim), "keep");
  EXPECT_EQ(read_file((inodes / file_009).string()), "old");
  const auto files = files_below(folder);  // fails on any link left in the folder
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err.find("prob"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "__temp__.bin")));
  EXPECT_EQ(files.size(), names.size() + 2);
  const std::string root = fs::canonical(folder).string() + "/";
  std::set<std::string> relative;
  for (const auto& file : files) {
    EXPECT_EQ(fs::canonical(folder / file.relative).string().rfind(root, 0), 0u) << file.relative;
    EXPECT_LE(file.name.size(), walk::name_max_bytes);
    relative.insert(file.relative);
  }
  for (const auto& hostile : names) {
    const std::string md5 = md5_of_address(icat, std::to_string(hostile.entry) + "-128-2");
    const std::string expected = "valid/inodes/2024_03_02_1006_00_000_" + md5 + "_" + hostile.on_disk + ".bin";
    EXPECT_TRUE(relative.count(expected)) << expected;
  }
  // The long name keeps whole characters: 255 bytes less the time and
  // digest (56) and ".bin" leave 195 bytes, 65 three-byte characters.
  std::string cut;
  for (int i = 0; i < 65; ++i) cut.append("\xE6\x97\xA5");
  const std::string long_copy = "valid/inodes/2024_03_02_1000_00_000_" +
                                digests_of(byte_vector(long_content.begin(), long_content.end())).md5 + "_" + cut + ".bin";
  EXPECT_TRUE(relative.count(long_copy)) << ::testing::PrintToString(relative);
  const results_table rows = parse_results(results_body(run.out));
  EXPECT_EQ(rows.row_of(110)[rows.column("extracted file path")], (inodes / file_009).string());

  // Filter values are hostile too: "-filter_name .." selects ".." and
  // "..\..\x", and their folder is "__", not the parent folder.
  const fs::path by_name = scratch.path() / "by_name";
  const run_result name_run = copy_run({"-image", patched, "-filter_name", ".."}, by_name);
  const auto name_files = files_below(by_name);
  expect_clean_copy(name_run, by_name, name_files);
  EXPECT_EQ(name_files.size(), 2u);
  for (const auto& file : name_files) EXPECT_EQ(file.relative.rfind("valid/__/", 0), 0u) << file.relative;

  // A planted link in place of a state folder is not followed either: the
  // copy fails, is reported, and the record is still listed.
  const fs::path linked = scratch.path() / "linked";
  const fs::path elsewhere = scratch.path() / "elsewhere";
  fs::create_directories(linked);
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, linked / "valid");
  const run_result linked_run = copy_run({"-image", patched, "-filter_inode", "327"}, linked);
  EXPECT_EQ(linked_run.exit_status, 0);
  EXPECT_NE(linked_run.err.find("prob creating results directory " + (linked / "valid").string()), std::string::npos)
      << linked_run.err;
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_FALSE(fs::exists(linked / "__temp__.bin"));
  const results_table linked_rows = parse_results(results_body(linked_run.out));
  EXPECT_EQ(linked_rows.row_of(327)[linked_rows.column("extracted file path")], "");
}

TEST(FileExtraction, CarvedRecordsGoToDeletedUnallocWithTheInstanceTemporaryName) {
  // carving.img: free clusters hold byte-identical copies of records 64-95,
  // whose data clusters are still in place, so the carved copies read what
  // icat reads for the live entries.
  scratch_folder scratch("extract-carved");
  std::set<content_digests> icat;
  for (const auto& stream : icat_streams("carving")) icat.insert(stream.content);
  const fs::path folder = scratch.path() / "out";
  fs::create_directories(folder);
  // Instance 3 of a split run uses "3__temp__.bin" and leaves the other
  // instances' names alone.
  const std::string victim = scratch.file("victim.txt");
  write_bytes(victim, {'k', 'e', 'e', 'p'});
  fs::create_symlink(victim, folder / "3__temp__.bin");
  fs::create_symlink(victim, folder / "__temp__.bin");
  const run_result run =
      copy_run({"-image", fixture_path("carving.img"), "-filter_unalloc_clusters", "-cpuinst", "3", "-all"}, folder);
  EXPECT_EQ(read_file(victim), "keep");
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "3__temp__.bin")));
  EXPECT_TRUE(fs::is_symlink(folder / "__temp__.bin"));
  fs::remove(folder / "__temp__.bin");
  const auto files = files_below(folder);
  expect_clean_copy(run, folder, files);
  std::size_t data = 0;
  for (const auto& file : files) {
    EXPECT_EQ(file.relative.rfind("deleted-unalloc/catchall/", 0), 0u) << file.relative;
    if (file.kind == stream_kind::other) continue;
    EXPECT_TRUE(icat.count(file.content)) << file.relative;
    ++data;
  }
  EXPECT_GE(data, 24u);  // memos, reports, photos and the photos' Zone.Identifier streams
}

// A tmpfs mounted for one test; needs root (and a container that allows
// mounts), otherwise mounted() is false.
class scratch_mount {
 public:
  scratch_mount(const fs::path& where, const char* options) : m_where(where) {
    fs::create_directories(where);
    m_mounted = ::geteuid() == 0 && ::mount("tmpfs", where.c_str(), "tmpfs", 0, options) == 0;
  }
  ~scratch_mount() {
    if (m_mounted) ::umount2(m_where.c_str(), MNT_DETACH);
  }
  bool mounted() const { return m_mounted; }
  bool make_read_only() { return ::mount("tmpfs", m_where.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

 private:
  fs::path m_where;
  bool m_mounted = false;
};

TEST(FileExtraction, FolderThatCannotBeMadeEndsTheParse) {
  scratch_folder scratch("extract-parse");
  const std::string blocker = scratch.file("a_file");
  write_bytes(blocker, {'x'});
  const std::string folder = blocker + "/out";
  const run_result run = run_brindle({"-image", fixture_path("basic.img"), "-action_copy_files", folder, "-quiet"});
  EXPECT_EQ(run.exit_status, 255);
  EXPECT_EQ(run.err, "prob creating results directory, " + folder + "\n");
}

TEST(FileExtraction, FullAndReadOnlyFileSystemsAreReported) {
  scratch_folder scratch("extract-full");
  scratch_mount small(scratch.path() / "small", "size=200k");
  if (!small.mounted()) GTEST_SKIP() << "needs root and permission to mount a tmpfs";

  // Full: $MFT alone (344064 bytes) does not fit. Later, smaller files may.
  const fs::path folder = scratch.path() / "small" / "out";
  const std::string log = scratch.file("diags.txt");
  const run_result run = copy_run({"-image", fixture_path("basic.img"), "-diags", log}, folder);
  // The run ends with the failed write: no partial copy is left behind.
  EXPECT_EQ(run.exit_status, 255);
  EXPECT_EQ(run.err, "error: writing " + (folder / "__temp__.bin").string() + ": No space left on device\n");
  EXPECT_FALSE(fs::exists(folder / "__temp__.bin"));
  for (const auto& file : files_below(folder)) EXPECT_EQ(file.name_md5, file.content.md5) << file.relative;

  // Read-only: a folder that exists but takes no files.
  scratch_mount frozen(scratch.path() / "frozen", "size=1m");
  ASSERT_TRUE(frozen.mounted());
  fs::create_directories(scratch.path() / "frozen" / "out");
  ASSERT_TRUE(frozen.make_read_only());
  const fs::path frozen_folder = scratch.path() / "frozen" / "out";
  const run_result frozen_run = copy_run({"-image", fixture_path("basic.img"), "-filter_inode", "327"}, frozen_folder);
  EXPECT_EQ(frozen_run.exit_status, 0);
  EXPECT_NE(frozen_run.err.find("prob creating temporary file " + (frozen_folder / "__temp__.bin").string() +
                                ": Read-only file system"),
            std::string::npos)
      << frozen_run.err;
  const results_table rows = parse_results(results_body(frozen_run.out));
  EXPECT_EQ(rows.row_of(327)[rows.column("extracted file path")], "");
  // And one that cannot be made at all ends the parse.
  const std::string missing = (scratch.path() / "frozen" / "new").string();
  const run_result refused = copy_run({"-image", fixture_path("basic.img")}, missing);
  EXPECT_EQ(refused.exit_status, 255);
  EXPECT_EQ(refused.err, "prob creating results directory, " + missing + "\n");
}

std::uint64_t filetime_of(int year, unsigned month, unsigned day, int hour, int minute, int second, int milliseconds) {
  using namespace std::chrono;
  const sys_seconds at = sys_days{std::chrono::year{year} / month / day} + hours{hour} + minutes{minute} + seconds{second};
  return filetime_of_unix(at.time_since_epoch().count()) + static_cast<std::uint64_t>(milliseconds) * 10000;
}

TEST(FileExtractionNames, TimeDigestNameStreamLabelAndSuffix) {
  const std::string md5 = "0123456789abcdef0123456789abcdef";
  struct name_case {
    std::uint64_t modified;
    std::string md5_hex, stream, label;
    bool bin_suffix;
    std::string expected;
  };
  // Short digests are zero-filled on the left; times before 1970 and the
  // FILETIME epoch still give dates.
  const std::vector<name_case> cases = {
      {filetime_of(2019, 3, 4, 5, 6, 7, 89), md5, "", "unnamed data", true, "2019_03_04_0506_07_089_" + md5 + "_report.docx.bin"},
      {filetime_of(2019, 3, 4, 5, 6, 7, 89), md5, "", "unnamed data", false, "2019_03_04_0506_07_089_" + md5 + "_report.docx"},
      {filetime_of(2019, 3, 4, 5, 6, 7, 89), md5, "Zone.Identifier", "ads", true,
       "2019_03_04_0506_07_089_" + md5 + "_report.docx.Zone.Identifier_ads.bin"},
      {0, "abc", "", "unnamed data", true, "1601_01_01_0000_00_000_00000000000000000000000000000abc_report.docx.bin"},
      {filetime_of(1965, 5, 6, 7, 8, 9, 456), md5, "", "unnamed data", true, "1965_05_06_0708_09_456_" + md5 + "_report.docx.bin"},
      {filetime_of(2000, 2, 29, 23, 59, 59, 999), md5, "", "unnamed data", true, "2000_02_29_2359_59_999_" + md5 + "_report.docx.bin"},
  };
  for (const name_case& c : cases) {
    walk::copy_name_parts parts;
    parts.modified = c.modified;
    parts.md5_hex = c.md5_hex;
    parts.name = "report.docx";
    parts.stream = c.stream;
    parts.label = c.label;
    parts.bin_suffix = c.bin_suffix;
    std::string name;
    walk::compose_copy_name(parts, name);
    EXPECT_EQ(name, c.expected);
  }
}

TEST(FileExtractionNames, LongNamesAreCutOnCharacterBoundaries) {
  const std::string md5(32, 'f');
  std::string four_byte_name, four_byte_stream;
  for (int i = 0; i < 127; ++i) four_byte_name.append("\xF0\x9F\x98\x80");  // U+1F600, a surrogate pair on disk
  for (int i = 0; i < 127; ++i) four_byte_stream.append("\xF0\x9F\x98\x81");
  walk::copy_name_parts parts;
  parts.md5_hex = md5;
  parts.name = four_byte_name;
  parts.stream = four_byte_stream;
  parts.label = "ads";
  std::string name;
  walk::compose_copy_name(parts, name);
  EXPECT_LE(name.size(), walk::name_max_bytes);
  EXPECT_TRUE(ends_with(name, "_ads.bin")) << name;
  // 255 - 56 (time, digest) - 1 (".") - 4 ("_ads") - 4 (".bin") = 190 bytes
  // shared: 95 each, so 23 whole characters (92 bytes) of each.
  const std::string body = name.substr(56, name.size() - 56 - 8);
  const std::size_t dot = body.find('.');
  ASSERT_NE(dot, std::string::npos);
  EXPECT_EQ(body.substr(0, dot), four_byte_name.substr(0, 92));
  EXPECT_EQ(body.substr(dot + 1), four_byte_stream.substr(0, 92));

  // A short name leaves its room to a long stream name.
  parts.name = "a.txt";
  walk::compose_copy_name(parts, name);
  EXPECT_LE(name.size(), walk::name_max_bytes);
  EXPECT_GT(name.size(), walk::name_max_bytes - 4);
  EXPECT_EQ(name.substr(56, 6), "a.txt.");
  EXPECT_EQ((name.size() - 56 - 6 - 8) % 4, 0u);
}

TEST(FileExtractionNames, UnsafeBytesAndFolderNames) {
  std::string text;
  walk::append_safe_bytes(text, std::string("a/b\\c\0d\x01\x1f\x7f" "e:f g", 15));
  EXPECT_EQ(text, "a_b_c_d___e:f g");

  std::string folder;
  for (const auto& [given, wanted] : std::vector<std::pair<std::string, std::string>>{
           {"..", "__"}, {".", "_"}, {"", "_"}, {"../../etc", ".._.._etc"}, {"txt", "txt"}, {"a\nb", "a_b"}}) {
    walk::safe_folder_name(given, folder);
    EXPECT_EQ(folder, wanted) << given;
  }
  walk::safe_folder_name(std::string(300, 'x'), folder);
  EXPECT_EQ(folder.size(), walk::name_max_bytes);

  for (const auto& [given, wanted] : std::vector<std::pair<std::string, std::string>>{
           {"\\Users\\Bob Smith", "[root]-Users-Bob_Smith"},
           {"/a/b", "[root]-a-b"},
           {"C:\\Windows", "C-Windows"},
           {"..\\..", "..-.."}}) {
    walk::directory_folder_text(given, folder);
    EXPECT_EQ(folder, wanted) << given;
  }
}

}  // namespace
