#include "app/instance_runner.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/run_driver.h"
#include "support/portable_thread.h"

namespace app {

namespace {

constexpr std::size_t data_start_window_bytes = 16384;

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
  std::vector<std::string> arguments;
  std::string results_path;
  bool wrote_console = false;
  support::portable_thread thread;
};

// The child's console output is read and dropped; its results go to its own
// file.
void run_instance(void* argument) {
  auto* job = static_cast<instance*>(argument);
  const std::string command = shell_command_line(job->arguments) + " 2>/dev/null";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return;
  char buffer[16384];
  std::size_t read_bytes = 0;
  while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) read_bytes += got;
  ::pclose(pipe);
  job->wrote_console = read_bytes > 0;
}

// Copies `from` past `offset_bytes` to the end of `to`, in the kernel when
// it can (copy_file_range), else through a buffer.
void append_file_tail(std::FILE* from, std::uint64_t offset_bytes, std::FILE* to) {
  std::fflush(to);
  const int source = ::fileno(from), target = ::fileno(to);
  loff_t position = static_cast<loff_t>(offset_bytes);
  struct stat status {};
  if (::fstat(source, &status) == 0) {
    ::lseek(target, 0, SEEK_END);
    while (position < status.st_size) {
      const ssize_t copied = ::copy_file_range(source, &position, target, nullptr,
                                               static_cast<std::size_t>(status.st_size - position), 0);
      if (copied <= 0) break;
    }
  }
  if (::lseek(source, position, SEEK_SET) < 0) return;
  char buffer[1 << 16];
  ssize_t got = 0;
  while ((got = ::read(source, buffer, sizeof buffer)) > 0) {
    if (::write(target, buffer, static_cast<std::size_t>(got)) != got) return;
  }
}

void note(run_options& options, const char* format, const std::string& text) {
  if (options.diagnostics && options.diagnostics->is_open()) options.diagnostics->write(format, text.c_str());
}

// Appends instance `index`'s result lines to `merged`; its file is removed
// whatever happens.
void merge_instance(run_options& options, const instance& job, std::size_t index, std::FILE* merged) {
  std::FILE* part = std::fopen(job.results_path.c_str(), "rb");
  if (!part) {
    note(options, "prob accessing %s - for merge", job.results_path);
  } else {
    std::uint64_t start = 0;
    if (find_data_start(part, index > 0, start)) append_file_tail(part, start, merged);
    std::fclose(part);
  }
  std::remove(job.results_path.c_str());
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

std::string shell_command_line(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line.push_back(' ');
    line.push_back('\'');
    for (const char c : argument) {
      if (c == '"') continue;
      if (c == '\'') {
        line.append("'\\''");
      } else {
        line.push_back(c);
      }
    }
    line.push_back('\'');
  }
  return line;
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
  std::uint64_t count = options.entry_count;
  if (count == 0) {
    count = mft_entry_count_of(options);
    options.entry_count = count;
  }
  if (count == 0) {
    std::fputs("prob handling your options, aborting\n", stderr);
    return false;
  }
  if (!options.results_named) return false;
  const std::string results_path = uni::wide_to_utf8(options.results_full_path);
  const bool separate = options.separate_files;
  if (separate) {
    std::remove(results_path.c_str());
  } else {
    std::FILE* results = std::fopen(results_path.c_str(), "wb");
    if (!results) {
      std::fprintf(stderr, "prob writing to output file: %s\n", results_path.c_str());
      note(options, "prob writing to output file: %s", results_path);
      return false;
    }
    if (options.run_header.empty()) {
      note(options, "%s", "banner not present");
    } else {
      std::fwrite(options.run_header.data(), 1, options.run_header.size(), results);
      std::fputc('\n', results);
    }
    std::fclose(results);
  }
  const std::string results_name = std::filesystem::path(results_path).filename().string();

  const std::vector<instance_slice> slices = split_entry_range(options.start_entry, count, instances);
  std::vector<std::unique_ptr<instance>> jobs;
  for (std::uint32_t i = 0; i < instances; ++i) {
    auto job = std::make_unique<instance>();
    job->arguments = reduced;
    if (separate) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, ".%05u", i + 1);
      job->results_path = temp_folder + results_name + suffix;
    } else {
      job->results_path = temp_folder + std::to_string(i) + "_" + random_characters(10) + "_temp.bin";
    }
    job->arguments.insert(job->arguments.end(),
                          {"-mftstart", hex_number(slices[i].start), "-mftrange", hex_number(slices[i].count),
                           "-quiet", "-cpuinst", std::to_string(i), "-out", job->results_path});
    job->thread.create_and_start(&run_instance, job.get());
    jobs.push_back(std::move(job));
  }
  std::fprintf(stderr, "%2d instances spawned\n", static_cast<int>(instances));

  // Not opened for appending: copy_file_range refuses such targets.
  std::FILE* merged = separate ? nullptr : std::fopen(results_path.c_str(), "r+b");
  for (std::uint32_t i = 0; i < instances; ++i) {
    jobs[i]->thread.wait_for_completion();
    std::fprintf(stderr, "instance %2d done\n", static_cast<int>(i));
    if (!separate) {
      if (merged) {
        merge_instance(options, *jobs[i], i, merged);
      } else {
        std::remove(jobs[i]->results_path.c_str());
      }
    }
    jobs[i].reset();
  }
  if (merged) std::fclose(merged);
  return true;
}

}  // namespace app
