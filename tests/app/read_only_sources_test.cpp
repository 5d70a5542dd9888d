// brindle is run on evidence: whatever the options, an image or an extracted
// $MFT must leave the run exactly as it came in. Each source file is
// fingerprinted (every byte, size, mode, modification and status-change
// times) before and after a broad set of runs over it, and, where strace can
// watch the program, every open of a source must be a read-only one and no
// call may rename, truncate, re-time or re-own it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

// Size, mode, modification and status-change times; with the bytes when
// `content` is asked for.
std::string fingerprint_of(const std::string& path, bool content) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  std::string print = std::to_string(status.st_size) + " mode " + std::to_string(status.st_mode);
  for (const timespec& time : {status.st_mtim, status.st_ctim}) {
    print += " " + std::to_string(time.tv_sec) + "." + std::to_string(time.tv_nsec);
  }
  return content ? print + read_file(path) : print;
}

// One fixture file and the ways brindle is pointed at it.
struct source_file {
  std::string name;
  std::vector<std::vector<std::string>> sources;  // "-image file [-offset n]" or "-mftfile file"
  std::set<std::size_t> refused = {};             // sources the program turns down (status 255)
};

// Test names and failure messages show the file, not the object's bytes.
void PrintTo(const source_file& file, std::ostream* out) { *out << file.name; }

std::vector<std::string> image(const std::string& name, const char* offset = nullptr) {
  std::vector<std::string> arguments = {"-image", fixture_path(name)};
  if (offset) arguments.insert(arguments.end(), {"-offset", offset});
  return arguments;
}

std::vector<std::string> mft(const std::string& name) { return {"-mftfile", fixture_path(name)}; }

