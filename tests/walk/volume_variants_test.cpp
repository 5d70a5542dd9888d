// What TSK's listing does not show of the adsplit volume: the text of a
// Zone.Identifier kept in clusters, and one named stream whose extents lie
// in three records, listed once with its full size and read whole.
#include <gtest/gtest.h>

#include "tests/common/test_support.h"

using namespace testing_support;

TEST(VolumeVariants, ZoneTextInClustersAndAStreamOverThreeRecords) {
  const scratch_folder folder("volume-variants");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-image", fixture_path("adsplit.img"), "-action_include_zoneinfo", "-filter_name", "download.exe"},
       "'HostUrl19':'https://mirror19.example.com/files/download.exe'}"},
      {{"-image", fixture_path("adsplit.img"), "-filter_name", "host.txt"}, "[split_stream : ads : sz: 0xa00000]"},
      {{"-mftfile", fixture_path("adsplit.mft"), "-filter_name", "host.txt"}, "[split_stream : ads : sz: 0xa00000]"},
      // Copied out, its file name carries the MD5 of what it read: icat's.
      {{"-image", fixture_path("adsplit.img"), "-action_copy_files", folder.file("out"), "-named_data", "-filter_name",
        "host.txt"},
       "_72b7db20e8b49af466ae7f51dae79b35_host.txt.split_stream_ads.bin"},
  };
  for (auto [arguments, shown] : cases) {
    arguments.insert(arguments.end(), {"-csv", "-quiet"});
    const std::string body = results_body(run_brindle(arguments).out);
    // Once: a stream split in two would be listed twice.
    EXPECT_EQ(body.find(shown), body.rfind(shown)) << shown;
    EXPECT_NE(body.find(shown), std::string::npos) << arguments[1] << ": " << shown << "\n" << body;
  }
}
