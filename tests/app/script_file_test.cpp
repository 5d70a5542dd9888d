// Options kept in a script file: how its text becomes arguments, and how they
// join the command line of a run.
#include <gtest/gtest.h>
#include <filesystem>

#include <set>
#include <string>
#include <vector>

#include "app/script_file.h"
#include "tests/common/test_support.h"

namespace {

using testing_support::fixture_path;
using testing_support::run_brindle;
using testing_support::run_result;
using arguments = std::vector<std::string>;

TEST(ScriptFile, TextBecomesArguments) {
  // The line-end style is judged on the first 1024 bytes only; "-a " + long_value
  // puts the line end at byte 1023.
  const std::string long_value(1020, 'v');
  const std::string shorter_value(1014, 'v');  // "-a 1\r\n-b " + value: the same
  const std::string long_comment = "//" + std::string(1100, 'c');
  struct row { std::string text; arguments expected; const char* what; };
  const arguments ab{"-a", "1", "-b", "2"};
  const row rows[] = {
      {"-a 1\r\n-b 2\r\n", ab, "CR LF"}, {"-a 1\n-b 2", ab, "LF, no end on the last line"}, {"-a 1\r-b 2\r", ab, "CR"},
      {"-a 1\n\r-b 2\n\r", ab, "LF CR"}, {"-a 1\r\n-b 2\n", {}, "CR LF, LF"}, {"-a 1\n-b 2\r", {}, "LF, CR"},
      {"-a 1\n\r-b 2\n", {}, "LF CR, LF"}, {"-a 1\r-b 2\r\n", {}, "CR, CR LF"}, {"", {}, "empty"},
      {"-mftfile case.mft", {}, "one line without a line end"},
      {"-a " + long_value + "\n-b 2\n", {"-a", long_value, "-b", "2"}, "first line end at byte 1023"},
      {"-a x" + long_value + "\n-b 2\n", {}, "first line end at byte 1024"},
      {"-a 1\r\n-b " + shorter_value + "\r\n-c 3\r\n", {"-a", "1", "-b", shorter_value, "-c", "3"},
       "CR LF across byte 1024"},
      {"-a 1\r\n" + long_comment + "\r\n-b 2\n-c 3\r\n", {"-a", "1", "-b", "2", "-c", "3"},
       "a lone LF after byte 1024 is white space"},
      {"// -a 1\n\n \t \n-b 2\n   // -c 3\n\t-d\n", {"-b", "2", "-d"}, "comments and blank lines"},
      {"-a 1 -b\t2   -c\n", {"-a", "1", "-b", "2", "-c"}, "several options on a line"},
      {"-name \"two  words\" -x\n", {"-name", "two words", "-x"}, "quoted value"},
      {"-name \"one\" \"\" -x\n", {"-name", "one", "", "-x"}, "quoted single words"},
  };
  for (const row& r : rows) EXPECT_EQ(app::script_arguments(r.text), r.expected) << r.what;
}

class ScriptFileRun : public ::testing::Test {
 protected:
  std::string script(const std::string& name, const std::string& text) const {
    testing_support::write_bytes(m_scratch.file(name), {text.begin(), text.end()});
    return m_scratch.file(name);
  }
  // A run that went on quietly and reported these entries (first field, in hexadecimal).
  static void expect_entries(const run_result& run, const std::set<std::uint64_t>& expected,
                             const std::string& label) {
    std::set<std::uint64_t> found;
    for (const auto& line : testing_support::split_lines(testing_support::results_body(run.out))) {
      if (line.starts_with("0x")) found.insert(std::stoull(line.substr(0, line.find(' ')), nullptr, 16));
    }
    EXPECT_EQ(run.exit_status, 0) << label;
    EXPECT_EQ(run.err, "") << label;
    EXPECT_EQ(found, expected) << label;
  }
  testing_support::scratch_folder m_scratch{"script-file"};
  const std::string m_mft = fixture_path("basic.mft");
};

TEST_F(ScriptFileRun, ScriptOptionsFollowThoseOfTheCommandLine) {
  const std::string alone = "// case 17\r\n-mftfile " + m_mft + "\r\n\r\n-filter_inode \"5 | 0x5c\" -quiet\r\n";
  expect_entries(run_brindle({"-script", script("alone.txt", alone)}), {5, 92}, "script alone");
  const std::string both = script("both.txt", "-mftfile /no/such.mft\n-MFTSTART 9\n-mftrange 3\n");
  expect_entries(run_brindle({"-mftfile", m_mft, "-quiet", "-script", both, "-mftstart", "5"}), {5, 6, 7}, "both");

  // A value that cannot be read fails the run wherever it came from.
  const std::string sig = script("sig.txt", "-filter_sig \"mz | exe\"\n");
  const run_result bad = run_brindle({"-mftfile", m_mft, "-quiet", "-script", sig});
  EXPECT_EQ(bad.exit_status, 255);
  EXPECT_EQ(bad.err, "Error: -filter_sig option specified invalid option, aborting\n");
}

TEST_F(ScriptFileRun, ScriptsAreReadWholeOrRefused) {
  const std::string self = m_scratch.file("self.txt");
  // Over the limit by one byte (a sparse file: it takes no room).
  const std::string big = m_scratch.file("big.txt");
  std::filesystem::resize_file(script("big.txt", "-mftrange 2\n"), app::script_limit_bytes + 1);
  const std::pair<std::string, std::set<std::uint64_t>> added[] = {
      {script("empty.txt", ""), {5}},
      {script("no_line_end.txt", "-mftrange 2"), {5}},
      {m_mft, {5}},  // binary: CR LF and lone LF bytes mixed
      {script("self.txt", "-script " + self + "\n-mftrange 2\n"), {5, 6}},  // the inner -script is not followed
      {script("bom.txt", "\xEF\xBB\xBF-mftrange 2\n"), {5, 6}},
  };
  for (const auto& [path, expected] : added) {
    expect_entries(run_brindle({"-mftfile", m_mft, "-quiet", "-mftstart", "5", "-script", path}), expected, path);
  }
  const std::pair<std::string, std::string> refused[] = {
      {m_scratch.file("missing.txt"), "No such file or directory"},
      {m_scratch.path().string(), "not a regular file"},
      {"/dev/zero", "not a regular file"},
      {big, "larger than 64 MiB"},
  };
  for (const auto& [path, reason] : refused) {
    const run_result run = run_brindle({"-mftfile", m_mft, "-quiet", "-script", path});
    EXPECT_EQ(run.exit_status, 255) << path;
    EXPECT_EQ(run.err, "error: reading script file " + path + ": " + reason + "\n");
  }
}

}  // namespace
