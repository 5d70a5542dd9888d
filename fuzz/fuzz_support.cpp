#include "fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "app/run_driver.h"

namespace fuzz {

// Everything a run writes lands below one private folder in memory; the
// targets change into it so relative names given by an input stay there.
const std::string& scratch_folder() {
  // Never destroyed: the exit handler that removes the folder still needs it.
  static const std::string* folder = [] {
    std::string pattern = (std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/brindle-fuzz-XXXXXX");
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no scratch folder");
    std::filesystem::current_path(pattern);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*folder, ignored);
    });
    return new std::string(pattern);
  }();
  return *folder;
}

memory_file::memory_file() {
  m_descriptor = memfd_create("brindle-fuzz-input", MFD_CLOEXEC);
  if (m_descriptor < 0) throw std::runtime_error("memfd_create failed");
  m_path = "/proc/self/fd/" + std::to_string(m_descriptor);
}

memory_file::~memory_file() { close(m_descriptor); }

void memory_file::assign(std::span<const std::uint8_t> bytes) {
  if (ftruncate(m_descriptor, 0) != 0) throw std::runtime_error("ftruncate failed");
  m_size_bytes = 0;
  overwrite(0, bytes);
}

void memory_file::overwrite(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = pwrite(m_descriptor, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n <= 0) throw std::runtime_error("pwrite failed");
    done += static_cast<std::size_t>(n);
  }
  if (offset + bytes.size() > m_size_bytes) m_size_bytes = offset + bytes.size();
}

std::vector<std::uint8_t> read_fixture(const std::string& name) {
  const std::string path = std::string(BRINDLE_FUZZ_FIXTURE_DIR) + "/" + name;
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  std::vector<std::uint8_t> bytes(error ? 0 : size);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) bytes.clear();
  return bytes;
}

patched_fixture::patched_fixture(const std::string& name) : m_original(read_fixture(name)) {
  m_file.assign(m_original);
  // Under the fixture's own name, for readers that go by the extension.
  m_path = scratch_folder() + "/" + name;
  std::filesystem::remove(m_path);
  std::filesystem::create_symlink(m_file.path(), m_path);
}

void patched_fixture::apply(std::span<const std::uint8_t> patches) {
  if (m_original.empty()) return;
  for (std::size_t at = 0; at + 5 <= patches.size();) {
    const std::uint64_t offset = (patches[at] | patches[at + 1] << 8 | patches[at + 2] << 16 |
                                  static_cast<std::uint64_t>(patches[at + 3]) << 24) % m_original.size();
    std::size_t length = patches[at + 4];
    at += 5;
    length = std::min({length, patches.size() - at, static_cast<std::size_t>(m_original.size() - offset)});
    m_file.overwrite(offset, patches.subspan(at, length));
    m_applied.emplace_back(offset, length);
    at += length;
  }
}

void patched_fixture::restore() {
  for (const auto& [offset, length] : m_applied) m_file.overwrite(offset, {m_original.data() + offset, length});
  m_applied.clear();
}

int run_program_quietly(std::vector<std::string> arguments) {
  const std::string& folder = scratch_folder();
  arguments.insert(arguments.begin(), "brindle");
  arguments.insert(arguments.end(), {"-quiet", "-out", folder + "/results.txt"});
  // Starting walk threads costs more than walking a small fixture, which
  // cut executions tenfold; one layout choice below keeps the threaded walk
  // in reach.
  if (std::find(arguments.begin(), arguments.end(), "-threads") == arguments.end()) {
    arguments.insert(arguments.end(), {"-threads", "1"});
  }
  const int status = app::run_program(arguments);
  // BRINDLE_FUZZ_VERBOSE=1 shows each run's command and status, to see
  // what a corpus reaches.
  static const bool verbose = std::getenv("BRINDLE_FUZZ_VERBOSE") != nullptr;
  if (verbose) {
    for (const std::string& argument : arguments) std::fprintf(stderr, "%s ", argument.c_str());
    std::fprintf(stderr, "-> %d\n", status);
  }
  return status;
}

void add_layout_options(std::vector<std::string>& arguments, std::uint8_t layout, std::uint8_t extras) {
  static const std::vector<std::string> layouts[] = {
      {}, {"-csv"}, {"-csvperpath"}, {"-bodyfile"}, {"-csvl2t"}, {"-filepath_only"}, {"-hashfile", "md5"},
      {"-find_mft", "0"}, {"-find_mft", "5"}, {"-csv", "-filter_deleted_files_all"},
      {"-csv", "-dateformat", "mm/dd/yyyy", "-timeformat", "hh:mm:ss"}, {"-csv", "-csv_separator", ";"}, {"-jsonl"}, {"-jsonl_timeline"},
      {"-csv", "-threads", "3"}};
  static const char* const extra_flags[] = {"-action_include_ownersid", "-action_include_zoneinfo",
                                            "-action_include_clusterinfo", "-action_include_header",
                                            "-md5", "-sha256", "-raw", "-filter_deleted_files"};
  const auto& chosen = pick(layouts, layout);
  arguments.insert(arguments.end(), chosen.begin(), chosen.end());
  for (unsigned bit = 0; bit < 8; ++bit) {
    if (extras & (1u << bit)) arguments.emplace_back(extra_flags[bit]);
  }
}

}  // namespace fuzz
