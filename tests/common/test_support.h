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

std::string read_file(const std::string& path);
std::vector<std::uint8_t> read_bytes(const std::string& path);
void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::string> split_lines(const std::string& text);
std::vector<std::string> split_fields(const std::string& line, const std::string& separator);

// Results without the run header (everything up to the first blank line).
std::string results_body(const std::string& text);

}  // namespace testing_support