std::string test_name(const ::testing::TestParamInfo<source_file>& info) {
  std::string name = info.param.name;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

// One file of each way in (a bare volume, a volume at an offset, partitions
// of MBR and GPT disks, an extracted $MFT) and of each kind of reading
// (a fragmented MFT, compressed and sparse streams, free clusters).
std::vector<source_file> source_files() {
  return {
      {"basic.img", {image("basic.img")}},
      // Without -offset the run stops after looking for a partition table.
      {"offset.img", {image("offset.img", "0x100000"), image("offset.img")}, {1}},
      {"mbr.img", {image("mbr.img", "0x100000"), image("mbr.img", "0x3100000"), image("mbr.img")}, {2}},
      {"gpt.img", {image("gpt.img", "0x100000"), image("gpt.img", "0x900000"), image("gpt.img")}, {2}},
      {"fragmented.img", {image("fragmented.img")}},
      {"streams.img", {image("streams.img")}},
      {"carving.img", {image("carving.img")}},
      {"basic.mft", {mft("basic.mft")}},
      {"carving.mft", {mft("carving.mft")}},
  };
}

// Options that reach every part of a run that reads the source: both walks,
// the free-cluster scan, path and directory lookups, the first bytes of
// every file's data, the full dump of one record.
const std::vector<std::vector<std::string>>& option_sets() {
  static const std::vector<std::vector<std::string>> sets = {
      {"-csv"},
      {},
      {"-filter_all_clusters", "-csv", "-filerecord_offset"},
      {"-filter_deleted_files_all"},
      {"-filter_dir", "$Extend | evidence | reports | docs | src", "-csv"},
      {"-filter_sig", "mz | hive | evt | sqlite", "-csv"},
      {"-find_mft", "0"},
      {"-filter_pattern", "46 49 4c 45", "-scansize", "1024", "-csv"},
      {"-action_include_header", "-action_include_clusterinfo", "-csvperpath"},
  };
  return sets;
}

class ReadOnlySources : public ::testing::TestWithParam<source_file> {};

TEST_P(ReadOnlySources, RunsLeaveTheSourceByteForByteAndTimeForTimeAsItWas) {
  const source_file& file = GetParam();
  const std::string path = fixture_path(file.name);
  ASSERT_TRUE(std::filesystem::is_regular_file(path)) << path;
  const std::string before = fingerprint_of(path, true), stated_before = fingerprint_of(path, false);

  for (std::size_t s = 0; s < file.sources.size(); ++s) {
    for (const auto& options : option_sets()) {
      std::vector<std::string> arguments = file.sources[s];
      arguments.insert(arguments.end(), options.begin(), options.end());
      arguments.push_back("-quiet");
      const run_result run = run_brindle(arguments);
      std::string shown;
      for (const auto& argument : arguments) shown += " " + argument;
      EXPECT_EQ(run.exit_status, file.refused.count(s) ? 255 : 0) << shown << "\n" << run.err;
      // Size, mode and times after every run; the bytes once at the end.
      EXPECT_EQ(fingerprint_of(path, false), stated_before) << "after" << shown;
    }
  }
  EXPECT_TRUE(fingerprint_of(path, true) == before);
}

// --- the open mode, seen from the outside --------------------------------

bool strace_usable(const scratch_folder& folder) {
  if (std::system("command -v strace >/dev/null 2>&1") != 0) return false;
  // Containers may forbid ptrace; then strace cannot watch anything.
  const std::string probe = folder.file("probe.trace");
  const std::string command =
      "strace -f -qq -e trace=%file -o " + shell_quote(probe) + " /bin/true >/dev/null 2>&1";
  return std::system(command.c_str()) == 0 && read_file(probe).find("execve(") != std::string::npos;
}

TEST_P(ReadOnlySources, EveryOpenOfTheSourceIsReadOnly) {
  const source_file& file = GetParam();
  scratch_folder folder("read-only-" + test_name(::testing::TestParamInfo<source_file>(file, 0)));
  if (!strace_usable(folder)) GTEST_SKIP() << "strace is not installed or cannot trace here";
  const std::string path = fixture_path(file.name);

  const std::set<std::string> open_calls = {"open", "openat", "openat2", "creat"};
  const std::set<std::string> changing_calls = {
      "truncate", "unlink",   "unlinkat", "rename", "renameat", "renameat2",  "utime",  "utimes",
      "futimesat", "utimensat", "chmod",   "fchmodat", "fchmodat2", "chown", "lchown", "fchownat",
      "setxattr", "lsetxattr", "removexattr", "lremovexattr", "link", "linkat", "mknod", "mknodat"};
  const std::vector<std::vector<std::string>> runs = {
      {"-filter_all_clusters", "-csv", "-filter_sig", "mz | hive", "-filter_pattern", "46 49 4c 45"},
      {"-find_mft", "0"},
      {"-filter_dir", "$Extend", "-action_include_header"},
  };
  for (std::size_t s = 0; s < file.sources.size(); ++s) {
    for (const auto& options : runs) {
      std::vector<std::string> arguments = file.sources[s];
      arguments.insert(arguments.end(), options.begin(), options.end());
      arguments.push_back("-quiet");
      std::string shown;
      for (const auto& argument : arguments) shown += " " + argument;
      SCOPED_TRACE(shown);

      const std::string trace = folder.file("run.trace");
      // LeakSanitizer cannot work under ptrace; the other checks still do.
      std::string command = "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" strace -f -qq -e "
                            "trace=%file -o " +
                            shell_quote(trace) + " " + shell_quote(BRINDLE_BINARY);
      for (const auto& argument : arguments) command += " " + shell_quote(argument);
      command += " >/dev/null 2>" + shell_quote(folder.file("run.err"));
      const int status = std::system(command.c_str());
      ASSERT_TRUE(WIFEXITED(status)) << command;
      EXPECT_EQ(WEXITSTATUS(status), file.refused.count(s) ? 255 : 0) << read_file(folder.file("run.err"));

      // strace -o lines look like
      //   1234  openat(AT_FDCWD, "/x/basic.img", O_RDONLY|O_NONBLOCK|O_CLOEXEC) = 3
      // or, for a call another process interrupted, "... <unfinished ...>".
      std::size_t opens = 0;
      for (const std::string& line : split_lines(read_file(trace))) {
        if (line.find("\"" + path + "\"") == std::string::npos || line.find("resumed>") != std::string::npos) continue;
        const auto name_start = line.find_first_not_of("0123456789 ");
        const std::string call = line.substr(name_start, line.find('(') - name_start);
        EXPECT_FALSE(changing_calls.count(call)) << line;
        if (!open_calls.count(call)) continue;
        ++opens;
        EXPECT_NE(call, "creat") << line;
        EXPECT_NE(line.find("O_RDONLY"), std::string::npos) << line;
        for (const char* writing : {"O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC", "O_APPEND"}) {
          EXPECT_EQ(line.find(writing), std::string::npos) << line;
        }
      }
      // The trace must show the program reading the source at all.
      EXPECT_GT(opens, 0u) << read_file(trace);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ReadOnlySources, ::testing::ValuesIn(source_files()), test_name);

}  // namespace
