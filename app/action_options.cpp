#include "app/action_options.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/option_values.h"
#include "support/utf.h"

namespace app {

namespace {

void raise_header(run_options& options, std::uint32_t length) {
  options.header_bytes = true;
  options.header_offset = 0;
  options.header_length = std::max(options.header_length, length);
}

// -action_copy_files <folder>: the copy needs the per-path layout (its
// "extracted file path" column) unless the user chose its separators with
// -csvperpath; the machine formats have no column for it.
bool take_copy_folder(run_options& options, const std::string& given) {
  options.csv = options.csv_l2t = options.bodyfile = false;
  if (!options.per_path_csv) {
    options.per_path_csv = true;
    options.separator = ",";
    options.list_separators[0] = ',';
    options.list_separators[1] = ' ';
  }
  std::string path = given;
  std::replace(path.begin(), path.end(), '\\', '/');
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(path, error).lexically_normal();
  std::string text = error ? path : full.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  // The per-path and path-list layouts cannot both be in force. The folder
  // itself is made once the outputs have been checked against the sources.
  if (error || options.file_path_only) {
    std::fprintf(stderr, "prob creating results directory, %s\n", text.c_str());
    return false;
  }
  options.copy_files = true;
  options.copy_folder = uni::to_wide(text);
  return true;
}

}  // namespace

void parse_hash_options(run_options& options, argument_list& arguments) {
  std::string value;
  if (arguments.value("-hashfile", value)) {
    std::string lower;
    uni::utf8_to_lower(value, lower);
    options.separator = "|";
    options.list_separators[0] = '|';
    options.list_separators[1] = ';';
    for (const std::string& piece : split_list(lower)) {
      bool known = true;
      if (piece == "md5") {
        options.hash_md5 = true;
      } else if (piece == "sha1") {
        options.hash_sha1 = true;
      } else if (piece == "sha256") {
        options.hash_sha256 = true;
      } else {
        known = false;
      }
      if (known) {
        options.hash_list = true;
        options.csv = options.csv_l2t = options.bodyfile = false;
      }
    }
  }
  if (arguments.flag("-md5")) options.hash_md5 = true;
  if (arguments.flag("-sha1")) options.hash_sha1 = true;
  if (arguments.flag("-sha256")) options.hash_sha256 = true;
}

bool parse_action_options(run_options& options, argument_list& arguments) {
  options.raw_read = arguments.flag("-raw");
  options.skip_sparse = arguments.flag("-skip_sparse_clusters");
  options.regen_mft = arguments.flag("-regen_mft");
  options.keep_extension = arguments.flag("-use_orig_ext");
  std::string folder;
  if (arguments.value("-action_copy_files", folder) && !take_copy_folder(options, folder)) return false;
  // Which streams to copy: the first of these present wins; all three are
  // taken off the list.
  const bool all = arguments.flag("-all");
  const bool named = arguments.flag("-named_data");
  arguments.flag("-normal_data");
  options.copy_streams = all ? walk::copy_choice::all : named ? walk::copy_choice::named : walk::copy_choice::unnamed_data;
  options.include_zone_info = arguments.flag("-action_include_zoneinfo");
  options.include_owner_sid = arguments.flag("-action_include_ownersid");
  if (arguments.flag("-action_include_header")) {
    raise_header(options, 32);
    options.plain_run = false;
  }
  if (arguments.flag("-action_find_strings_in_hdr")) {
    raise_header(options, 256);
    options.header_strings = true;
    options.plain_run = false;
  }
  if (arguments.flag("-action_include_clusterinfo")) {
    options.cluster_info = true;
    options.plain_run = false;
  }
  options.hexdump = arguments.flag("-hexdump");
  std::string ignored;
  // Switches header reading on without a length of its own: alone it reads
  // nothing, beside another header option it changes nothing.
  if (arguments.value("-action_include_header_ex", ignored)) options.header_bytes = true;
  return true;
}

}  // namespace app
