#include "app/run_driver.h"

#include "app/instance_runner.h"
#include "app/instance_stream.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <set>
#include <system_error>
#include <thread>

#include "app/argument_list.h"
#include "app/build_features.h"
#include "app/evidence_options.h"
#include "app/option_warnings.h"
#include "app/option_parser.h"
#include "app/run_header.h"
#include "app/usage.h"
#include "support/console.h"
#include "support/file_io.h"
#include "support/output_file.h"
#include "walk/evidence_scan.h"
#include "walk/mft_walk.h"
#include "walk/record_filters.h"

namespace app {

namespace {

bool help_requested(const std::vector<std::string>& arguments) {
  if (arguments.size() <= 1) return true;
  for (const auto& argument : arguments) {
    if (equals_ignoring_case(argument, "-h") || equals_ignoring_case(argument, "-help") ||
        equals_ignoring_case(argument, "/?") || equals_ignoring_case(argument, "--help")) {
      return true;
    }
  }
  return false;
}

bool version_requested(const std::vector<std::string>& arguments) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (equals_ignoring_case(arguments[i], "-version") || equals_ignoring_case(arguments[i], "--version")) return true;
  }
  return false;
}

}  // namespace

bool inode_set_scan(const run_options& options) {
  const walk::filter_settings& filters = options.filters;
  bool pattern = false;
  for (const auto& item : filters.content) pattern = pattern || item.kind == walk::content_kind::pattern;
  return !filters.inodes.empty() && filters.directory_inodes.empty() && filters.names.empty() &&
         filters.extensions.empty() && filters.wildcards.empty() && !pattern && !filters.deleted_only &&
         !options.deleted_all_scan;
}

namespace {

// Says on standard error why a walk could not be done.
bool walked(bool done, const walk::walk_run& run, const output::output_settings& settings) {
  if (!done) std::fprintf(stderr, "error: reading %s: %s\n", settings.source_name.c_str(), run.failure().c_str());
  return done;
}

// Runs the scans the options ask for into `stream`: the MFT records (all,
// or the inode set), then, when asked, the volume's free clusters. False
// when a source could not be walked (reported) or an output could not be
// written (left to the caller to report).
bool run_scans(run_options& options, output::results_stream& stream,
               std::function<bool(std::uint64_t&)> chunk_claim = {},
               std::function<bool(std::uint64_t)> chunk_done = {}) {
  const output::output_settings settings = make_output_settings(options);
  walk::walk_settings walk_settings = make_walk_settings(options);
  walk_settings.chunk_claim = std::move(chunk_claim);
  walk_settings.chunk_done = std::move(chunk_done);
  const auto writer = output::make_record_writer(settings);
  walk::record_filters filter(options.filters, options.hexadecimal);
  walk::walk_run run(walk_settings, *writer, stream, filter, options.diagnostics.get());
  run.set_writer_factory([&settings] { return output::make_record_writer(settings); });
  const uni::wide_string from_mft = uni::to_wide("\n- scanning MFT records from $MFT");
  const char* finished = "finished scanning MFT records from $MFT... proceeding to unallocated clusters\n";

  // -indxfile alone names no MFT: there is nothing to walk but its slack.
  const bool index_file_only =
      !options.indx_file_path.empty() && options.mft_file_path.empty() && options.partition_path.empty();
  bool unallocated_next = false;
  if (index_file_only) {
  } else if (inode_set_scan(options)) {
    std::set<ntfs::entry_number> entries;
    for (const auto& [entry, item] : options.filters.inodes) entries.insert(entry);
    if (!walked(walk::inode_set_walk(run, entries), run, settings)) return false;
  } else if (options.all_clusters_scan) {
    filter.set_deleted_only(false);
    filter.set_and_logic(false);
    options.run_description += from_mft;
    if (!walked(walk::mft_range_walk(run), run, settings)) return false;
    if (options.progress) support::console_message("%s", finished);
    unallocated_next = true;
  } else if (options.deleted_all_scan) {
    filter.set_deleted_only(true);
    filter.set_and_logic(true);
    options.run_description += from_mft;
    if (!walked(walk::mft_range_walk(run), run, settings)) return false;
    if (options.progress) support::console_message("%s", finished);
    filter.set_deleted_only(false);
    unallocated_next = true;
  } else if (options.unallocated_scan) {
    unallocated_next = true;
  } else if (!walked(walk::mft_range_walk(run), run, settings)) {
    return false;
  }
  if (options.evidence.any()) {
    output::evidence_writer evidence_writer(settings);
    walk::evidence_scan scan(run, options.filters, evidence_writer);
    scan.journal_rows(options.evidence);
    scan.slack_rows(options.evidence);
    run.close_source();
  }
  // An extracted $MFT has no clusters (a warning said so).
  if (unallocated_next && options.mft_file_path.empty()) {
    options.unallocated_scan = true;
    filter.set_and_logic(true);
    options.run_description = uni::to_wide("- scanning MFT records from unallocated space");
    options.source_label = "NTFS:UNALLOC";
    walk_settings.source_label = options.source_label.c_str();
    if (!run.output_failed() && !walked(walk::unallocated_cluster_walk(run), run, settings)) return false;
  }
  stream.flush();
  if (run.output_failed() && !stream.failed()) {
    const walk::file_extraction& extraction = run.extraction();
    support::report_write_failure(extraction.write_path(), extraction.write_error());
    return false;
  }
  return true;
}

class run_end_report {
 public:
  explicit run_end_report(const run_options& options)
      : m_options(options), m_start(std::chrono::steady_clock::now()) {}
  ~run_end_report() { finish(); }
  void finish() {
    if (m_finished) return;
    m_finished = true;
    if (m_options.progress) support::clear_progress_line();
    const bool log_open = m_options.diagnostics && m_options.diagnostics->is_open();
    if (!m_options.profile && !log_open) return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    char text[64];
    std::snprintf(text, sizeof text, "->%g secs", seconds);
    if (m_options.profile) std::fprintf(stderr, "%s\n", text);
    if (log_open) m_options.diagnostics->append_raw(text);
  }

