// -action_copy_files: every copied stream must hold exactly the bytes The
// Sleuth Kit's icat reads for it (NAME.md5.txt was made from icat when the
// fixtures were built) and carry its MD5 in its name. Names from the volume
// are hostile input: the tests plant "..", separators, control characters
// and a 255-unit name in a copy of a fixture volume, plant links in the
// results folder, and fill or freeze the file system under it. Names,
// folders and the per-option choice of streams of ordinary runs are golden
// runs (file_extraction).
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

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

std::string md5_of(const std::vector<std::uint8_t>& bytes) {
  support::digest_set set;
  set.start(true, false, false);
  set.update(bytes);
  set.finish();
  char md5[33];
  return std::string(support::digest_hex(*set.md5_value(), md5));
}

struct extracted_file {
  std::string relative;  // below the results folder, "/"-separated
  std::string name;
  std::string md5;
  bool data = true;  // a $DATA stream, not another attribute's bytes
};

// Every file below `folder`; a link anywhere inside it is a failure, and
// each name but `planted` must carry its content's MD5
// ("yyyy_mm_dd_hhmm_ss_mmm_<md5>_").
std::vector<extracted_file> files_below(const fs::path& folder, const std::string& planted = "") {
  std::vector<extracted_file> files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    EXPECT_FALSE(entry.is_symlink()) << "link in the results folder: " << entry.path();
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    const std::string name = entry.path().filename().string();
    extracted_file file{fs::relative(entry.path(), folder).generic_string(), name,
                        md5_of(read_bytes(entry.path().string()))};
    if (file.relative != planted) {
      EXPECT_EQ(name.substr(23, 32), file.md5) << file.relative;
    }
    for (const char* label : {"obj id", "security descr", "vol name", "vol info", "indx root", "indx alloc", "bitmap",
                              "reparse point", "extended attribs info", "extended attribs", "property set",
                              "logged stream", "unk"}) {
      if (name.ends_with(std::string("_") + label + ".bin")) file.data = false;
    }
    files.push_back(file);
  }
  return files;
}

// "entry-128-id" -> MD5 of what icat reads for that $DATA stream.
std::map<std::string, std::string> icat_md5(const std::string& volume) {
  std::map<std::string, std::string> streams;
  for (const std::string& line : split_lines(read_file(source_fixture_path(volume + ".md5.txt")))) {
    const auto fields = split_fields(line, "|");  // md5|address|path
    streams[fields.at(1)] = fields.at(0);
  }
  return streams;
}

run_result copy_run(std::vector<std::string> arguments, const fs::path& folder) {
  arguments.insert(arguments.end(), {"-action_copy_files", folder.string(), "-quiet"});
  return run_brindle(arguments);
}

TEST(FileExtraction, EveryStreamIsByteIdenticalToIcat) {
  scratch_folder scratch("extract-icat");
  // Hundreds of copies under a limit of 64 descriptors: one left open per
  // copy ends in failed copies long before the last.
  rlimit descriptors{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &descriptors), 0);
  const rlimit few{std::min<rlim_t>(64, descriptors.rlim_cur), descriptors.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
  struct icat_case {
    std::string volume;
    std::vector<std::string> options;
    std::string folder;  // where every copy lands
    bool all_streams;    // every non-empty icat stream is copied
  };
  // carving.img: free clusters hold byte-identical copies of records 64-95,
  // whose data clusters are still in place.
  for (const icat_case& c : std::vector<icat_case>{{"basic", {"-all"}, "catchall/", true},
                                                   {"streams", {"-all"}, "catchall/", true},
                                                   {"fragmented", {"-all"}, "catchall/", true},
                                                   {"carving", {"-filter_unalloc_clusters", "-all"},
                                                    "deleted-unalloc/catchall/", false}}) {
    SCOPED_TRACE(c.volume);
    const fs::path folder = scratch.path() / c.volume;
    std::vector<std::string> arguments = {"-image", fixture_path(c.volume + ".img")};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const run_result run = copy_run(arguments, folder);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.err.find("prob"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(folder / "__temp__.bin"));
    std::set<std::string> icat, copied;
    for (const auto& [address, md5] : icat_md5(c.volume)) icat.insert(md5);
    std::size_t data = 0;
    for (const auto& file : files_below(folder)) {
      EXPECT_NE(file.relative.find(c.folder), std::string::npos) << file.relative;
      // TSK gives $BadClus:$Bad no bytes; NTFS presents it as a sparse
      // stream as long as the volume.
      if (!file.data || file.name.find("_$BadClus.$Bad_ads.bin") != std::string::npos) continue;
      EXPECT_TRUE(icat.count(file.md5)) << "not what icat reads: " << file.relative;
      copied.insert(file.md5);
      ++data;
    }
    EXPECT_GE(data, 20u);
    icat.erase("d41d8cd98f00b204e9800998ecf8427e");  // empty streams are not copied
    if (c.all_streams) {
      EXPECT_EQ(copied, icat);
    }
  }
  ::setrlimit(RLIMIT_NOFILE, &descriptors);
}

