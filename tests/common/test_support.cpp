#include <csignal>
#include "tests/common/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

std::string fixture_path(const std::string& name) { return std::string(BRINDLE_FIXTURE_DIR) + "/" + name; }

std::string source_fixture_path(const std::string& name) {
  return std::string(BRINDLE_FIXTURE_SOURCE_DIR) + "/" + name;
}

scratch_folder::scratch_folder(const std::string& name) {
  m_path = std::filesystem::path(BRINDLE_FIXTURE_DIR).parent_path() / "scratch" /
           (name + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(m_path);
  std::filesystem::create_directories(m_path);
}

scratch_folder::~scratch_folder() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string shell_quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

run_result run_brindle(const std::vector<std::string>& arguments, int deadline_seconds) {
  static int counter = 0;
  const std::filesystem::path base = std::filesystem::path(BRINDLE_FIXTURE_DIR).parent_path() / "scratch";
  std::filesystem::create_directories(base);
  const std::string stem = (base / ("run-" + std::to_string(::getpid()) + "-" + std::to_string(counter++))).string();
  std::string command = "timeout -s KILL " + std::to_string(deadline_seconds) + " " + shell_quote(BRINDLE_BINARY);
  for (const auto& argument : arguments) command += " " + shell_quote(argument);
  command += " >" + shell_quote(stem + ".out") + " 2>" + shell_quote(stem + ".err");
  run_result result;
  const int status = std::system(command.c_str());
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.timed_out = result.exit_status == 128 + SIGKILL;
  result.out = read_file(stem + ".out");
  result.err = read_file(stem + ".err");
  std::filesystem::remove(stem + ".out");
  std::filesystem::remove(stem + ".err");
  return result;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::uint8_t> read_bytes(const std::string& path) {
  const std::string text = read_file(path);
  return {text.begin(), text.end()};
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> split_fields(const std::string& line, const std::string& separator) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = line.find(separator, start);
    if (end == std::string::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, end - start));
    start = end + separator.size();
  }
}

std::string results_body(const std::string& text) {
  const std::size_t blank = text.find("\n\n");
  return blank == std::string::npos ? text : text.substr(blank + 2);
}

std::size_t results_table::column(const std::string& name) const {
  const auto at = std::find(header.begin(), header.end(), name);
  if (at != header.end()) return static_cast<std::size_t>(at - header.begin());
  ADD_FAILURE() << "no column " << name;
  return 0;
}

std::vector<std::string> results_table::row_of(std::uint64_t wanted) const {
  for (std::size_t row = 0; row < rows.size(); ++row) {
    if (entry(row) == wanted) return rows[row];
  }
  ADD_FAILURE() << "no row for entry " << wanted;
  return std::vector<std::string>(header.size());
}

results_table parse_results(const std::string& body, const std::string& separator) {
  results_table table;
  for (const std::string& line : split_lines(body)) {
    std::vector<std::string> fields = split_fields(line, separator);
    for (auto& field : fields) field.erase(field.find_last_not_of(' ') + 1);
    if (table.header.empty()) {
      table.header = fields;
    } else if (fields.size() == table.header.size()) {
      table.rows.push_back(fields);
    } else {
      ADD_FAILURE() << "ragged line: " << line;
    }
  }
  return table;
}

}  // namespace testing_support
