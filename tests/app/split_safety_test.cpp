// A split run (-cpu) gives the single run's result or fails: every slice
// walked once, no empty slice, arguments passed as they are, and a child
// that fails or is killed fails the run without a merged file.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>

#include "tests/common/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

TEST(SplitSafety, MergedResultsEqualTheSingleRun) {
  scratch_folder folder("split-safety");
  // A folder name with a double quote and a blank in it.
  const fs::path quoted = folder.path() / "a \"b\"";
  fs::create_directories(quoted);
  const std::string mft = (quoted / "m.mft").string();
  fs::copy_file(fixture_path("basic.mft"), mft);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-filter_inode", "5|92|300|337", "-cpu", "3"}, " 3 instances spawned\n"},
      {{"-mftstart", "5", "-mftrange", "3", "-cpu", "4"}, " 3 instances spawned\n"},
      {{"-cpu", "2"}, " 2 instances spawned\n"},
  };
  for (const auto& [options, spawned] : cases) {
    std::vector<std::string> single = {"-mftfile", mft, "-csv", "-quiet", "-out", folder.file("single.txt")};
    for (std::size_t i = 0; i + 2 <= options.size(); i += 2) {
      if (options[i] != "-cpu") single.insert(single.end(), {options[i], options[i + 1]});
    }
    ASSERT_EQ(run_brindle(single).exit_status, 0);
    std::vector<std::string> split = {"-mftfile", mft, "-csv", "-out", folder.file("merged.txt")};
    split.insert(split.end(), options.begin(), options.end());
    const run_result run = run_brindle(split);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_NE(run.err.find(spawned), std::string::npos) << run.err;
    EXPECT_EQ(results_body(read_file(folder.file("merged.txt"))), results_body(read_file(folder.file("single.txt"))))
        << options[1];
  }
}

// Runs a split run and kills its second instance as soon as it shows up.
TEST(SplitSafety, AKilledInstanceFailsTheRun) {
  scratch_folder folder("split-killed");
  const std::string merged = folder.file("merged.txt");
  write_bytes(merged, {'o', 'l', 'd'});
  // Through a shell that becomes the program (exec): its process id is the parent's.
  const std::string command = std::string("exec ") + BRINDLE_BINARY + " -image " + fixture_path("basic.img") +
                              " -md5 -sha256 -csv -cpu 2 -out " + merged + " >/dev/null 2>" + folder.file("err.txt");
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(command.c_str()), nullptr};
  pid_t parent = -1;
  ASSERT_EQ(::posix_spawn(&parent, "/bin/sh", nullptr, nullptr, argv, environ), 0);
  // The second instance, found by its parent and its -cpuinst argument.
  const std::string find = "pgrep -P " + std::to_string(parent) + " -f -- '-cpuinst 1 '";
  bool killed = false;
  for (int tries = 0; !killed && tries < 3000; ++tries) {
    std::FILE* pipe = ::popen(find.c_str(), "r");
    int child = 0;
    killed = std::fscanf(pipe, "%d", &child) == 1 && ::kill(child, SIGKILL) == 0;
    ::pclose(pipe);
  }
  int status = 0;
  ::waitpid(parent, &status, 0);
  ASSERT_TRUE(killed) << "the instance ended before it could be killed";
  EXPECT_EQ(WEXITSTATUS(status), 255);
  EXPECT_NE(read_file(folder.file("err.txt")).find("instance 1 failed\n"), std::string::npos);
  EXPECT_EQ(read_file(merged), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 2);  // merged, err
}

}  // namespace