 private:
  const run_options& m_options;
  std::chrono::steady_clock::time_point m_start;
  bool m_finished = false;
};

// What the results call the input source: the $MFT file or image path, the
// drive or the partition.
std::string source_name_of(const run_options& options) {
  if (!options.mft_file_path.empty()) return uni::wide_to_utf8(options.mft_file_path);
  if (options.drive_number != 0xFFFFFFFF) return "physical drive: " + std::to_string(options.drive_number);
  if (!options.vmdk_given.empty()) {
    std::string name = options.vmdk_given.size() > 1 ? "vmdk files: " : "vmdk file: ";
    for (std::size_t i = 0; i < options.vmdk_given.size(); ++i) {
      if (i) name.append("; ");
      name.append("'").append(uni::wide_to_utf8(options.vmdk_given[i])).append("'");
    }
    return name;
  }
  const uni::wide_string& image =
      !options.volume_image_path.empty() ? options.volume_image_path : options.disk_image_path;
  if (!image.empty()) {
    // A container is named by its first file and its kind: "E01: /cases/disk.E01".
    const std::string path = uni::wide_to_utf8(image);
    return options.container_kind.empty() ? path : options.container_kind + ": " + path;
  }
  if (!options.partition_path.empty()) return "partition: " + uni::wide_to_utf8(options.partition_path);
  return uni::wide_to_utf8(options.mounted_vmdk_path);
}

}  // namespace

