// Digests of file contents against coreutils' digests of what The Sleuth
// Kit's icat reads for the same streams (recorded in NAME.md5.txt and
// NAME.sha.txt when the fixtures were made). How -raw, -skip_sparse_clusters
// and an extracted $MFT change what is hashed, and the digests in each
// layout, are golden runs (content_digests).
#include <gtest/gtest.h>

#include <map>

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
    // Read through a chain of two VHD (and VHDX) differencing disks over a dynamic one.
    {"vhd-diff-child2-p6", "vhd-diff-child2.vhd", "0x3100000"},
    {"vhd-diff-child2-p6", "vhdx-diff-child2.vhdx", "0x3100000"},
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

}  // namespace
