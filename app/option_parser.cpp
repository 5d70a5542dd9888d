#include "app/option_parser.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <unistd.h>

#include "app/action_options.h"
#include "app/evidence_options.h"
#include "app/filter_options.h"
#include "app/option_values.h"
#include "app/output_paths.h"
#include "app/script_file.h"
#include "app/source_options.h"
#include "output/cv_time.h"

namespace app {

namespace {

std::string lower_case(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return text;
}

std::string slashes_forward(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

// Creates the folder part of `path` with its parents. True when there is
// nothing to create or the folder exists afterwards.
bool create_parent_folder(const std::string& path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) return true;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  return std::filesystem::is_directory(folder, error);
}

bool take_number(argument_list& arguments, const char* option, std::uint64_t& value, bool& present) {
  std::string text;
  present = arguments.value(option, text);
  if (!present) return true;
  if (parse_number(text, value)) return true;
  std::fprintf(stderr, "error: %s needs a number, not '%s'\n", option, text.c_str());
  return false;
}

// Options shared by the tool family; a failure is a bad command line.
bool parse_shared_options(run_options& options, argument_list& arguments) {
  options.pair_datetime = arguments.flag("-pair_datetime");

  std::string value;
  if (arguments.value("-diags", value)) {
    options.diagnostics_path = value;
    // Opened once every source is known (prepare_outputs).
    if (!options.diagnostics) options.diagnostics = std::make_unique<support::diagnostics_log>();
    if (arguments.flag("-l2")) options.diagnostics->set_level(2);
    if (arguments.flag("-l3")) options.diagnostics->set_level(3);
  }
  if (arguments.flag("-csv")) {
    options.csv = true;
    options.separator = ",";
    if (!options.pair_datetime) options.no_whitespace = true;
  }
  if (arguments.flag("-csvl2t")) {
    options.csv_l2t = true;
    options.separator = ",";
  }
  if (arguments.flag("-bodyfile")) {
    options.bodyfile = true;
    options.separator = "|";
  }
  // One machine format per run: the hash list beats the bodyfile, which
  // beats log2timeline, which beats CSV.
  if (options.hash_list) options.csv = options.csv_l2t = options.bodyfile = false;
  if (options.bodyfile) options.csv_l2t = false;
  if (options.bodyfile || options.csv_l2t) options.csv = false;
  if (arguments.value("-hostname", value)) {
    options.host_name = value;
    options.host_name_set = true;
  }
  if (arguments.value("-username", value)) options.user_name = value;
  std::uint64_t count = 0;
  bool present = false;
  if (!take_number(arguments, "-cpu", count, present)) return false;
  if (present) options.instance_count = static_cast<std::uint32_t>(count);
  if (!take_number(arguments, "-cpuinst", count, present)) return false;
  if (present) {
    options.instance_number = static_cast<std::uint32_t>(count);
    // A started instance never splits again, even when a script file it
    // reads names -cpu.
    options.instance_count = 0;
  }
  if (!take_number(arguments, "-cpuchunk", count, present)) return false;
  if (present) {
    // Only an instance streams its results.
    if (count == 0 || options.instance_number == 0xFFFFFFFF) return false;
    options.instance_chunk_entries = count;
  }
  options.instance_places_text = arguments.flag("-cpuplace") && options.instance_chunk_entries != 0;
  if (!take_number(arguments, "-threads", count, present)) return false;
  if (present) {
    if (count == 0) {
      std::fputs("error: -threads needs a number of 1 or more\n", stderr);
      return false;
    }
    options.threads = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, max_walk_threads));
  }
  if (arguments.value("-tempdir", value)) options.temp_folder = slashes_forward(value);
  if (!take_number(arguments, "-fragment_files", count, present)) return false;
  if (present) {
    options.fragment_count = static_cast<std::uint32_t>(count);
    options.separate_files = true;
  }
  if (arguments.flag("-separate_files")) options.separate_files = true;

  options.append = arguments.flag("-append");
  if (arguments.value("-outfile", value) || arguments.value("-out", value)) {
    options.results_path = slashes_forward(value);
    options.results_named = true;
  }
  options.profile = arguments.flag("-profile");
  options.pipe = arguments.flag("-pipe");
  if (arguments.flag("-base10")) options.hexadecimal = false;
  if (arguments.value("-csv_separator", value)) options.separator = value;
  if (arguments.flag("-no_whitespace")) options.no_whitespace = true;
  if (arguments.flag("-enable_quoted_csv_fields")) options.quoted_fields = true;

  if (arguments.value("-dateformat", value)) {
    cv::datetime_format probe{};
    const std::string lower = lower_case(value);
    if ((value.size() == 10 || value.size() == 8) && cv::make_datetime_format(probe, lower, "", false)) {
      options.date_pattern = lower;
    } else {
      std::fprintf(stderr, "invalid %s, using default format\n", value.c_str());
    }
  }
  if (arguments.value("-timeformat", value)) {
    const bool length_ok = value.size() == 8 || (value.size() >= 12 && value.size() <= 18);
    if (length_ok && value.find(':') != std::string::npos) {
      options.time_pattern = lower_case(value);
    } else {
      std::fprintf(stderr, "invalid %s, using default format\n", value.c_str());
    }
  }
  if (arguments.flag("-quiet")) options.progress = false;
  return true;
}

