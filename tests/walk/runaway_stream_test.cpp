// Streams never cost more than the volume holds: an extent past the volume
// is left out with a note, sparse runs are extracted as holes, and carving
// over a bad sector loses only the record slot the sector lies in.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t record_bytes = 1024;

// Bytes the files below `folder` take on disk, and the largest size.
std::pair<std::uint64_t, std::uint64_t> space_below(const fs::path& folder) {
  std::uint64_t taken = 0, largest = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    struct stat status {};
    if (!entry.is_regular_file() || ::stat(entry.path().c_str(), &status) != 0) continue;
    taken += static_cast<std::uint64_t>(status.st_blocks) * 512;
    largest = std::max<std::uint64_t>(largest, static_cast<std::uint64_t>(status.st_size));
  }
  return {taken, largest};
}

// basic.img with the unnamed stream of download.exe (entry 97) claiming one
// sparse run of 2^28 clusters: 1 TiB on a 16 MiB volume.
std::string terabyte_image(const scratch_folder& folder) {
  byte_vector image = read_bytes(fixture_path("basic.img"));
  const std::uint64_t cluster = peek(image, 11, 2) * peek(image, 13, 1);
  const std::size_t at = static_cast<std::size_t>(peek(image, 48, 8) * cluster + 97 * record_bytes);
  rewrite_record(std::span<std::uint8_t>(image).subspan(at, record_bytes), [](std::span<std::uint8_t> record) {
    const std::size_t data = find_attribute(record, 0x80);
    ASSERT_NE(data, no_attribute);
    ASSERT_EQ(record[data + 8], 1);  // non-resident
    const std::size_t runs = data + peek(record, data + 32, 2);
    ASSERT_GE(data + peek(record, data + 4, 4), runs + 6);
    const std::uint8_t sparse_run[] = {0x04, 0x00, 0x00, 0x00, 0x10, 0x00};  // 0x10000000 clusters, no LCN
    std::copy(std::begin(sparse_run), std::end(sparse_run), record.begin() + static_cast<std::ptrdiff_t>(runs));
    poke(record, data + 24, 0x0FFFFFFF, 8);  // last VCN
    for (const std::size_t size : {40, 48, 56}) poke(record, data + size, 1ULL << 40, 8);
  });
  const std::string path = folder.file("terabyte.img");
  write_bytes(path, image);
  return path;
}

TEST(RunawayStreams, StreamsTakeNoMoreThanTheVolumeHolds) {
  scratch_folder folder("runaway");
  const std::string log = folder.file("diags.txt");
  const run_result terabyte = run_brindle({"-image", terabyte_image(folder), "-filter_inode", "97", "-md5",
                                           "-action_copy_files", folder.file("tb"), "-diags", log, "-quiet"},
                                          30);
  EXPECT_EQ(terabyte.exit_status, 0) << terabyte.err;
  EXPECT_NE(read_file(log).find("info: inode 0x61 stream '' [unnamed data]: extents past the end of the volume"),
            std::string::npos);
  EXPECT_LT(space_below(folder.path() / "tb").second, 1u << 20);

  // /sparse/sparse.bin: 200 clusters of hole, then 3600 bytes.
  ASSERT_EQ(run_brindle({"-image", fixture_path("basic.img"), "-filter_inode", "315", "-action_copy_files",
                         folder.file("sparse"), "-quiet"})
                .exit_status,
            0);
  const auto [taken, largest] = space_below(folder.path() / "sparse");
  EXPECT_EQ(largest, 822800u);
  EXPECT_LT(taken, 64u << 10);
}

TEST(RunawayStreams, ABadSectorCostsOneCarvedRecord) {
  // carving.carved.txt: "entry|byte offset" of each record copy in free
  // clusters. The sector after the first copy's first 512 bytes goes bad.
  const auto lines = split_lines(read_file(source_fixture_path("carving.carved.txt")));
  ASSERT_GT(lines.size(), 2u);
  const std::string bad = std::to_string(std::stoull(split_fields(lines[0], "|")[1]) + 512);
  const auto carved = [&](bool with_bad_sector) {
    if (with_bad_sector) {
      ::setenv("LD_PRELOAD", BRINDLE_BAD_SECTOR_SHIM, 1);
      ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
      ::setenv("BRINDLE_BAD_FILE", "/carving.img", 1);
      ::setenv("BRINDLE_BAD_OFFSET", bad.c_str(), 1);
    }
    const run_result run =
        run_brindle({"-image", fixture_path("carving.img"), "-filter_unalloc_clusters", "-csvperpath", "-quiet"});
    for (const char* name : {"LD_PRELOAD", "BRINDLE_BAD_FILE", "BRINDLE_BAD_OFFSET"}) ::unsetenv(name);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    return split_lines(results_body(run.out));
  };
  const auto whole = carved(false), damaged = carved(true);
  EXPECT_EQ(damaged.size() + 1, whole.size());
}

}  // namespace