output::output_settings make_output_settings(const run_options& options) {
  output::output_settings settings;
  if (options.detailed_dump) {
    settings.kind = output::layout::record_dump;
  } else if (options.json_lines) {
    settings.kind = output::layout::jsonl;
  } else if (options.json_lines_timeline) {
    settings.kind = output::layout::jsonl_timeline;
  } else if (options.per_path_csv) {
    settings.kind = output::layout::per_path;
  } else if (options.file_path_only) {
    settings.kind = output::layout::path_list;
  } else if (options.hash_list) {
    settings.kind = output::layout::hash_list;
  } else if (options.bodyfile) {
    settings.kind = output::layout::bodyfile;
  } else if (options.csv_l2t) {
    settings.kind = output::layout::l2t;
  }
  settings.separator = options.separator;
  settings.padding = !options.no_whitespace;
  if (options.no_whitespace) std::erase(settings.separator, ' ');
  settings.quoted_fields = options.quoted_fields;
  output::derive_separator(settings);

  settings.hexadecimal = options.hexadecimal;
  settings.pair_datetime = options.pair_datetime;
  settings.date_pattern = options.date_pattern;
  settings.time_pattern = options.time_pattern;
  cv::make_datetime_format(settings.datetime, options.date_pattern, options.time_pattern, options.pair_datetime);
  settings.date_width = cv::date_format_width(options.date_pattern);
  settings.time_width = cv::time_format_width(options.time_pattern);

  settings.host_name = options.host_name;
  settings.plain_run = options.plain_run;
  settings.cluster_info = options.cluster_info;
  settings.zone_info = options.include_zone_info;
  settings.md5_column = options.hash_md5;
  settings.sha1_column = options.hash_sha1;
  settings.sha256_column = options.hash_sha256;
  settings.header_column = options.header_bytes && options.header_length > 0;
  settings.extraction_column = options.copy_files;
  settings.user_name = options.user_name;
  settings.program_name = options.program_name;
  settings.source_name = source_name_of(options);
  settings.hide_dos_times = options.hide_dos_times;
  settings.record_offset = options.record_offset;
  settings.bare_mft_source = options.source_kind == 36;
  settings.window_start = options.filters.window_start;
  settings.window_stop = options.filters.window_stop;
  return settings;
}

unsigned walk_thread_count(const run_options& options) {
  if (options.threads != 0) return options.threads;
  // The instances of a -cpu run already share the cores between them.
  if (options.instance_number != 0xFFFFFFFF) return 1;
  // Past a few threads the writer and the disk set the pace, and every
  // thread adds its own path cache.
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(cores, 1u, default_walk_threads_cap);
}

walk::walk_settings make_walk_settings(const run_options& options) {
  walk::walk_settings settings;
  settings.mft_file_path = options.mft_file_path;
  // One volume source, in the order the options are honoured: a drive, an
  // image, a partition, then a mounted VMDK.
  settings.volume_offset = options.volume_offset;
  if (options.drive_number != 0xFFFFFFFF) {
    settings.drive_number = options.drive_number;
  } else if (!options.vmdk_chain.empty()) {
    settings.vmdk_chain = options.vmdk_chain;
  } else if (!options.volume_image_path.empty() || !options.disk_image_path.empty()) {
    settings.volume_path = !options.volume_image_path.empty() ? options.volume_image_path : options.disk_image_path;
  } else if (!options.partition_path.empty()) {
    settings.volume_path = options.partition_path;
    settings.volume_offset = 0;
  } else {
    settings.volume_path = options.mounted_vmdk_path;
  }
  settings.start_entry = options.start_entry;
  settings.entry_count = options.entry_count;
  settings.set_within_range = options.instance_number != 0xFFFFFFFF;
  settings.progress = options.progress;
  settings.header_bytes = options.header_bytes;
  settings.header_length = options.header_length;
  settings.record_offset = options.record_offset;
  settings.csv_per_path = options.per_path_csv;
  settings.future_limit = options.anomaly_ceiling;
  settings.source_label = options.source_label.c_str();
  settings.include_zone_info = options.include_zone_info;
  settings.owner_sid = options.include_owner_sid;
  settings.record_dump = options.detailed_dump;
  settings.actions.md5 = options.hash_md5;
  settings.actions.sha1 = options.hash_sha1;
  settings.actions.sha256 = options.hash_sha256;
  settings.actions.raw = options.raw_read;
  settings.actions.skip_sparse = options.skip_sparse;
  // Only the layouts show header bytes; the signature filters read their own.
  settings.actions.header_bytes = options.header_bytes && !options.detailed_dump;
  settings.actions.header_strings = options.header_strings;
  settings.actions.header_length = options.header_length;
  settings.actions.extraction.enabled = options.copy_files;
  settings.actions.extraction.folder = uni::wide_to_utf8(options.copy_folder);
  settings.actions.extraction.choice = options.copy_streams;
  settings.actions.extraction.keep_extension = options.keep_extension;
  settings.actions.extraction.instance = options.instance_number;
  settings.threads = walk_thread_count(options);
  if (options.instance_chunk_entries != 0) {
    // A streaming instance walks its chunks on one thread: the instances
    // are the run's threads.
    settings.chunk_entries = options.instance_chunk_entries;
    settings.threads = 1;
  }
  settings.actions.overlap_digests = settings.threads > 1;
  return settings;
}

