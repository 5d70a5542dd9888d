// Digests of file contents against coreutils' digests of what The Sleuth
// Kit's icat reads for the same streams (recorded in NAME.md5.txt and
// NAME.sha.txt when the fixtures were made), and how -raw,
// -skip_sparse_clusters and an extracted $MFT change what is hashed.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

struct stream_digests {
  std::string md5, sha1, sha256;
};

// Digests of each entry's unnamed $DATA stream, by entry number.
std::map<std::uint64_t, stream_digests> icat_digests(const std::string& volume) {
  std::map<std::string, std::string> sha_by_address;
  for (const std::string& line : split_lines(read_file(source_fixture_path(volume + ".sha.txt")))) {
    const auto fields = split_fields(line, "|");  // sha1|sha256|address
    sha_by_address[fields.at(2)] = fields.at(0) + "|" + fields.at(1);
  }
  std::map<std::uint64_t, stream_digests> digests;
  for (const std::string& line : split_lines(read_file(source_fixture_path(volume + ".md5.txt")))) {
    const auto fields = split_fields(line, "|");  // md5|entry-128-id|path
    const std::string& path = fields.back();
    if (path.substr(path.rfind('/') + 1).find(':') != std::string::npos) continue;  // a named stream
    const auto sha = split_fields(sha_by_address.at(fields[1]), "|");
    digests[std::stoull(fields[1])] = {fields[0], sha.at(0), sha.at(1)};
  }
  return digests;
}

struct hash_line {
  std::string md5, sha1, sha256;
  std::uint64_t size = 0;
  std::string comment;
};

// -hashfile "md5|sha1|sha256" as CSV: entry -> its line (the first name).
std::map<std::uint64_t, hash_line> hash_layout(const std::vector<std::string>& source,
                                               const std::vector<std::string>& extra = {}) {
  std::vector<std::string> arguments = source;
  arguments.insert(arguments.end(), {"-hashfile", "md5|sha1|sha256", "-csv", "-base10", "-quiet"});
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  const run_result run = run_brindle(arguments);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  const std::vector<std::string> rows = split_lines(results_body(run.out));
  std::map<std::uint64_t, hash_line> lines;
  if (rows.empty()) return lines;
  EXPECT_EQ(rows[0].rfind("md5 hash,sha1 hash,sha256 hash,inode,file size,", 0), 0u) << rows[0];
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto fields = split_fields(rows[i], ",");
    if (fields.size() < 27) {
      ADD_FAILURE() << rows[i];
      continue;
    }
    hash_line line{fields[0], fields[1], fields[2], std::stoull(fields[4]), fields.back()};
    lines.emplace(std::stoull(fields[3]), line);
  }
  return lines;
}

const char* const volumes[][3] = {
    {"basic", "basic.img", ""},       {"sector4k", "sector4k.img", ""},   {"streams", "streams.img", ""},
    {"fragmented", "fragmented.img", ""}, {"carving", "carving.img", ""}, {"mbr-p6", "mbr.img", "0x3100000"},
    {"gpt-p2", "gpt.img", "0x900000"},   {"straddle", "straddle.img", ""}, {"cluster128k", "cluster128k.img", ""},
    {"cluster2m", "cluster2m.img", ""},  {"adsplit", "adsplit.img", ""},   {"oldheader", "oldheader.img", ""},
    {"mbr-odd-p3", "mbr-odd.img", "0xa00000"}, {"mbr-s4k-p1", "mbr-s4k.img", "0x100000"},
    {"4kn-gpt-p1", "4kn-gpt.img", "0x100000"},
};

TEST(ContentHashes, EveryUnnamedStreamMatchesCoreutilsOverIcat) {
  for (const auto& [name, image, offset] : volumes) {
    std::vector<std::string> source = {"-image", fixture_path(image)};
    if (*offset) source.insert(source.end(), {"-offset", offset});
    const auto expected = icat_digests(name);
    const auto lines = hash_layout(source);
    std::size_t compared = 0;
    for (const auto& [entry, line] : lines) {
      if (line.comment.rfind("refinode", 0) == 0) continue;  // inode is the extension record's
      SCOPED_TRACE(std::string(name) + " entry " + std::to_string(entry));
      if (line.size == 0) {  // fls lists no stream for some empty system records
        EXPECT_EQ(line.md5, "no data");
        EXPECT_EQ(line.sha256, "no data");
        continue;
      }
      const auto want = expected.find(entry);
      ASSERT_NE(want, expected.end());
      EXPECT_EQ(line.md5, want->second.md5);
      EXPECT_EQ(line.sha1, want->second.sha1);
      EXPECT_EQ(line.sha256, want->second.sha256);
      ++compared;
    }
    EXPECT_GT(compared, 5u) << name;
  }
}

