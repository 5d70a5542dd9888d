#include "app/instance_runner.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/run_driver.h"
#include "support/output_file.h"

namespace app {

namespace {

constexpr std::size_t data_start_window_bytes = 16384;
constexpr std::uint64_t max_instances = 64;

std::string hex_number(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string random_characters(std::size_t count) {
  static constexpr char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  static std::mt19937_64 generator(std::random_device{}() ^
                                   static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text.push_back(alphabet[pick(generator)]);
  return text;
}

struct instance {
  std::string results_path;
  pid_t process = -1;
};

// Starts the running program itself (/proc/self/exe, whatever argv[0]
// says) with `arguments`, its console output going nowhere: the results
// go to its own file. No shell is involved, so every argument arrives as
// it is, quotes and blanks included.
pid_t start_instance(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t process = -1;
  if (::posix_spawn(&process, "/proc/self/exe", &actions, nullptr, argv.data(), environ) != 0) process = -1;
  posix_spawn_file_actions_destroy(&actions);
  return process;
}

// True when the instance ended by itself with status 0 and left its
// results file. A results file appears only when the instance completed:
// until then it writes under a temporary name.
bool instance_succeeded(const instance& job) {
  if (job.process < 0) return false;
  int status = 0;
  while (::waitpid(job.process, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  struct stat results {};
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && ::stat(job.results_path.c_str(), &results) == 0;
}

// A killed instance cannot remove the temporary it was writing
// ("." + its results file name + "." + six characters).
void remove_instance_leftovers(const instance& job) {
  const std::filesystem::path path(job.results_path);
  const std::string prefix = "." + path.filename().string() + ".";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(path.parent_path(), error)) {
    if (entry.path().filename().string().starts_with(prefix)) std::filesystem::remove(entry.path(), error);
  }
}

void note(run_options& options, const char* format, const std::string& text) {
  if (options.diagnostics && options.diagnostics->is_open()) options.diagnostics->write(format, text.c_str());
}

// Appends instance `index`'s result lines to `merged`; its file is removed
// whatever happens. The column header is kept from the first instance that
// has result lines and dropped from the others. True when lines were added.
bool merge_instance(run_options& options, const instance& job, bool drop_column_header, support::output_file& merged) {
  std::FILE* part = std::fopen(job.results_path.c_str(), "rb");
  std::uint64_t appended = 0;
  if (!part) {
    note(options, "prob accessing %s - for merge", job.results_path);
  } else {
    std::uint64_t start = 0;
    if (find_data_start(part, drop_column_header, start)) appended = merged.append_file(::fileno(part), start);
    std::fclose(part);
  }
  std::remove(job.results_path.c_str());
  return appended > 0;
}

}  // namespace

std::vector<instance_slice> split_entry_range(std::uint64_t start, std::uint64_t count, std::uint32_t instances) {
  std::vector<instance_slice> slices;
  if (instances == 0) return slices;
  const std::uint64_t slice = count / instances;
  for (std::uint32_t i = 0; i < instances; ++i) {
    const bool last = i + 1 == instances;
    slices.push_back({start + i * slice, last ? count - (instances - 1ULL) * slice : slice});
  }
  return slices;
}

bool find_data_start(std::FILE* file, bool skip_column_header, std::uint64_t& offset_bytes) {
  char window[data_start_window_bytes];
  std::rewind(file);
  const std::size_t size = std::fread(window, 1, sizeof window, file);
  std::size_t at = 0;
  bool blank_seen = false;
  while (at < size) {
    // One line: CR bytes at its start are skipped, the rest up to LF.
    std::size_t from = at;
    while (from < size && window[from] == '\r') ++from;
    std::size_t end = from;
    while (end < size && window[end] != '\n') {
      if (window[end] == '\0') return false;
      ++end;
    }
    if (end == size && !blank_seen) return false;  // no complete line break in the window
    std::size_t last = end;
    while (last > from && (window[last - 1] == ' ' || window[last - 1] == '\t' || window[last - 1] == '\r')) --last;
    const bool empty = last == from;
    const std::size_t next = end < size ? end + 1 : size;
    if (!blank_seen) {
      if (empty) {
        blank_seen = true;
        std::size_t data = next;
        while (data < size && (window[data] == '\r' || window[data] == '\n')) ++data;
        if (!skip_column_header) {
          offset_bytes = data;
          return true;
        }
        at = data;
        continue;
      }
    } else if (!empty) {
      offset_bytes = next;  // past the column header
      return true;
    }
    at = next;
  }
  if (blank_seen && !skip_column_header) return true;
  if (blank_seen) {
    offset_bytes = size;
    return true;
  }
  return false;
}

bool run_instances(run_options& options, std::uint32_t instances, const std::vector<std::string>& reduced,
                   const std::string& temp_folder) {
  // The single run's range: from -mftstart to the end of what the source
  // holds, unless -mftrange says otherwise.
  std::uint64_t count = options.entry_count;
  if (count == 0) {
    const std::uint64_t total = mft_entry_count_of(options);
    count = total > options.start_entry ? total - options.start_entry : 0;
    options.entry_count = count;
  }
  if (count == 0) {
    std::fputs("prob handling your options, aborting\n", stderr);
    return false;
  }
  if (!options.results_named) return false;
  // An instance per slice, and no empty slice: an instance given no count
  // would walk to the end of the MFT.
  instances = static_cast<std::uint32_t>(std::min<std::uint64_t>({instances, max_instances, count}));
  const std::string& results_path = options.results_path;
  const bool separate = options.separate_files;
  support::output_file merged;
  if (!separate) {
    if (!merged.open(results_path, options.append)) {
      std::fprintf(stderr, "prob writing to output file: %s\n", results_path.c_str());
      note(options, "prob writing to output file: %s", results_path);
      return false;
    }
    if (options.run_header.empty()) {
      note(options, "%s", "banner not present");
    } else {
      merged.stream().write(options.run_header.data(), static_cast<std::streamsize>(options.run_header.size()));
      merged.stream().put('\n');
    }
  }
  const std::string results_name = std::filesystem::path(results_path).filename().string();

  const std::vector<instance_slice> slices = split_entry_range(options.start_entry, count, instances);
  std::vector<instance> jobs(instances);
  for (std::uint32_t i = 0; i < instances; ++i) {
    instance& job = jobs[i];
    if (separate) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, ".%05u", i + 1);
      job.results_path = temp_folder + results_name + suffix;
    } else {
      job.results_path = temp_folder + std::to_string(i) + "_" + random_characters(10) + "_temp.bin";
    }
    std::vector<std::string> arguments = reduced;
    arguments.insert(arguments.end(),
                     {"-mftstart", hex_number(slices[i].start), "-mftrange", hex_number(slices[i].count), "-quiet",
                      "-cpuinst", std::to_string(i), "-out", job.results_path});
    job.process = start_instance(arguments);
  }
  std::fprintf(stderr, "%2d instances spawned\n", static_cast<int>(instances));

  const output::layout kind = make_output_settings(options).kind;
  const bool column_header = kind != output::layout::path_list && kind != output::layout::record_dump;
  bool all_succeeded = true;
  bool header_taken = false;
  for (std::uint32_t i = 0; i < instances; ++i) {
    const bool succeeded = instance_succeeded(jobs[i]);
    if (succeeded) {
      std::fprintf(stderr, "instance %2d done\n", static_cast<int>(i));
    } else {
      std::fprintf(stderr, "instance %d failed\n", static_cast<int>(i));
      note(options, "instance %s failed", std::to_string(i));
      remove_instance_leftovers(jobs[i]);
      all_succeeded = false;
    }
    if (separate) continue;
    if (succeeded && all_succeeded) {
      if (merge_instance(options, jobs[i], column_header && header_taken, merged)) header_taken = true;
    } else {
      std::remove(jobs[i].results_path.c_str());
    }
  }
  if (!all_succeeded) return false;
  if (!separate && (merged.failed() || !merged.commit())) {
    support::report_write_failure(merged.path(), merged.error());
    return false;
  }
  return true;
}

}  // namespace app
