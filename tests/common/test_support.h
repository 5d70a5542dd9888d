// Helpers shared by the test files: fixture paths, scratch folders, running
// the brindle binary and reading files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// An unpacked fixture, e.g. fixture_path("basic.mft").
std::string fixture_path(const std::string& name);
// A committed file under tests/fixtures, e.g. source_fixture_path("basic.fls.txt").
std::string source_fixture_path(const std::string& name);

// A fresh folder under the build tree, removed when the object goes away.
class scratch_folder {
 public:
  explicit scratch_folder(const std::string& name);
  ~scratch_folder();
  const std::filesystem::path& path() const { return m_path; }
  std::string file(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

struct run_result {
  int exit_status = -1;  // process exit status (255 for -1)
  bool timed_out = false;  // killed at the deadline: a hang
  std::string out;
  std::string err;
};

// Runs the brindle binary with `arguments` (not including the program); a
// run still going after `deadline_seconds` is killed.
run_result run_brindle(const std::vector<std::string>& arguments, int deadline_seconds = 120);

// `text` as one word for /bin/sh.
std::string shell_quote(const std::string& text);

std::string read_file(const std::string& path);
std::vector<std::uint8_t> read_bytes(const std::string& path);
void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::string> split_lines(const std::string& text);
std::vector<std::string> split_fields(const std::string& line, const std::string& separator);

// Results without the run header (everything up to the first blank line).
std::string results_body(const std::string& text);

// A results table: the header row and the data rows, each field without the
// blanks that pad the fixed-width layouts. A row whose field count differs
// from the header's is a failure and is left out.
struct results_table {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;

  std::size_t column(const std::string& name) const;  // a failure when missing
  std::string value(std::size_t row, const std::string& name) const { return rows[row][column(name)]; }
  // The entry number in the first column ("0x0000005c" or decimal).
  std::uint64_t entry(std::size_t row) const { return std::stoull(rows[row][0], nullptr, 0); }
  // The first row of `entry`; a failure and blank fields when there is none.
  std::vector<std::string> row_of(std::uint64_t entry) const;
};

results_table parse_results(const std::string& body, const std::string& separator = ",");

}  // namespace testing_support
