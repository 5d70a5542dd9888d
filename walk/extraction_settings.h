// What -action_copy_files and its companions ask for: where extracted
// streams go, which streams of an accepted record are copied and how the
// copies are named.
#pragma once

#include <cstdint>
#include <string>

namespace walk {

// Which streams of a record are copied.
enum class copy_choice : std::uint8_t {
  unnamed_data,  // -normal_data (default): the unnamed $DATA stream
  named,         // -named_data: every stream that has a name
  all,           // -all: every attribute stream the record holds, whatever its label
};

struct extraction_settings {
  bool enabled = false;
  // Full path of the results folder (UTF-8), created while the options were
  // read; everything extraction writes lies below it.
  std::string folder;
  copy_choice choice = copy_choice::unnamed_data;
  bool keep_extension = false;  // -use_orig_ext: no ".bin" after the name
  // Instance number of a split run (prefix of the temporary file name);
  // all ones when the run is not split.
  std::uint32_t instance = 0xFFFFFFFF;
};

}  // namespace walk
