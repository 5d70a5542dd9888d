#include "app/instance_runner.h"

#include <filesystem>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/instance_stream.h"
#include "app/run_driver.h"
#include "support/output_file.h"

namespace app {

namespace {

constexpr std::uint64_t max_instances = 64;

std::string hex_number(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

struct instance {
  std::string results_path;  // -separate_files: the file it writes
  pid_t process = -1;
  int results_pipe = -1;     // a merged run: where its frames arrive...
  int ack_pipe = -1;         // ...and where they are acknowledged
  // The header of its next frame, read ahead while it waits for its turn:
  // chunk, text bytes, column header bytes.
  std::uint64_t frame[3] = {};
  bool frame_waiting = false;
  bool pipe_ended = false;
};

// Starts the running program itself (/proc/self/exe, whatever argv[0]
// says) with `arguments`, its console output going nowhere: the results
// go to its own file. No shell is involved, so every argument arrives as
// it is, quotes and blanks included.
pid_t start_instance(const std::vector<std::string>& arguments, int results_pipe = -1, int ack_pipe = -1,
                     int claims = -1, int placement = -1) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  if (results_pipe >= 0) posix_spawn_file_actions_adddup2(&actions, results_pipe, instance_results_descriptor);
  if (ack_pipe >= 0) posix_spawn_file_actions_adddup2(&actions, ack_pipe, instance_ack_descriptor);
  if (claims >= 0) posix_spawn_file_actions_adddup2(&actions, claims, instance_claims_descriptor);
  if (placement >= 0) posix_spawn_file_actions_adddup2(&actions, placement, instance_placement_descriptor);
  // The parent ignores SIGPIPE while it merges; an instance must not.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t process = -1;
  if (::posix_spawn(&process, "/proc/self/exe", &actions, &attributes, argv.data(), environ) != 0) process = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return process;
}

// Waits for the instance; true when it ended by itself with status 0.
bool exited_cleanly(pid_t process) {
  if (process < 0) return false;
  int status = 0;
  while (::waitpid(process, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// True when the instance ended by itself with status 0 and left its
// results file. A results file appears only when the instance completed:
// until then it writes under a temporary name.
bool instance_succeeded(const instance& job) {
  struct stat results {};
  return exited_cleanly(job.process) && ::stat(job.results_path.c_str(), &results) == 0;
}

// A killed instance cannot remove the temporary it was writing
// ("." + its results file name + "." + six characters).
void remove_instance_leftovers(const instance& job) {
  const std::filesystem::path path(job.results_path);
  const std::string prefix = "." + path.filename().string() + ".";
  std::error_code error;
  // Stepped with an error code: a folder that fails mid-listing ends the
  // clean-up instead of throwing.
  std::error_code listing;
  for (std::filesystem::directory_iterator entry(path.parent_path(), listing), end;
       !listing && entry != end; entry.increment(listing)) {
    if (entry->path().filename().string().starts_with(prefix)) std::filesystem::remove(entry->path(), error);
  }
}

void note(run_options& options, const char* format, const std::string& text) {
  if (options.diagnostics && options.diagnostics->is_open()) options.diagnostics->write(format, text.c_str());
}

bool skip_bytes(int descriptor, std::uint64_t length) {
  char bytes[1 << 14];
  while (length > 0) {
    const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(length, sizeof bytes));
    if (!read_exactly(descriptor, bytes, part)) return false;
    length -= part;
  }
  return true;
}

// Reads frame headers from the instances that have none waiting until one
// holds `chunk`. Its index, or -1 when no instance can bring it: each pipe
// has ended or holds a later chunk.
int owner_of_chunk(std::vector<instance>& jobs, std::uint64_t chunk) {
  static_assert(sizeof jobs[0].frame == chunk_frame_header_bytes);
  std::vector<pollfd> waiting;
  std::vector<std::size_t> waiting_jobs;
  for (;;) {
    waiting.clear();
    waiting_jobs.clear();
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      const instance& job = jobs[i];
      if (job.frame_waiting && job.frame[0] == chunk) return static_cast<int>(i);
      if (job.frame_waiting || job.pipe_ended || job.results_pipe < 0) continue;
      waiting.push_back({job.results_pipe, POLLIN, 0});
      waiting_jobs.push_back(i);
    }
    if (waiting.empty()) return -1;
    if (::poll(waiting.data(), waiting.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    for (std::size_t w = 0; w < waiting.size(); ++w) {
      if (waiting[w].revents == 0) continue;
      instance& job = jobs[waiting_jobs[w]];
      job.frame_waiting = read_exactly(job.results_pipe, job.frame, sizeof job.frame);
      job.pipe_ended = !job.frame_waiting;
    }
  }
}

// Moves the text of the instance's waiting frame into `merged`. The column
// header is kept from the first chunk that has one (the first with result
// lines) and dropped from the later ones. False when the frame is malformed
// or ends early (the instance failed) or the results cannot be written
// (merged.failed()).
bool move_frame(instance& job, bool& header_taken, support::output_file& merged) {
  job.frame_waiting = false;
  std::uint64_t text_bytes = job.frame[1];
  const std::uint64_t header_bytes = job.frame[2];
  if (header_bytes > text_bytes) return false;
  if (header_bytes != 0 && header_taken) {
    if (!skip_bytes(job.results_pipe, header_bytes)) return false;
    text_bytes -= header_bytes;
  }
  if (header_bytes != 0) header_taken = true;
  return text_bytes == 0 || merged.append_pipe(job.results_pipe, text_bytes) == text_bytes;
}

// Tells the instance of the waiting frame where its text goes in the
// results file and how much of its start to leave out (a column header
// already written); `offset_bytes` moves past it. False when the frame is
// malformed or the instance cannot be told.
bool place_frame(instance& job, bool& header_taken, std::uint64_t& offset_bytes) {
  job.frame_waiting = false;
  const std::uint64_t text_bytes = job.frame[1];
  const std::uint64_t header_bytes = job.frame[2];
  if (header_bytes > text_bytes) return false;
  const std::uint64_t left_out = header_bytes != 0 && header_taken ? header_bytes : 0;
  if (header_bytes != 0) header_taken = true;
  const std::uint64_t answer[2] = {offset_bytes, left_out};
  char bytes[sizeof answer];
  std::memcpy(bytes, answer, sizeof bytes);
  // The instance reads each answer before it sends its next frame, so the
  // pipe always has room.
  if (::write(job.ack_pipe, bytes, sizeof bytes) != static_cast<ssize_t>(sizeof bytes)) return false;
  offset_bytes += text_bytes - left_out;
  return true;
}

// Moves a descriptor above those an instance is given (3 to 6), so that
// giving them never closes another. It closes on exec; the spawn's dup2
// gives the instance its own copy.
int above_instance_descriptors(int descriptor) {
  if (descriptor < 0 || descriptor > highest_instance_descriptor) return descriptor;
  const int moved = ::fcntl(descriptor, F_DUPFD_CLOEXEC, highest_instance_descriptor + 1);
  ::close(descriptor);
  return moved;
}

bool make_instance_pipe(int ends[2]) {
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  ends[0] = above_instance_descriptors(ends[0]);
  ends[1] = above_instance_descriptors(ends[1]);
  if (ends[0] >= 0 && ends[1] >= 0) return true;
  if (ends[0] >= 0) ::close(ends[0]);
  if (ends[1] >= 0) ::close(ends[1]);
  return false;
}

void close_descriptor(int& descriptor) {
  if (descriptor >= 0) ::close(descriptor);
  descriptor = -1;
}

// SIGPIPE ignored for as long as it lives: an acknowledgement to an
// instance that has ended must not end the parent.
class ignored_broken_pipes {
 public:
  ignored_broken_pipes() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &m_before);
  }
  ~ignored_broken_pipes() { ::sigaction(SIGPIPE, &m_before, nullptr); }
  ignored_broken_pipes(const ignored_broken_pipes&) = delete;
  ignored_broken_pipes& operator=(const ignored_broken_pipes&) = delete;

 private:
  struct sigaction m_before {};
};

// -separate_files: each instance walks one slice into a results file of its
// own (the results file's name + ".00001", ...), nothing is merged.
bool run_separate_instances(run_options& options, std::uint32_t instances, std::uint64_t count,
                            const std::vector<std::string>& reduced, const std::string& folder) {
  const std::string results_name = std::filesystem::path(options.results_path).filename().string();
  const std::vector<instance_slice> slices = split_entry_range(options.start_entry, count, instances);
  std::vector<instance> jobs(instances);
  for (std::uint32_t i = 0; i < instances; ++i) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%05u", i + 1);
    jobs[i].results_path = folder + results_name + suffix;
    std::vector<std::string> arguments = reduced;
    arguments.insert(arguments.end(),
                     {"-mftstart", hex_number(slices[i].start), "-mftrange", hex_number(slices[i].count), "-quiet",
                      "-cpuinst", std::to_string(i), "-out", jobs[i].results_path});
    jobs[i].process = start_instance(arguments);
  }
  std::fprintf(stderr, "%2d instances spawned\n", static_cast<int>(instances));
  bool all_succeeded = true;
  for (std::uint32_t i = 0; i < instances; ++i) {
    if (instance_succeeded(jobs[i])) {
      std::fprintf(stderr, "instance %2d done\n", static_cast<int>(i));
      continue;
    }
    std::fprintf(stderr, "instance %d failed\n", static_cast<int>(i));
    note(options, "instance %s failed", std::to_string(i));
    remove_instance_leftovers(jobs[i]);
    all_succeeded = false;
  }
  return all_succeeded;
}

// The merged run: every instance streams its chunks (see instance_stream.h)
// and they are written into the results file as they arrive, in order.
bool run_merged_instances(run_options& options, std::uint32_t instances, std::uint64_t count,
                          const std::vector<std::string>& reduced) {
  const std::uint64_t chunk_entries = instance_chunk_entries_for(count, instances);
  const std::uint64_t chunk_count = count / chunk_entries + (count % chunk_entries != 0);
  instances = static_cast<std::uint32_t>(std::min<std::uint64_t>(instances, chunk_count));
  support::output_file merged;
  if (!merged.open(options.results_path, options.append)) {
    std::fprintf(stderr, "prob writing to output file: %s\n", options.results_path.c_str());
    note(options, "prob writing to output file: %s", options.results_path);
    return false;
  }
  if (options.run_header.empty()) {
    note(options, "%s", "banner not present");
  } else {
    merged.stream().write(options.run_header.data(), static_cast<std::streamsize>(options.run_header.size()));
    merged.stream().put('\n');
  }

  // A regular results file takes each chunk's text straight from its
  // instance.
  std::uint64_t next_offset = 0;
  const int results_descriptor = merged.placement_descriptor(next_offset);
  const int placement = results_descriptor >= 0 ? above_instance_descriptors(::dup(results_descriptor)) : -1;
  const ignored_broken_pipes quiet_pipes;
  chunk_claims claims;
  const int claims_descriptor = claims.create() ? above_instance_descriptors(::dup(claims.descriptor())) : -1;
  std::vector<instance> jobs(instances);
  for (std::uint32_t i = 0; i < instances && claims_descriptor >= 0; ++i) {
    int results[2];
    int acks[2];
    if (!make_instance_pipe(results)) continue;  // no process: reported as failed below
    if (!make_instance_pipe(acks)) {
      ::close(results[0]);
      ::close(results[1]);
      continue;
    }
    // A larger pipe means fewer hand-overs per chunk; the kernel may refuse.
    ::fcntl(results[0], F_SETPIPE_SZ, 1 << 20);
    // An acknowledgement never waits: the instance reads each one before it
    // lends its next frame, and no longer needs them once it has ended.
    ::fcntl(acks[1], F_SETFL, O_NONBLOCK);
    std::vector<std::string> arguments = reduced;
    arguments.insert(arguments.end(), {"-mftstart", hex_number(options.start_entry), "-mftrange", hex_number(count),
                                       "-quiet", "-cpuinst", std::to_string(i), "-cpuchunk",
                                       std::to_string(chunk_entries)});
    if (placement >= 0) arguments.push_back("-cpuplace");
    jobs[i].process = start_instance(arguments, results[1], acks[0], claims_descriptor, placement);
    ::close(results[1]);
    ::close(acks[0]);
    jobs[i].results_pipe = results[0];
    jobs[i].ack_pipe = acks[1];
  }
  if (claims_descriptor >= 0) ::close(claims_descriptor);
  if (placement >= 0) ::close(placement);
  std::fprintf(stderr, "%2d instances spawned\n", static_cast<int>(instances));

  bool cut_short = false;
  int bad_frames = -1;  // the instance that sent a malformed or short frame
  bool header_taken = false;
  for (std::uint64_t chunk = 0; chunk < chunk_count; ++chunk) {
    const int owner = owner_of_chunk(jobs, chunk);
    if (owner >= 0 && placement >= 0) {
      if (place_frame(jobs[owner], header_taken, next_offset)) continue;
      cut_short = true;
      bad_frames = owner;
      break;
    }
    if (owner < 0 || !move_frame(jobs[owner], header_taken, merged)) {
      cut_short = true;
      if (owner >= 0 && !merged.failed()) bad_frames = owner;
      break;
    }
    const char ack = 1;
    if (::write(jobs[owner].ack_pipe, &ack, 1) < 0) {
      // Full (the instance is past its last lent frame) or closed (it has
      // ended): either way it waits for nothing.
    }
  }
  // Whether each instance completed: those whose pipes ended have exited
  // by themselves. The others, once their pipes are closed, end too; after
  // a failure they were cut off, not failed themselves.
  enum class outcome { done, failed, cut_off };
  std::vector<outcome> outcomes(instances, outcome::cut_off);
  for (std::uint32_t i = 0; i < instances; ++i) {
    if (jobs[i].pipe_ended || jobs[i].results_pipe < 0) {
      outcomes[i] = exited_cleanly(jobs[i].process) ? outcome::done : outcome::failed;
      jobs[i].process = -1;
    }
  }
  for (instance& job : jobs) {
    close_descriptor(job.results_pipe);
    close_descriptor(job.ack_pipe);
  }
  for (std::uint32_t i = 0; i < instances; ++i) {
    if (jobs[i].process >= 0) {
      const bool clean = exited_cleanly(jobs[i].process);
      outcomes[i] = clean ? outcome::done : cut_short ? outcome::cut_off : outcome::failed;
    }
    if (static_cast<int>(i) == bad_frames) outcomes[i] = outcome::failed;
  }
  // A chunk that never came while every instance says it completed: none
  // of them can be trusted, and the run must not end without a word.
  if (cut_short && !merged.failed() && std::find(outcomes.begin(), outcomes.end(), outcome::failed) == outcomes.end()) {
    std::fill(outcomes.begin(), outcomes.end(), outcome::failed);
  }
  bool all_succeeded = !cut_short;
  for (std::uint32_t i = 0; i < instances; ++i) {
    if (outcomes[i] == outcome::done) {
      std::fprintf(stderr, "instance %2d done\n", static_cast<int>(i));
    } else if (outcomes[i] == outcome::failed) {
      std::fprintf(stderr, "instance %d failed\n", static_cast<int>(i));
      note(options, "instance %s failed", std::to_string(i));
      all_succeeded = false;
    }
  }
  if (claims.write_error() != 0) {
    support::report_write_failure(merged.path(), claims.write_error());
    return false;
  }
  if (merged.failed() || (all_succeeded && !merged.commit())) {
    support::report_write_failure(merged.path(), merged.error());
    return false;
  }
  return all_succeeded;
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

bool run_instances(run_options& options, std::uint32_t instances, const std::vector<std::string>& reduced,
                   const std::string& separate_folder) {
  // The single run's range: from -mftstart to the end of what the source
  // holds, or -mftrange entries, but never past that end: a range of 2^64
  // entries must not become 2^55 empty chunks. A source the parent cannot
  // count is left to the instances, which fail on it.
  std::uint64_t count = options.entry_count;
  const std::uint64_t total = mft_entry_count_of(options);
  const std::uint64_t left = total > options.start_entry ? total - options.start_entry : 0;
  if (count == 0) {
    count = left;
  } else if (total != 0) {
    count = std::max<std::uint64_t>(std::min(count, left), 1);  // one chunk, empty, past the end
  }
  options.entry_count = count;
  if (count == 0) {
    std::fputs("prob handling your options, aborting\n", stderr);
    return false;
  }
  if (!options.results_named) return false;
  // An instance per slice, and no empty slice: an instance given no count
  // would walk to the end of the MFT.
  instances = static_cast<std::uint32_t>(std::min<std::uint64_t>({instances, max_instances, count}));
  return options.separate_files ? run_separate_instances(options, instances, count, reduced, separate_folder)
                                : run_merged_instances(options, instances, count, reduced);
}

}  // namespace app
