// Whole runs kept as data: each file in tests/fixtures/golden/runs holds
// command lines ("$ brindle ARGS"), each followed by what that run printed and
// its exit status, reviewed by hand once; "$ cat PATH" shows a file a run
// wrote and "$ ls PATH" the files below a folder it filled. Arguments are split at blanks, with
// '...' quoting; {fixtures} is the unpacked fixture folder, {source} the
// committed one and {scratch} a fresh folder per file. Output shows the same
// names in place of the paths, and {run line} for the header line that holds
// the date, host and system, {elapsed} for times taken, and only the first
// progress line. Set BRINDLE_UPDATE_GOLDEN=1 to rewrite the files
// after a deliberate change, then review the diff.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sys/utsname.h>

#include "support/digest_set.h"
#include "support/digest_text.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

std::vector<std::string> arguments_of(const std::string& line, const std::map<std::string, std::string>& names) {
  std::vector<std::string> arguments;
  std::string current;
  bool quoted = false, any = false;
  for (const char c : line) {
    if (c == '\'') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) arguments.push_back(current);
      current.clear();
      any = false;
    } else {
      current.push_back(c);
      any = true;
    }
  }
  if (any) arguments.push_back(current);
  for (auto& argument : arguments) {
    for (const auto& [name, path] : names) replace_all(argument, name, path);
  }
  return arguments;
}

std::string shown(std::string text, const std::map<std::string, std::string>& names) {
  for (const auto& [name, path] : names) replace_all(text, path, name);
  // The second header line holds the date, host and system of the run.
  if (text.starts_with("brindle ver: ")) {
    const auto first = text.find('\n'), second = text.find('\n', first + 1);
    if (second != std::string::npos) text.replace(first + 1, second - first - 1, "{run line}");
  }
  // Elapsed times, and the progress line of every entry after the first
  // (written at most ten times a second).
  text = std::regex_replace(text, std::regex(R"(->\S+ secs)"), "->{elapsed} secs");
  text = std::regex_replace(text, std::regex("\x1b\\[2K\r    \ranalyzing entry [1-9][0-9]* of [0-9]+\r"), "");
  std::string block;
  for (const auto& line : split_lines(text)) block += "| " + line + "\n";
  if (!text.empty() && !text.ends_with('\n')) block += "\\ no line end\n";
  return block;
}

std::string rendered(const std::string& command, const run_result& run,
                     const std::map<std::string, std::string>& names) {
  return command + "\nexit " + std::to_string(run.exit_status) + "\nstderr:\n" + shown(run.err, names) +
         "stdout:\n" + shown(run.out, names);
}

// Every file below `folder` as "size md5 path", the path relative and in
// name order; a link is shown as one and not followed.
std::string listing(const std::string& folder) {
  std::vector<std::string> lines;
  if (std::filesystem::exists(folder)) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
      const std::string relative = entry.path().lexically_relative(folder).generic_string();
      if (entry.is_symlink()) {
        lines.push_back("link " + relative);
      } else if (entry.is_regular_file()) {
        support::digest_set digests;
        digests.start(true, false, false);
        digests.update(read_bytes(entry.path().string()));
        digests.finish();
        char md5[33];
        lines.push_back(std::to_string(entry.file_size()) + " " +
                        std::string(support::digest_hex(*digests.md5_value(), md5)) + " " + relative);
      }
    }
  }
  std::sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return a.substr(a.rfind(' ') + 1) < b.substr(b.rfind(' ') + 1);
  });
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

class GoldenRun : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenRun, MatchesReviewedOutput) {
  const std::string file = source_fixture_path("golden/runs/" + GetParam() + ".txt");
  const scratch_folder scratch("golden-" + GetParam());
  const std::map<std::string, std::string> names = {
      {"{brindle}", BRINDLE_BINARY}, {"{fixtures}", BRINDLE_FIXTURE_DIR},
      {"{source}", BRINDLE_FIXTURE_SOURCE_DIR}, {"{scratch}", scratch.path().string()}};
  std::vector<std::pair<std::string, std::string>> cases;  // command, expected block
  for (const auto& line : split_lines(read_file(file))) {
    if (line.starts_with("$ brindle") || line.starts_with("$ cat ") || line.starts_with("$ ls ")) {
      cases.emplace_back(line, "");
    }
    if (!cases.empty()) cases.back().second += line + "\n";
  }
  ASSERT_FALSE(cases.empty()) << file;
  std::string rewritten;
  for (const auto& [command, expected] : cases) {
    const auto blank = command.find(' ', 2);  // after "$ brindle", "$ cat" or "$ ls"
    const auto arguments = arguments_of(blank == std::string::npos ? "" : command.substr(blank + 1), names);
    const std::string got = command.starts_with("$ cat ")  ? command + "\n" + shown(read_file(arguments.at(0)), names)
                            : command.starts_with("$ ls ") ? command + "\n" + shown(listing(arguments.at(0)), names)
                                                           : rendered(command, run_brindle(arguments), names);
    rewritten += got;
    if (!std::getenv("BRINDLE_UPDATE_GOLDEN")) {
      EXPECT_EQ(got, expected);
    }
  }
  if (std::getenv("BRINDLE_UPDATE_GOLDEN")) std::ofstream(file, std::ios::binary | std::ios::trunc) << rewritten;
}

std::vector<std::string> run_files() {
  std::vector<std::string> stems;
  for (const auto& entry : std::filesystem::directory_iterator(source_fixture_path("golden/runs"))) {
    stems.push_back(entry.path().stem().string());
  }
  std::sort(stems.begin(), stems.end());
  return stems;
}

INSTANTIATE_TEST_SUITE_P(Runs, GoldenRun, ::testing::ValuesIn(run_files()),
                         [](const auto& info) { return info.param; });

// The line the golden files hide: "label: date time zone; label: host;
// label: system", the date in the -dateformat form.
TEST(RunHeader, NamesTheDateHostAndSystem) {
  utsname system{};
  ASSERT_EQ(::uname(&system), 0);
  for (const auto& [form, date_form] : {std::pair{"mm/dd/yyyy", "%m/%d/%Y"}, std::pair{"yyyy-mm-dd", "%Y-%m-%d"}}) {
    const std::time_t now = std::time(nullptr);
    char date[16];
    std::strftime(date, sizeof date, date_form, std::gmtime(&now));
    const run_result run = run_brindle({"-mftfile", fixture_path("basic.mft"), "-quiet", "-dateformat", form});
    const std::string line = split_lines(run.out).at(1);
    EXPECT_TRUE(std::regex_search(line, std::regex(std::string(R"(^\w+: )") + date + R"( \d\d:\d\d:\d\d(\.\d+)? \S+; \w+: )" +
                                                   system.nodename + "; .*" + system.sysname + ".*" +
                                                   system.release + ".*" + system.machine)))
        << line;
  }
}

}  // namespace
