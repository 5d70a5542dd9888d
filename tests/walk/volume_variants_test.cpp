// What the volumes made other ways show beyond TSK's listing: a
// Zone.Identifier kept in clusters, a named stream whose extents lie in
// three records, and records in the NTFS 3.0 layout in the record dump.
#include <gtest/gtest.h>

#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

TEST(VolumeVariants, ZoneTextSplitStreamsAndOlderRecords) {
  struct test_case {
    const char* what;
    std::vector<std::string> arguments;
    std::vector<std::string> shown, absent;
  };
  const std::string zone = "-action_include_zoneinfo";
  const std::vector<test_case> cases = {
      {"Zone.Identifier in clusters, read from the volume",
       {"-image", fixture_path("adsplit.img"), "-csv", zone, "-filter_name", "download.exe"},
       {"ZoneInfo {'ZoneId':'3 [internet]';'ReferrerUrl':'https://example.com/downloads/';",
        "'HostUrl19':'https://mirror19.example.com/files/download.exe'}"},
       {}},
      {"the same from the extracted $MFT, which has no clusters",
       {"-mftfile", fixture_path("adsplit.mft"), "-csv", zone, "-filter_name", "download.exe"},
       {"[Zone.Identifier : ads : sz: 0x04ce]"},
       {"ZoneInfo"}},
      {"one 10 MiB stream from three records, on the volume",
       {"-image", fixture_path("adsplit.img"), "-csv", "-filter_name", "host.txt"},
       {"[split_stream : ads : sz: 0xa00000]"},
       {"[split_stream : ads : sz: 0x0000]"}},
      {"and from the extracted $MFT",
       {"-mftfile", fixture_path("adsplit.mft"), "-csv", "-filter_name", "host.txt"},
       {"[split_stream : ads : sz: 0xa00000]"},
       {"[split_stream : ads : sz: 0x0000]"}},
      {"a record in the NTFS 3.0 layout in the record dump",
       {"-mftfile", fixture_path("oldheader.mft"), "-find_mft", "65"},
       {"MFT entry: 0x00000041 [65]", "Filename Attrib: memo.txt", "parnt mft: 0x00000040 [64] = [root]\\w2k\\"},
       {}},
  };
  for (const test_case& c : cases) {
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back("-quiet");
    const run_result run = run_brindle(arguments);
    EXPECT_EQ(run.exit_status, 0) << c.what << run.err;
    const std::string body = results_body(run.out);
    // Each text once: a stream listed twice would be two streams.
    for (const std::string& text : c.shown) {
      const auto at = body.find(text);
      EXPECT_TRUE(at != std::string::npos && body.find(text, at + 1) == std::string::npos) << c.what << ": " << text;
    }
    for (const std::string& text : c.absent) EXPECT_EQ(body.find(text), std::string::npos) << c.what << ": " << text;
  }
}

}  // namespace
