// How results are rendered: layout, separators, number base, date forms and
// the optional columns. Built once from the options and fixed for the run.
#pragma once

#include <cstdint>
#include <string>

#include "output/cv_time.h"

namespace output {

enum class layout {
  timeline,     // one line per distinct timestamp and name (default and -csv)
  per_path,     // one CSV line per path (-csvperpath)
  path_list,    // paths only (-filepath_only)
  record_dump,  // the detailed record dump (-find_mft)
  l2t,          // log2timeline CSV (-csvl2t)
  bodyfile,     // mactime bodyfile (-bodyfile)
  hash_list,    // digests first (-hashfile)
  jsonl,           // one JSON object per path (-jsonl)
  jsonl_timeline,  // one JSON object per distinct time of a name (-jsonl_timeline)
};

struct output_settings {
  layout kind = layout::timeline;

  std::string separator = " | ";  // written between two columns
  char separator_char = '|';      // must not appear inside a value; 0 = none
  char replacement_char = ';';    // what replaces it
  bool padding = true;            // pad columns with blanks to their widths
  bool quoted_fields = false;     // text values between double quotes

  bool hexadecimal = true;  // numbers as "0x" and zero-filled hex digits
  bool pair_datetime = false;
  std::string date_pattern = "yyyy-mm-dd";
  std::string time_pattern = "hh:mm:ss.xxx";
  cv::datetime_format datetime{};
  std::size_t date_width = 10;  // columns
  std::size_t time_width = 12;

  std::string host_name;
  std::string user_name;     // -username
  std::string program_name;  // as invoked, without folder or extension
  std::string source_name;   // what the input source is called in the results
  bool hide_dos_times = false;
  bool record_offset = false;   // -filerecord_offset
  bool plain_run = true;        // compact default layout
  bool cluster_info = false;    // -action_include_clusterinfo
  bool zone_info = false;       // -action_include_zoneinfo
  bool bare_mft_source = true;  // the source is an extracted $MFT file
  // Digest columns, each only when that digest is computed.
  bool md5_column = false;
  bool sha1_column = false;
  bool sha256_column = false;
  bool header_column = false;  // header bytes were read: "header info" / "header data"
  bool extraction_column = false;  // files are extracted: "extracted path/file" / "extracted file path"

  // Time window of the time filter; 0 and all ones when none is set.
  std::uint64_t window_start = 0;
  std::uint64_t window_stop = ~0ULL;
  bool window_set() const { return window_start != 0 || window_stop != ~0ULL; }
  bool outside_window(std::uint64_t filetime) const {
    return window_set() && (filetime < window_start || filetime > window_stop);
  }
};

// Derives the separator character and its replacement from the separator
// text, as the format options leave it: a text holding '|' protects '|'
// (replaced by ';'), one holding ',' protects ',' (replaced by a blank);
// "tab" or "\t" becomes one TAB character, protected by a blank. Any other
// text protects its first character that is not a blank (replaced by a
// blank), or the blank itself (replaced by '_') when it has no other. Since
// one character of the separator never appears inside a value, neither does
// the separator, and the columns always split where they should. Quoted
// fields protect themselves.
void derive_separator(output_settings& settings);

}  // namespace output