TEST(ContentHashes, RawSparseAndExtractedMftChangeWhatIsHashed) {
  const std::vector<std::string> image = {"-image", fixture_path("streams.img")};
  const auto normal = hash_layout(image);
  const auto raw = hash_layout(image, {"-raw"});
  const auto skipped = hash_layout(image, {"-skip_sparse_clusters"});
  ASSERT_EQ(normal.size(), raw.size());
  ASSERT_EQ(normal.size(), skipped.size());
  std::size_t raw_differs = 0, skip_differs = 0, resident = 0;
  for (const auto& [entry, line] : normal) {
    SCOPED_TRACE("entry " + std::to_string(entry));
    // -raw reads the allocated size and compressed units as stored, so a
    // stream that does not end on a cluster boundary hashes differently.
    if (raw.at(entry).md5 != line.md5) ++raw_differs;
    if (line.size != 0 && line.size % 4096 == 0 && line.size < 700) EXPECT_EQ(raw.at(entry).md5, line.md5);
    // Leaving holes out can only change streams that have holes.
    if (skipped.at(entry).md5 != line.md5) ++skip_differs;
  }
  EXPECT_GT(raw_differs, 5u);
  EXPECT_GT(skip_differs, 2u);
  EXPECT_LT(skip_differs, normal.size() / 2);

  // Without clusters only resident values can be hashed; those agree.
  const auto from_image = hash_layout({"-image", fixture_path("basic.img")});
  const auto bare = hash_layout({"-mftfile", fixture_path("basic.mft")});
  ASSERT_EQ(from_image.size(), bare.size());
  for (const auto& [entry, line] : bare) {
    if (line.md5 == "no data") continue;
    EXPECT_EQ(line.md5, from_image.at(entry).md5) << entry;
    EXPECT_EQ(line.sha256, from_image.at(entry).sha256) << entry;
    EXPECT_LT(line.size, 1024u) << entry;
    ++resident;
  }
  EXPECT_GT(resident, 20u);
  EXPECT_EQ(bare.at(6).md5, "no data");  // $Bitmap lies in clusters
}

TEST(ContentHashes, DigestsReachEveryLayout) {
  const std::vector<std::string> source = {"-image", fixture_path("basic.img"), "-quiet", "-filter_inode", "0"};
  const std::string mft_md5 = icat_digests("basic").at(0).md5;
  struct layout_case {
    std::vector<std::string> options;
    std::string expected;  // must appear in the results
  };
  const std::vector<layout_case> cases = {
      {{"-md5", "-csv"}, "," + mft_md5 + ",$MFT,"},
      {{"-md5", "-csvperpath"}, "md5_hash: " + mft_md5 + "]"},
      {{"-md5", "-csvl2t"}, "md5_hash: " + mft_md5 + "]"},
      {{"-md5", "-bodyfile"}, mft_md5 + "|[root]\\$MFT ("},
      {{"-bodyfile"}, "\n0|[root]\\$MFT ("},
      {{"-hashfile", "MD5"}, "md5 hash                        |inode"},
  };
  for (const layout_case& c : cases) {
    std::vector<std::string> arguments = source;
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const run_result run = run_brindle(arguments);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_NE(run.out.find(c.expected), std::string::npos) << ::testing::PrintToString(c.options) << "\n" << run.out;
  }
}

}  // namespace

namespace {

// The owners volume holds a PE executable, a registry hive, an SQLite
// database and a shortcut under /types: each signature selects its file
// alone, and the header columns show their first bytes.
TEST(ContentHeaders, SignaturesAndHeaderTextOnKnownFileTypes) {
  const std::vector<std::string> source = {"-image", fixture_path("owners.img"), "-csv", "-quiet"};
  const auto names_selected = [&](const std::string& signature) {
    std::vector<std::string> arguments = source;
    arguments.insert(arguments.end(), {"-filter_sig", signature});
    std::set<std::string> names;
    for (const std::string& line : split_lines(results_body(run_brindle(arguments).out))) {
      const auto fields = split_fields(line, ",");
      if (fields.size() > 12 && fields[0] != "mft entry") names.insert(fields[11]);
    }
    return names;
  };
  EXPECT_EQ(names_selected("mz"), (std::set<std::string>{"tool.exe"}));
  EXPECT_EQ(names_selected("64bit_pe"), (std::set<std::string>{"tool.exe"}));
  EXPECT_TRUE(names_selected("32bit_pe").empty());
  EXPECT_EQ(names_selected("hive"), (std::set<std::string>{"NTUSER.DAT"}));
  EXPECT_EQ(names_selected("sqlite"), (std::set<std::string>{"places.sqlite"}));
  EXPECT_EQ(names_selected("lnk"), (std::set<std::string>{"report.lnk"}));
  EXPECT_EQ(names_selected("hive|sqlite"), (std::set<std::string>{"NTUSER.DAT", "places.sqlite"}));

  std::vector<std::string> bytes = source;
  bytes.insert(bytes.end(), {"-action_include_header", "-filter_name", "tool.exe"});
  const std::string with_bytes = run_brindle(bytes).out;
  EXPECT_NE(with_bytes.find(",header info\n"), std::string::npos) << with_bytes;
  EXPECT_NE(with_bytes.find(",4d 5a 90 00 00 00"), std::string::npos) << with_bytes;
  std::vector<std::string> strings = source;
  strings.insert(strings.end(), {"-action_find_strings_in_hdr", "-filter_name", "places.sqlite"});
  const std::string with_strings = run_brindle(strings).out;
  EXPECT_NE(with_strings.find(",SQLite format 3; sqlite the quick brown fox"), std::string::npos) << with_strings;
}

}  // namespace
