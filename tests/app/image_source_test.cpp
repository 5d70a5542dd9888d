// -image from the command line: which volume of a disk image is taken, and
// the exact report the examiner gets when none can be. The expected
// partition listings are built from The Sleuth Kit's mmls output of the same
// disks (tests/fixtures/*.mmls.txt), so offsets and kinds come from a reader
// we did not write.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>

#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

// The report lines "volume offset [ 0x... ] : kind" for every partition and
// extended table that mmls lists, in disk order.
std::string listing_from_mmls(const std::string& file) {
  const std::regex row(R"(^\d{3}:\s+(\S+)\s+(\d+)\s+\d+\s+\d+\s+(.*)$)");
  const std::vector<std::pair<std::string, std::string>> kinds = {
      {"NTFS", "ntfs or exfat"}, {"brindle data", "ntfs or exfat"}, {"FAT32", "fat32"},
      {"FAT16", "fat16"},        {"DOS Extended", "exten"}};
  std::string listing = "\n";
  for (const std::string& line : split_lines(read_file(source_fixture_path(file)))) {
    std::smatch m;
    if (!std::regex_match(line, m, row) || m[1] == "-------") continue;
    for (const auto& [marker, kind] : kinds) {
      if (m[3].str().find(marker) == std::string::npos) continue;
      char offset[32];
      std::snprintf(offset, sizeof offset, "0x%llx", std::stoull(m[2]) * 512);
      listing += std::string("volume offset [ ") + offset + " ] : " + kind + "\n";
      break;
    }
  }
  return listing + "\n";
}

// Whole disks name the volumes they hold, as mmls lists them, and the one to
// choose; refusals of damaged and cut disks are golden runs (image_source,
// damaged_volume). A named pipe has no sectors to look for a volume in.
TEST(ImageSource, RefusalsPrintTheirReportAndStopTheRun) {
  const scratch_folder folder("image-source");
  const std::string fifo = folder.file("pipe.img");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct refusal {
    std::vector<std::string> arguments;
    std::string err;
  };
  const std::vector<refusal> cases = {
      {{"-image", fixture_path("mbr.img")}, listing_from_mmls("mbr.mmls.txt") + "use option [-offset 0x3100000]\n\n"},
      {{"-image", fixture_path("gpt.img")}, listing_from_mmls("gpt.mmls.txt") + "use option [-offset 0x900000]\n\n"},
      {{"-image", fifo}, "invalid image: " + fifo + "\n"},
      {{"-partition", fifo}, "prob validating volume " + fifo + " as a NTFS partition, aborting...\n"},
  };
  for (const refusal& c : cases) {
    const run_result run = run_brindle(c.arguments, 20);
    SCOPED_TRACE(c.arguments[1]);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_status, 255);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out.find("\n0x"), std::string::npos);
  }
}

}  // namespace