std::uint64_t mft_entry_count_of(const run_options& options) {
  const output::output_settings settings = make_output_settings(options);
  const walk::walk_settings walk_settings = make_walk_settings(options);
  const auto writer = output::make_record_writer(settings);
  output::results_stream stream;  // collects nothing: counting writes no line
  walk::record_filters filter(options.filters, options.hexadecimal);
  walk::walk_run run(walk_settings, *writer, stream, filter, nullptr);
  return walk::mft_entry_count(run);
}

namespace {

// The end of every run that got past its options: the run's last words in
// the diagnostics log, then the log itself must be complete.
int finish_run(int status, run_options& options, run_end_report& end_report) {
  end_report.finish();
  if (!options.diagnostics || !options.diagnostics->is_open()) return status;
  const int error = options.diagnostics->close_checked();
  if (error == 0) return status;
  support::report_write_failure(options.diagnostics->path(), error);
  return exit_failure;
}

// The parent of a -cpu run: the instances get the command line without the
// options that only the parent acts on, and without the entry range, which
// each replaces with its own slice.
int run_split(run_options& options, const argument_list& untouched) {
  std::string folder;
  if (options.separate_files) {
    folder = std::filesystem::path(uni::wide_to_utf8(options.results_full_path)).parent_path().string();
    if (folder.empty() || folder.back() != '/') folder.push_back('/');
    std::error_code error;
    std::filesystem::create_directories(folder, error);
  }
  argument_list reduced = untouched;
  std::string value;
  // Each instance would write the one diagnostics log over the others'.
  for (const char* option : {"-cpu", "-out", "-outfile", "-tempdir", "-cpuinst", "-cpuchunk",
                             "-mftstart", "-mftrange", "-diags"}) {
    while (reduced.peek_value(option, value, 1)) reduced.remove_with_value(option);
  }
  for (const char* flag : {"-profile", "-separate_files", "-append", "-l2", "-l3", "-cpuplace"}) {
    while (reduced.flag(flag)) {
    }
  }
  return run_instances(options, options.instance_count, reduced.items(), folder) ? exit_success : exit_failure;
}

// An instance of a merged -cpu run: its chunks go to the parent through
// descriptor 3 (see instance_stream.h), with no run header.
int run_streaming_instance(run_options& options) {
  chunk_claims claims;
  if (options.entry_count == 0 || !claims.map(instance_claims_descriptor)) {
    std::fputs("invalid cmd options, aborting\n", stderr);
    return exit_failure;
  }
  const std::uint64_t chunk_entries = options.instance_chunk_entries;
  const std::uint64_t chunk_count =
      options.entry_count / chunk_entries + (options.entry_count % chunk_entries != 0);
  output::results_stream stream;  // collects one chunk at a time
  chunk_sender sender(instance_results_descriptor, instance_ack_descriptor,
                      options.instance_places_text ? instance_placement_descriptor : -1, claims, stream);
  const bool walked = run_scans(
      options, stream, [&](std::uint64_t& chunk) { return claims.claim(chunk_count, chunk); },
      [&sender](std::uint64_t chunk) { return sender.send(chunk); });
  const bool sent = sender.finish();
  return walked && sent ? exit_success : exit_failure;
}

}  // namespace