// The MFT record of `entry` in a volume image whose MFT starts with a run
// long enough to hold it (true of the low entries of basic.img).
std::span<std::uint8_t> mft_record(std::vector<std::uint8_t>& image, std::uint64_t entry) {
  const std::uint64_t cluster = peek(image, 0x0B, 2) * image[0x0D];
  const std::uint64_t at = peek(image, 0x30, 8) * cluster + entry * 1024;
  const std::span<std::uint8_t> record = std::span<std::uint8_t>(image).subspan(at, 1024);
  EXPECT_EQ(peek(record, 44, 4), entry);
  return record;
}

// Gives the record's one $FILE_NAME a shorter name (the old units past it
// stay but are not part of the name); fixups are undone and redone.
void rename_record(std::vector<std::uint8_t>& image, std::uint64_t entry, const std::u16string& name) {
  rewrite_record(mft_record(image, entry), [&](std::span<std::uint8_t> record) {
    const std::size_t value = value_offset_of(record, find_attribute(record, 0x30));
    ASSERT_GE(record[value + 64], name.size());
    record[value + 64] = static_cast<std::uint8_t>(name.size());
    const byte_vector units = utf16le(name);
    std::copy(units.begin(), units.end(), record.begin() + value + 66);
  });
}

TEST(FileExtraction, HostileNamesAndPlantedLinksStayInsideTheFolder) {
  scratch_folder scratch("extract-hostile");
  const auto icat = icat_md5("basic");
  // Files of /bigdir: file_000.txt (101) and on, resident, modified
  // 2024-03-02 10:06:00.
  std::vector<std::uint8_t> image = read_bytes(fixture_path("basic.img"));
  const std::map<std::uint64_t, std::pair<std::u16string, std::string>> names = {
      {101, {u"..", ".."}},          {102, {u"a/b", "a_b"}},   {103, {u"..\\..\\x", ".._.._x"}},
      {104, {u"\\evil", "_evil"}},   {105, {u"c\x01\x1f\x7f", "c___"}},
      {106, {std::u16string(u"n\0ul", 4), "n_ul"}},            {107, {u".", "."}},
  };
  for (const auto& [entry, name] : names) rename_record(image, entry, name.first);
  // Entry 108 becomes a record of our own with a 255-unit name: 765 bytes
  // of UTF-8, which must be cut to fit with the time, digest and ".bin".
  const std::string long_content = "a name too long for Linux\n";
  const std::span<std::uint8_t> slot = mft_record(image, 108);
  const byte_vector record = record_builder()
                                 .sequence(static_cast<std::uint16_t>(peek(slot, 16, 2)))
                                 .entry(108)
                                 .standard_information(filetime_of_unix(1709373600))  // 2024-03-02 10:00:00
                                 .file_name(reference_of(100, 1), std::u16string(255, u'\u65E5'))
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
  const std::string file_009 = "2024_03_02_1006_00_000_" + icat.at("110-128-2") + "_file_009.txt.bin";
  write_bytes((inodes / file_009).string(), {'o', 'l', 'd'});

  const run_result run = copy_run({"-image", patched, "-filter_inode", "101,102,103,104,105,106,107,108,110"}, folder);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err.find("prob"), std::string::npos) << run.err;
  EXPECT_EQ(read_file(victim), "keep");
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "__temp__.bin")));
  std::set<std::string> relative;
  for (const auto& file : files_below(folder, "valid/inodes/" + file_009)) relative.insert(file.relative);
  std::set<std::string> expected = {"valid/inodes/" + file_009};
  for (const auto& [entry, name] : names) {
    expected.insert("valid/inodes/2024_03_02_1006_00_000_" + icat.at(std::to_string(entry) + "-128-2") + "_" +
                    name.second + ".bin");
  }
  // The long name keeps whole characters: 255 bytes less the time and
  // digest (56) and ".bin" leave 195 bytes, 65 three-byte characters.
  std::string cut;
  for (int i = 0; i < 65; ++i) cut.append("\xE6\x97\xA5");
  expected.insert("valid/inodes/2024_03_02_1000_00_000_" +
                  md5_of(byte_vector(long_content.begin(), long_content.end())) + "_" + cut + ".bin");
  EXPECT_EQ(relative, expected);
  EXPECT_EQ(read_file((inodes / file_009).string()), "old");
  const results_table rows = parse_results(results_body(run.out));
  EXPECT_EQ(rows.row_of(110)[rows.column("extracted file path")], (inodes / file_009).string());

  // Filter values are hostile too: "-filter_name .." selects ".." and
  // "..\..\x", and their folder is "__", not the parent folder.
  const fs::path by_name = scratch.path() / "by_name";
  EXPECT_EQ(copy_run({"-image", patched, "-filter_name", ".."}, by_name).exit_status, 0);
  const auto name_files = files_below(by_name);
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
  const results_table linked_rows = parse_results(results_body(linked_run.out));
  EXPECT_EQ(linked_rows.row_of(327)[linked_rows.column("extracted file path")], "");
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

