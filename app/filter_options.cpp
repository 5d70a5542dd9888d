#include "app/filter_options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/option_values.h"
#include "output/cv_time.h"
#include "support/utf.h"
#include "walk/content_signatures.h"

namespace app {

namespace {

std::string lower_utf8(std::string_view text) {
  std::string lower;
  uni::utf8_to_lower(text, lower);
  return lower;
}

// A ':' right before '\' or "//" is a drive colon, not a stream separator.
std::size_t stream_colon(std::string_view text) {
  for (std::size_t i = text.size(); i-- > 0;) {
    if (text[i] != ':') continue;
    const std::string_view rest = text.substr(i + 1);
    if (rest.substr(0, 1) == "\\" || rest.substr(0, 2) == "//") continue;
    return i;
  }
  return std::string_view::npos;
}

// "number[:stream]" items of -filter_inode and -filter_dir_inode.
bool parse_inode_list(const char* option, const std::string& value, std::map<ntfs::entry_number, walk::inode_item>& map) {
  for (const std::string& piece : split_list(value)) {
    const std::size_t colon = stream_colon(piece);
    const std::string number_text = piece.substr(0, colon);
    std::uint64_t entry = 0;
    if (!parse_number(number_text, entry) || entry > ntfs::entry_mask) {
      std::fprintf(stderr, "error: %s needs MFT entry numbers, not '%s'\n", option, piece.c_str());
      return false;
    }
    walk::inode_item& item = map[entry];
    const std::string stream = colon == std::string::npos ? std::string() : trim(piece.substr(colon + 1));
    if (stream.empty()) {
      item.whole_record = true;
    } else {
      item.stream_names.insert(lower_utf8(stream));
    }
  }
  return true;
}

bool take_size(argument_list& arguments, const char* option, bool& set, std::uint64_t& size) {
  std::string value;
  if (!arguments.value(option, value)) return true;
  if (!parse_size(value, size)) {
    std::fprintf(stderr, "error: %s needs a size in bytes, not '%s'\n", option, value.c_str());
    return false;
  }
  set = true;
  return true;
}

// -filter_dir items may end in "*N" (N levels), "*" (one) or "?" (all).
void add_directories(walk::filter_settings& filters, const std::string& value, bool recurse) {
  for (const std::string& piece : split_list(value)) {
    walk::directory_item item;
    item.text = piece;
    std::string path = piece;
    item.depth = recurse ? 99 : 1;
    if (const auto star = path.find('*'); star != std::string::npos) {
      const std::string levels = path.substr(star + 1);
      std::uint64_t n = 1;
      if (!levels.empty() && !parse_number(levels, n)) n = 1;
      item.depth = static_cast<unsigned>(std::max<std::uint64_t>(1, std::min<std::uint64_t>(n, 99)));
      path.resize(star);
    } else if (!path.empty() && path.back() == '?') {
      item.depth = 99;
      path.pop_back();
    }
    item.path = normalized_volume_path(path, true);
    filters.directories.push_back(std::move(item));
  }
}

bool parse_time(argument_list& arguments, const char* option, bool is_stop, std::uint64_t& filetime) {
  std::string value;
  if (!arguments.value(option, value)) return false;
  std::uint64_t parsed = 0;
  const bool ok = cv::user_text_to_filetime(value, is_stop, parsed) && parsed != 0;
  if (ok) {
    filetime = parsed;
  } else if (!is_stop) {
    std::fputs("Error: invalid filter start time, defaulting to 0\n", stderr);
  }
  return ok;
}

bool parse_object_id(const std::string& text, std::uint8_t out[16]) {
  // 8-4-4-4-12 hexadecimal digits, optionally in braces; the first three
  // groups are stored little-endian as in the $OBJECT_ID attribute.
  std::string digits;
  for (char c : text) {
    if (c == '{' || c == '}' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits.push_back(c);
  }
  if (digits.size() != 32 || text.find('-') == std::string::npos) return false;
  std::uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) out[i] = bytes[order[i]];
  return true;
}

void raise_header_length(run_options& options, std::uint32_t length) {
  options.header_bytes = true;
  options.header_offset = 0;
  options.header_length = std::max(options.header_length, length);
}

}  // namespace

std::string normalized_volume_path(std::string_view text, bool directory) {
  std::string path(text);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\\\.\\", 0) == 0) path.erase(0, 4);
  if (path.size() >= 2 && path[1] == ':') path.erase(0, 2);
  while (!path.empty() && (path.front() == '\\' || path.front() == '.')) {
    if (path.front() == '.' && path.size() > 1 && path[1] != '\\') break;
    path.erase(0, 1);
  }
  while (!path.empty() && path.back() == '\\') path.pop_back();
  std::string result = "[root]\\";
  result.append(lower_utf8(path));
  if (directory && !path.empty()) result.push_back('\\');
  return result;
}

bool parse_filter_options(run_options& options, argument_list& arguments) {
  walk::filter_settings& filters = options.filters;
  std::string value;

  parse_time(arguments, "-filter_start_time", false, filters.window_start);
  parse_time(arguments, "-filter_stop_time", true, filters.window_stop);
  while (arguments.value("-filter_wildcard", value)) {
    filters.wildcards.push_back(lower_utf8(trim(value)));
  }
  if (arguments.value("-filter_ext", value)) {
    for (std::string piece : split_list(value)) {
      if (piece.front() == '.') piece.erase(0, 1);
      if (!piece.empty()) filters.extensions.push_back(lower_utf8(piece));
    }
  }
  if (arguments.value("-filter_fullname", value)) {
    for (const std::string& piece : split_list(value)) filters.names.push_back({lower_utf8(piece), false});
  }
  if (arguments.value("-filter_name", value)) {
    for (const std::string& piece : split_list(value)) filters.names.push_back({lower_utf8(piece), true});
  }
  if (arguments.value("-filter_file", value)) {
    for (const std::string& piece : split_list(value)) {
      walk::file_item item;
      item.text = piece;
      const std::size_t colon = stream_colon(piece);
      if (colon != std::string::npos) item.stream = lower_utf8(trim(piece.substr(colon + 1)));
      item.path = normalized_volume_path(piece.substr(0, colon), false);
      filters.files.push_back(std::move(item));
    }
  }
  if (arguments.value("-filter_dir_recurse", value)) {
    add_directories(filters, value, true);
  }
  if (arguments.value("-filter_dir", value)) {
    add_directories(filters, value, false);
  }
  if (arguments.value("-filter_dir_inode", value)) {
    if (!parse_inode_list("-filter_dir_inode", value, filters.directory_inodes)) return false;
  }
  if (arguments.value("-filter_inode", value) && !parse_inode_list("-filter_inode", value, filters.inodes)) {
    return false;
  }
  if (arguments.flag("-filerecord_offset")) options.record_offset = true;
  if (arguments.value("-filter_pattern", value)) {
    walk::content_item item;
    item.kind = walk::content_kind::pattern;
    if (!walk::parse_pattern(value, item.pattern)) {
      std::fputs("Error: -filter_pattern option specified invalid argument, aborting\n", stderr);
      return false;
    }
    for (const auto& [option, target] : {std::pair{"-scanstart", &item.scan_start}, std::pair{"-scansize", &item.scan_size}}) {
      if (!arguments.value(option, value)) continue;
      if (!parse_number(value, *target)) {
        std::fprintf(stderr, "error: %s needs a number, not '%s'\n", option, value.c_str());
        return false;
      }
    }
    // Capped at 1 GiB; the sum is formed only below the cap so that it cannot wrap.
    constexpr std::uint64_t cap_bytes = 1u << 30;
    const std::uint64_t scan_end =
        item.scan_start >= cap_bytes ? cap_bytes : item.scan_start + std::min(item.scan_size, cap_bytes - item.scan_start);
    raise_header_length(options, static_cast<std::uint32_t>(scan_end));
    filters.content.push_back(std::move(item));
  }
  if (arguments.flag("-filter_unalloc_clusters")) {
    options.unallocated_scan = true;
    filters.and_logic = true;
  }
  if (arguments.flag("-filter_all_clusters")) options.all_clusters_scan = true;
  if (arguments.flag("-filter_deleted_files_all")) options.deleted_all_scan = true;
  if (arguments.flag("-filter_AND_logic")) filters.and_logic = true;
  if (arguments.value("-filter_sig", value)) {
    std::string lower = value;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& piece : split_list(lower)) {
      walk::content_item item;
      if (!walk::signature_item(piece, item)) {
        std::fputs("Error: -filter_sig option specified invalid option, aborting\n", stderr);
        return false;
      }
      raise_header_length(options, item.header_bytes);
      filters.content.push_back(item);
    }
  }
  if (arguments.value("-find_objid", value)) {
    if (!parse_object_id(value, filters.object_id)) {
      std::fprintf(stderr, "prob parsing %s as ObjID, aborting\n", value.c_str());
      return false;
    }
    filters.object_id_set = true;
  }
  if (!take_size(arguments, "-filter_max_size", filters.max_size_set, filters.max_size)) return false;
  if (!take_size(arguments, "-filter_min_size", filters.min_size_set, filters.min_size)) return false;
  if (!take_size(arguments, "-filter_min_ads_size", filters.min_ads_size_set, filters.min_ads_size)) return false;
  return true;
}

}  // namespace app