int run_program(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return exit_failure;
  if (help_requested(arguments)) {
    print_usage(arguments.front().c_str());
    return exit_success;
  }
  if (version_requested(arguments)) {
    const std::string report = version_report();
    std::fwrite(report.data(), 1, report.size(), stdout);
    return exit_success;
  }

  const argument_list untouched(arguments);
  std::string header_date;
  untouched.peek_value("-dateformat", header_date, 1);
  std::string header = build_run_header(arguments, header_date);
  // JSON Lines results hold nothing but JSON objects.
  const bool json_lines = json_lines_requested(untouched);
  if (!json_lines) std::fwrite(header.data(), 1, header.size(), stdout);

  run_options options;
  argument_list consumable(arguments);
  const int parsed = parse_options(options, consumable, version_text, "NTFS$MFT");
  // What a container tells of its acquisition ends the run header.
  if (!options.image_details.empty()) {
    const std::string line = "image: " + options.container_kind + "; " + options.image_details + "\n";
    header += line;
    if (!json_lines) std::fwrite(line.data(), 1, line.size(), stdout);
    if (options.diagnostics && options.diagnostics->is_open()) options.diagnostics->write("%s", line.c_str());
  }
  if (!json_lines) std::fputc('\n', stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    support::report_write_failure("standard output", errno);
    return exit_failure;
  }
  if (parsed == parse_failed_reported || parsed == parse_no_source) return exit_failure;
  if (parsed == parse_bad_command_line) {
    std::fputs("invalid cmd options, aborting\n", stderr);
    return exit_failure;
  }
  run_end_report end_report(options);
  warn_unapplied_options(options, consumable);
  if (json_lines && options.diagnostics && options.diagnostics->is_open()) {
    options.diagnostics->append_raw(header.c_str());
  }
  options.wide_separator = uni::to_wide(options.separator);
  options.run_header = header;

  if (options.results_named) {
    const std::filesystem::path folder = std::filesystem::path(options.results_path).parent_path();
    std::error_code error;
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
    if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
      std::fprintf(stderr, "prob creating archive file: %s, aborting\n", options.results_path.c_str());
      return exit_failure;
    }
  }

  if (options.instance_count > 1 && !options.results_named) {
    std::fputs("Need to specify an output file to put the merged results in [-out <file>]\n", stderr);
    return exit_failure;
  }
  if (options.instance_count > 1 && (options.unallocated_scan || options.deleted_all_scan ||
                                     options.all_clusters_scan || options.evidence.any())) {
    std::fputs("The -cpu option only supports MFT analysis\n", stderr);
    return exit_failure;
  }

  // The merge keeps each instance's lines after its run header, which JSON
  // results do not have.
  if (options.instance_count > 1 && json_lines) {
    std::fputs("The -cpu option does not support -jsonl or -jsonl_timeline\n", stderr);
    return exit_failure;
  }
  if (options.instance_count > 1) return finish_run(run_split(options, untouched), options, end_report);
  if (options.instance_chunk_entries != 0) return finish_run(run_streaming_instance(options), options, end_report);

  support::output_file results;
  if (options.results_named) {
    if (!results.open(options.results_path, options.append)) {
      std::fprintf(stderr, "prob opening file %s for output, aborting\n ", options.results_path.c_str());
      return exit_failure;
    }
    if (!json_lines) {
      results.stream().write(header.data(), static_cast<std::streamsize>(header.size()));
      results.stream().put('\n');
    }
  } else {
    results.open_standard_output();
  }
  bool complete = false;
  {
    output::results_stream stream(results.stream());
    complete = run_scans(options, stream);
  }
  if (complete && (results.failed() || !results.commit())) {
    support::report_write_failure(results.path(), results.error());
    complete = false;
  }
  if (!complete) results.abandon();
  return finish_run(complete ? exit_success : exit_failure, options, end_report);
}
}  // namespace app
