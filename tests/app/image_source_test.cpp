// -image from the command line: which volume of a disk image is taken, and
// the exact report the examiner gets when none can be. The expected
// partition listings are built from The Sleuth Kit's mmls output of the same
// disks (tests/fixtures/*.mmls.txt), so offsets and kinds come from a reader
// we did not write.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

// A run still going after 20 s is a hang.
run_result run_binary(const std::vector<std::string>& arguments) { return run_brindle(arguments, 20); }

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

std::set<std::string> reported_entries(const std::string& out) {
  std::set<std::string> entries;
  for (const std::string& line : split_lines(out)) {
    if (line.rfind("0x", 0) == 0) entries.insert(line.substr(0, line.find(',')));
  }
  return entries;
}

class ImageSource : public ::testing::Test {
 protected:
  scratch_folder m_folder{"image-source"};
};

TEST_F(ImageSource, RefusalsPrintTheirReportAndStopTheRun) {
  const std::string mbr = fixture_path("mbr.img"), gpt = fixture_path("gpt.img");
  const std::string mbr_listing = listing_from_mmls("mbr.mmls.txt");
  ASSERT_EQ(std::count(mbr_listing.begin(), mbr_listing.end(), '\n'), 8) << mbr_listing;

  // The disk cut 4 MiB into its first partition (1 MiB .. 9 MiB).
  const std::string cut = m_folder.file("mbr-cut.img");
  std::filesystem::copy_file(mbr, cut);
  std::filesystem::resize_file(cut, 0x500000);
  const std::string missing = m_folder.file("missing.img");
  const std::string fifo = m_folder.file("pipe.img");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  struct refusal {
    std::vector<std::string> arguments;
    std::string err;
  };
  // The refusals of whole fixture disks are golden runs (image_source).
  const std::vector<refusal> cases = {
      {{"-image", mbr}, mbr_listing + "use option [-offset 0x3100000]\n\n"},
      {{"-image", gpt}, listing_from_mmls("gpt.mmls.txt") + "use option [-offset 0x900000]\n\n"},
      {{"-image", cut, "-offset", "0x100000"},
       "volume offset 0x100000 is a NTFS partition, however image size does not encapsulate entire volume\n\n"},
      // Partitions past the end of a cut disk keep the kind of their entry.
      {{"-image", cut},
       "\nvolume offset [ 0x100000 ] : ntfs or exfat\nvolume offset [ 0x900000 ] : fat32\n"
       "volume offset [ 0x2b00000 ] : exten\n\nuse option [-offset 0x100000]\n\n"},
      {{"-image", m_folder.path().string() + "/./sub/../missing.img"}, "invalid image: " + missing + "\n"},
      {{"-image", fifo}, "invalid image: " + fifo + "\n"},
      {{"-partition", fifo}, "prob validating volume " + fifo + " as a NTFS partition, aborting...\n"},
  };
  for (const refusal& c : cases) {
    const run_result run = run_binary(c.arguments);
    SCOPED_TRACE(c.arguments[1] + (c.arguments.size() > 2 ? " " + c.arguments[2] + " " + c.arguments.back() : ""));
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_status, 255);
    EXPECT_EQ(run.err, c.err);
    EXPECT_TRUE(reported_entries(run.out).empty());
  }

  // A folder opens like a file on Linux but has no sectors to read; either
  // way it must be refused.
  const run_result folder_run = run_binary({"-image", m_folder.path().string()});
  ASSERT_FALSE(folder_run.timed_out);
  EXPECT_EQ(folder_run.exit_status, 255);
  EXPECT_TRUE(folder_run.err == "invalid image: " + m_folder.path().string() + "\n" ||
              folder_run.err == "couldn't find any partitions on disk\n\n")
      << folder_run.err;
}

TEST_F(ImageSource, AcceptedVolumesAreWalked) {
  const std::string cut = m_folder.file("mbr-cut.img");
  std::filesystem::copy_file(fixture_path("mbr.img"), cut);
  std::filesystem::resize_file(cut, 0x500000);
  struct acceptance {
    std::vector<std::string> arguments;
    std::vector<std::string> entries;  // must be reported (entry field as printed)
    std::string name;                  // a name only that volume holds
  };
  // Whole fixture volumes are golden runs (image_source).
  const std::vector<acceptance> cases = {
      // The MFT lies near the start of the partition, inside what is left.
      {{"-image", cut, "-offset", "0x100000", "-ignore_image_size"}, {"0x00000042"}, "hello_primary.txt"},
  };
  for (const acceptance& c : cases) {
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.end(), {"-csv", "-quiet"});
    const run_result run = run_binary(arguments);
    SCOPED_TRACE(c.arguments[1] + " " + c.arguments.back());
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto entries = reported_entries(run.out);
    for (const std::string& entry : c.entries) EXPECT_TRUE(entries.count(entry)) << entry;
    EXPECT_NE(run.out.find("," + c.name + ","), std::string::npos) << c.name;
  }
}

}  // namespace
