// -cpu: the entry range cut into slices, each run by a child process of the
// program, and the results merged in order. The
// merged results must be the single run's, byte for byte after the header,
// and a child that fails or is killed fails the run without a merged file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>

#include "app/instance_runner.h"
#include "tests/common/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

std::string after_header(const std::string& path) { return results_body(read_file(path)); }

TEST(InstanceSplit, MergedResultsEqualTheSingleRun) {
  scratch_folder folder("instance-runs");
  // Arguments are passed on as they are: a folder name with a double quote
  // and a blank in it.
  const std::filesystem::path quoted = folder.path() / "a \"b\"";
  std::filesystem::create_directories(quoted);
  const std::string mft = (quoted / "m.mft").string();
  std::filesystem::copy_file(fixture_path("basic.mft"), mft);
  const std::string image = fixture_path("fragmented.img");
  struct split_case {
    std::vector<std::string> arguments;
    const char* cpu;
    const char* spawned;  // no empty slice: a short range takes fewer instances
    bool append = false;  // onto an earlier file
    bool fifo = false;    // to a FIFO: the text travels through the parent
  };
  const std::vector<split_case> cases = {
      {{"-mftfile", mft, "-csv", "-filter_inode", "5|92|300|337"}, "3", "3"},
      {{"-mftfile", mft, "-csv", "-mftstart", "5", "-mftrange", "3"}, "4", "3"},
      {{"-mftfile", mft, "-csv"}, "2", "2"},
      {{"-mftfile", mft}, "3", "3"},
      {{"-image", image, "-csv"}, "3", "3"},
      {{"-image", image}, "2", "2"},
      {{"-mftfile", mft, "-bodyfile", "-append"}, "2", "2", true},
      {{"-mftfile", mft, "-csv", "-md5"}, "3", "3", false, true},
      // A range past the end of the MFT ends where the MFT does.
      {{"-mftfile", mft, "-csv", "-mftstart", "5", "-mftrange", "0xffffffffffffffff"}, "2", "2"},
      {{"-mftfile", mft, "-csv", "-mftstart", "0x10000", "-mftrange", "5"}, "2", "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments) + " -cpu " + c.cpu);
    std::vector<std::string> single = c.arguments;
    single.insert(single.end(), {"-quiet", "-out", folder.file("single.txt")});
    fs::remove(folder.file("single.txt"));
    ASSERT_EQ(run_brindle(single).exit_status, 0);
    std::vector<std::string> split = c.arguments;
    const std::string fifo = folder.file("merged.fifo");
    split.insert(split.end(), {"-cpu", c.cpu, "-out", c.fifo ? fifo : folder.file("merged.txt")});
    write_bytes(folder.file("merged.txt"), {'o', 'l', 'd', '\n'});
    std::thread reader;
    int held_open = -1;  // a writer of our own: the reader ends even if brindle never opens the FIFO
    if (c.fifo) {
      ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
      reader = std::thread([&] { write_bytes(folder.file("merged.txt"), read_bytes(fifo)); });
      held_open = ::open(fifo.c_str(), O_WRONLY);
      ASSERT_GE(held_open, 0);
    }
    const run_result run = run_brindle(split);
    if (c.fifo) {
      ::close(held_open);
      reader.join();
      fs::remove(fifo);
    }
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(read_file(folder.file("merged.txt")).starts_with("old\n"), c.append);
    EXPECT_EQ(after_header(folder.file("merged.txt")), after_header(folder.file("single.txt")));
    EXPECT_NE(run.err.find(std::string(" ") + c.spawned + " instances spawned\n"), std::string::npos) << run.err;
  }
  // Only the single and merged results remain: every temporary file is gone.
  std::set<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) left.insert(entry.path().filename());
  EXPECT_EQ(left, (std::set<std::string>{"a \"b\"", "merged.txt", "single.txt"}));
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

  // Instances that cannot read their source (given the range, the parent
  // does not need to): the run fails, writes no merged file and leaves no
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

// A results file that cannot grow (here a file size limit) ends the run
// with the file named, whichever process's write failed.
TEST(SplitSafety, AFailedWriteNamesTheResultsFile) {
  scratch_folder folder("split-too-large");
  const std::string merged = folder.file("merged.txt");
  for (const char* split : {"", "-cpu 2"}) {
    const std::string command = std::string("ulimit -f 16; exec ") + BRINDLE_BINARY + " -mftfile " +
                                fixture_path("basic.mft") + " -csv -quiet " + split + " -out " + merged +
                                " >/dev/null 2>" + folder.file("err.txt");
    const int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 255) << split;
    const std::string err = read_file(folder.file("err.txt"));
    EXPECT_TRUE(err.ends_with("error: writing " + merged + ": File too large\n")) << split << ": " << err;
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