void clear_table_modes(run_options& options) {
  options.per_path_csv = false;
  options.file_path_only = false;
  options.hash_list = false;
  options.csv_l2t = false;
  options.bodyfile = false;
}

// This program's own options; failures have been reported.
bool parse_program_options(run_options& options, argument_list& arguments) {
  std::string value;
  if (arguments.value("-partition", value) && !take_partition(options, value)) return false;
  if (arguments.value("-mftfile", value)) {
    options.mft_file_path = uni::to_wide(value);
    options.source_kind = 36;
  }
  std::uint64_t offset = 0;
  bool offset_given = false;
  if (!take_number(arguments, "-offset", offset, offset_given)) return false;
  options.volume_offset = offset;
  options.offset_given = offset_given;
  options.ignore_image_size = arguments.flag("-ignore_image_size");
  options.source_check = check_source_options(options, arguments);
  if (options.source_check == -1) return false;
  options.hide_dos_times = arguments.flag("-hide_dos_fntimes");
  if (arguments.flag("-default_output")) {
    clear_table_modes(options);
    options.default_output = true;
  }
  if (arguments.flag("-filepath_only")) {
    clear_table_modes(options);
    options.file_path_only = true;
    options.list_separators[0] = options.list_separators[1] = 0;
  }
  if (arguments.flag("-csvperpath")) {
    clear_table_modes(options);
    options.per_path_csv = true;
    options.list_separators[0] = '|';
    options.list_separators[1] = ';';
  }
  std::uint64_t number = 0;
  bool present = false;
  if (!take_number(arguments, "-mftstart", number, present)) return false;
  if (present) {
    options.start_entry = number;
    options.entry_count = 1;
    options.range_given = true;
  }
  if (!take_number(arguments, "-mftrange", number, present)) return false;
  if (present) {
    options.entry_count = number;
    options.range_given = true;
  }
  if (arguments.flag("-filter_deleted_files")) {
    options.filters.deleted_only = true;
    options.filters.and_logic = true;
  }

  if (options.csv || options.csv_l2t || options.bodyfile) {
    options.per_path_csv = false;
    options.file_path_only = false;
    options.default_output = false;
    options.hash_list = false;
  }
  if (options.csv_l2t || options.bodyfile) options.no_whitespace = true;
  if (options.results_named) {
    std::error_code error;
    const auto full = std::filesystem::absolute(options.results_path, error);
    if (error) {
      std::fprintf(stderr, "prob understanding destination of %s aborting\n,", options.results_path.c_str());
      return false;
    }
    options.results_full_path = uni::to_wide(full.lexically_normal().string());
  }

  if (!parse_action_options(options, arguments)) return false;
  if (!parse_filter_options(options, arguments)) return false;
  if (!take_number(arguments, "-find_mft", number, present)) return false;
  if (present) {
    options.detailed_dump = true;
    options.start_entry = number;
    options.entry_count = 1;
    options.header_bytes = true;
    options.header_offset = 0;
    options.header_length = 2048;
  }
  return true;
}

std::string joined_command_line(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) {
    if (!text.empty()) text.push_back(' ');
    if (item.find(' ') != std::string::npos) {
      text.append("\"").append(item).append("\"");
    } else {
      text.append(item);
    }
  }
  return text;
}

std::string program_name_of(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot != 0) name.resize(dot);
  return name;
}

}  // namespace

int parse_options(run_options& options, argument_list& arguments, const std::string& version_text,
                  const std::string& default_source_label) {
  options.version_text = version_text;
  options.reset();
  if (default_source_label.empty()) options.source_label = "NTFS$MFT";
  if (arguments.size() < 2) return parse_bad_command_line;

  options.command_line = joined_command_line(arguments.items());
  options.program_name = program_name_of(arguments.items().front());

  options.start_filetime = cv::current_filetime();
  options.anomaly_ceiling = options.start_filetime + 36000000000ULL;

  // Options from a script file go after those of the command line, so that
  // an option given in both places is taken from the command line.
  argument_list working = arguments;
  std::string script;
  if (working.value("-script", script)) {
    std::vector<std::string> from_script;
    if (!read_script_file(script, from_script)) return parse_failed_reported;
    for (std::string& argument : from_script) working.append(std::move(argument));
  }
  arguments = working;
  parse_hash_options(options, arguments);
  parse_evidence_options(options, arguments);
  working = arguments;

  // The results folder is made before anything is written.
  {
    argument_list copy = working;
    std::string path;
    if (copy.value("-outfile", path) || copy.value("-out", path)) create_parent_folder(slashes_forward(path));
  }
  // The signature list is kept out of the shared options' reach and put back
  // for this program's own.
  std::string signatures;
  const bool has_signatures = working.value("-filter_sig", signatures);
  if (has_signatures) arguments.remove_with_value("-filter_sig");

  if (!parse_shared_options(options, arguments)) return parse_bad_command_line;
  argument_list program_arguments = arguments;
  if (has_signatures) {
    program_arguments.append("-filter_sig");
    program_arguments.append(signatures);
  }
  if (!parse_program_options(options, program_arguments)) return parse_failed_reported;
  arguments = program_arguments;
  if (options.source_check != -3) {
    const int prepared = prepare_outputs(options);
    if (prepared != parse_ok) return prepared;
  }

  return options.source_check == -3 ? parse_no_source : parse_ok;
}

}  // namespace app