TEST(FileExtraction, FullAndReadOnlyFileSystemsAreReported) {
  scratch_folder scratch("extract-full");
  scratch_mount small(scratch.path() / "small", "size=200k");
  if (!small.mounted()) GTEST_SKIP() << "needs root and permission to mount a tmpfs";

  // Full: $MFT alone (344064 bytes) does not fit. The run ends with the
  // failed write, and no partial copy is left behind.
  const fs::path folder = scratch.path() / "small" / "out";
  const run_result run = copy_run({"-image", fixture_path("basic.img")}, folder);
  EXPECT_EQ(run.exit_status, 255);
  EXPECT_EQ(run.err, "error: writing " + (folder / "__temp__.bin").string() + ": No space left on device\n");
  EXPECT_FALSE(fs::exists(folder / "__temp__.bin"));
  files_below(folder);

  // Read-only: a folder that exists but takes no files.
  scratch_mount frozen(scratch.path() / "frozen", "size=1m");
  ASSERT_TRUE(frozen.mounted());
  const fs::path frozen_folder = scratch.path() / "frozen" / "out";
  fs::create_directories(frozen_folder);
  ASSERT_TRUE(frozen.make_read_only());
  const run_result frozen_run = copy_run({"-image", fixture_path("basic.img"), "-filter_inode", "327"}, frozen_folder);
  EXPECT_EQ(frozen_run.exit_status, 0);
  EXPECT_NE(frozen_run.err.find("prob creating temporary file " + (frozen_folder / "__temp__.bin").string() +
                                ": Read-only file system"),
            std::string::npos)
      << frozen_run.err;
  const results_table rows = parse_results(results_body(frozen_run.out));
  EXPECT_EQ(rows.row_of(327)[rows.column("extracted file path")], "");
}

TEST(FileExtractionNames, LongNamesShareTheRoomOnCharacterBoundaries) {
  std::string four_byte_name, four_byte_stream;
  for (int i = 0; i < 127; ++i) four_byte_name.append("\xF0\x9F\x98\x80");  // U+1F600, a surrogate pair on disk
  for (int i = 0; i < 127; ++i) four_byte_stream.append("\xF0\x9F\x98\x81");
  const std::string md5(32, 'f');
  walk::copy_name_parts parts{0, md5, four_byte_name, four_byte_stream, "ads", true};
  std::string name;
  walk::compose_copy_name(parts, name);
  // 255 - 56 (time, digest) - 1 (".") - 4 ("_ads") - 4 (".bin") = 190 bytes
  // shared: 95 each, so 23 whole characters (92 bytes) of each.
  EXPECT_EQ(name, "1601_01_01_0000_00_000_" + md5 + "_" + four_byte_name.substr(0, 92) + "." +
                      four_byte_stream.substr(0, 92) + "_ads.bin");
  // A short name leaves its room to a long stream name.
  parts.name = "a.txt";
  walk::compose_copy_name(parts, name);
  EXPECT_EQ(name, "1601_01_01_0000_00_000_" + md5 + "_a.txt." + four_byte_stream.substr(0, 4 * 46) + "_ads.bin");
}

}  // namespace
