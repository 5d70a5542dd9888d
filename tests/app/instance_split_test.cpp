// -cpu: the entry range cut into slices, each run by a child process of the
// program, and the results merged in order. The
// merged results must be the single run's, byte for byte after the header.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/instance_runner.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

TEST(InstanceSplit, DataStartSkipsTheRunHeaderAndLaterColumnHeaders) {
  scratch_folder folder("instance-merge");
  struct start_case {
    std::string text;
    bool skip_column_header;
    bool found;
    std::uint64_t offset;
  };
  const std::string header = "ver\nrun\n\"cmd\"\n\n";
  const std::vector<start_case> cases = {
      {header + "cols\nrow1\n", false, true, header.size()},
      {header + "cols\nrow1\n", true, true, header.size() + 5},
      {"ver\r\n\r\n\r\ncols\r\nrow\r\n", false, true, 9},
      {header, true, true, header.size()},  // nothing after the header
      {"no blank line\nat all\n", false, false, 0},
      {std::string("ver\n\0\n\ncols\n", 12), false, false, 0},
  };
  for (const start_case& c : cases) {
    const std::string path = folder.file("part");
    write_bytes(path, std::vector<std::uint8_t>(c.text.begin(), c.text.end()));
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::uint64_t offset = 0;
    EXPECT_EQ(app::find_data_start(file, c.skip_column_header, offset), c.found) << c.text;
    if (c.found) EXPECT_EQ(offset, c.offset) << c.text;
    std::fclose(file);
  }
}

std::string after_header(const std::string& path) { return results_body(read_file(path)); }

TEST(InstanceSplit, MergedResultsEqualTheSingleRun) {
  scratch_folder folder("instance-runs");
  const std::vector<std::vector<std::string>> sources = {{"-mftfile", fixture_path("basic.mft")},
                                                         {"-image", fixture_path("fragmented.img")}};
  for (const auto& source : sources) {
    for (const std::vector<std::string>& layout : {std::vector<std::string>{"-csv"}, std::vector<std::string>{}}) {
      std::vector<std::string> arguments = source;
      arguments.insert(arguments.end(), layout.begin(), layout.end());
      std::vector<std::string> single = arguments;
      single.insert(single.end(), {"-quiet", "-out", folder.file("single.txt")});
      ASSERT_EQ(run_brindle(single).exit_status, 0);
      const std::string expected = after_header(folder.file("single.txt"));
      for (const char* count : {"2", "3"}) {
        std::vector<std::string> split = arguments;
        split.insert(split.end(), {"-cpu", count, "-out", folder.file("merged.txt")});
        const run_result run = run_brindle(split);
        SCOPED_TRACE(source[1] + " " + (layout.empty() ? "default" : "-csv") + " -cpu " + count);
        EXPECT_EQ(run.exit_status, 0) << run.err;
        EXPECT_EQ(after_header(folder.file("merged.txt")), expected);
        EXPECT_NE(run.err.find(std::string(" ") + count + " instances spawned\n"), std::string::npos) << run.err;
      }
    }
  }
  // Only the single and merged results remain: every temporary file is gone.
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    ++files;
    EXPECT_TRUE(entry.path().filename() == "single.txt" || entry.path().filename() == "merged.txt") << entry.path();
  }
  EXPECT_EQ(files, 2u);
}

TEST(InstanceSplit, SeparateFilesAndFailedInstances) {
  scratch_folder folder("instance-separate");
  const std::string results = folder.file("out.txt");
  const run_result run = run_brindle({"-mftfile", fixture_path("basic.mft"), "-csv", "-cpu", "3", "-separate_files",
                                      "-out", results});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_FALSE(std::filesystem::exists(results));
  std::string joined;
  for (int i = 1; i <= 3; ++i) {
    const std::string part = results + ".0000" + std::to_string(i);
    ASSERT_TRUE(std::filesystem::exists(part)) << part;
    const std::string body = after_header(part);
    joined += i == 1 ? body : body.substr(body.find('\n') + 1);  // one column header
  }
  ASSERT_EQ(run_brindle({"-mftfile", fixture_path("basic.mft"), "-csv", "-quiet", "-out", folder.file("one.txt")})
                .exit_status,
            0);
  EXPECT_EQ(joined, after_header(folder.file("one.txt")));

  // Instances that cannot read their source (the parent, given the range,
  // never opens it): the run fails, writes no merged file and leaves no
  // temporary file behind.
  const std::string merged = folder.file("merged.txt");
  const run_result failed = run_brindle({"-mftfile", folder.file("missing.mft"), "-mftrange", "100", "-csv", "-cpu",
                                         "2", "-out", merged});
  EXPECT_EQ(failed.exit_status, 255);
  EXPECT_NE(failed.err.find("instance 0 failed\n"), std::string::npos) << failed.err;
  EXPECT_FALSE(std::filesystem::exists(merged));
  std::size_t left = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    if (entry.path().filename().string().find("_temp.bin") != std::string::npos) ++left;
  }
  EXPECT_EQ(left, 0u);
}

}  // namespace
