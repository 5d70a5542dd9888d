// Shared pieces of the fuzz targets: inputs become files that the program
// opens by path (an in-memory file behind /proc/self/fd), and whole runs of
// the program are made with everything they write kept in a scratch folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace fuzz {

// An anonymous in-memory file with a path the program can open read-only.
class memory_file {
 public:
  memory_file();
  ~memory_file();
  memory_file(const memory_file&) = delete;
  memory_file& operator=(const memory_file&) = delete;

  // Replaces the whole content.
  void assign(std::span<const std::uint8_t> bytes);
  // Overwrites `bytes.size()` bytes at `offset` (the file never grows).
  void overwrite(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  std::uint64_t size_bytes() const { return m_size_bytes; }
  const std::string& path() const { return m_path; }

 private:
  int m_descriptor = -1;
  std::uint64_t m_size_bytes = 0;
  std::string m_path;
};

// The private folder (in memory where possible) that runs write into; the
// first call makes it and changes into it.
const std::string& scratch_folder();

// Reads a fixture unpacked for the fuzz build (empty when absent).
std::vector<std::uint8_t> read_fixture(const std::string& name);

// Runs the program with `arguments` (without the program name) from the
// scratch folder, quietly, results in a scratch file; returns its status.
int run_program_quietly(std::vector<std::string> arguments);

// A fixture kept in an in-memory file, written over by an input's patches
// and restored after the run. Patches are [offset: 4 bytes LE][length: 1]
// [bytes]; offsets wrap at the fixture's size.
class patched_fixture {
 public:
  explicit patched_fixture(const std::string& name);
  bool empty() const { return m_original.empty(); }
  const std::string& path() const { return m_path; }
  void apply(std::span<const std::uint8_t> patches);
  void restore();

 private:
  std::vector<std::uint8_t> m_original;
  memory_file m_file;
  std::string m_path;
  std::vector<std::pair<std::uint64_t, std::size_t>> m_applied;  // offset, length
};

// Picks one entry of `choices` by `selector`.
template <typename T, std::size_t N>
const T& pick(const T (&choices)[N], std::uint8_t selector) {
  return choices[selector % N];
}

// Appends to `arguments` the layout and extras chosen by two selector bytes,
// so one target reaches every writer's formatting of what it parsed.
void add_layout_options(std::vector<std::string>& arguments, std::uint8_t layout, std::uint8_t extras);

}  // namespace fuzz
