// The results after the run header do not depend on the number of walk
// threads: every committed $MFT and volume, every layout, one thread against
// the default and against three.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/common/test_support.h"

namespace {

using testing_support::fixture_path;
using testing_support::results_body;
using testing_support::run_brindle;
using testing_support::source_fixture_path;

using arguments = std::vector<std::string>;

// Every committed fixture of `suffix` ("mft.xz", "img.xz"), as its
// unpacked path.
std::vector<std::string> fixtures_ending(const std::string& suffix) {
  std::vector<std::string> found;
  for (const auto& item : std::filesystem::directory_iterator(source_fixture_path(""))) {
    const std::string name = item.path().filename().string();
    if (name.ends_with("." + suffix)) found.push_back(fixture_path(name.substr(0, name.size() - 3)));
  }
  std::sort(found.begin(), found.end());
  return found;
}

void expect_same_for_every_thread_count(const arguments& run) {
  arguments one = run;
  one.insert(one.end(), {"-threads", "1"});
  // A partitioned disk without -offset fails alike on any number of threads.
  const testing_support::run_result reference = run_brindle(one);
  for (const arguments& threads : {arguments{}, arguments{"-threads", "3"}}) {
    arguments other = run;
    other.insert(other.end(), threads.begin(), threads.end());
    const testing_support::run_result result = run_brindle(other);
    EXPECT_EQ(result.exit_status, reference.exit_status);
    EXPECT_TRUE(results_body(result.out) == results_body(reference.out))
        << "results differ: " << testing::PrintToString(other);
  }
}

// Each $MFT with one layout, the layouts in turn, so that every fixture and
// every layout (each on two fixtures or more) is run at a fraction of the
// cost of all pairs.
TEST(thread_count, extracted_mft_every_layout) {
  const std::vector<arguments> layouts = {
      {},           {"-csv"},   {"-csvperpath"},     {"-filepath_only"},
      {"-bodyfile"}, {"-csvl2t"}, {"-jsonl"},          {"-jsonl_timeline"},
      {"-hashfile", "md5"},       {"-csv", "-filter_deleted_files"}};
  const std::vector<std::string> mfts = fixtures_ending("mft.xz");
  for (std::size_t i = 0; i < mfts.size(); ++i) {
    arguments run = {"-mftfile", mfts[i], "-quiet"};
    run.insert(run.end(), layouts[i % layouts.size()].begin(), layouts[i % layouts.size()].end());
    expect_same_for_every_thread_count(run);
  }
}

// Through a volume the threads read non-resident streams, owners and
// header bytes; the free-cluster scan follows the threaded walk.
TEST(thread_count, volume_images_with_data) {
  std::vector<arguments> runs;
  const std::vector<arguments> layouts = {
      {"-hashfile", "md5|sha1|sha256"}, {"-csvperpath", "-sha256", "-action_include_ownersid", "-action_include_header"}};
  const std::vector<std::string> images = fixtures_ending("img.xz");
  for (std::size_t i = 0; i < images.size(); ++i) {
    arguments run = {"-image", images[i]};
    run.insert(run.end(), layouts[i % 2].begin(), layouts[i % 2].end());
    runs.push_back(run);
  }
  runs.push_back({"-image", fixture_path("ewf-seg.E01"), "-offset", "0x100000", "-csv", "-md5"});
  runs.push_back({"-image", fixture_path("carving.img"), "-bodyfile", "-filter_all_clusters"});
  for (arguments& run : runs) {
    run.push_back("-quiet");
    expect_same_for_every_thread_count(run);
  }
}

}  // namespace
