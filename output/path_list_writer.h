// -filepath_only: the path of every name of every file record that passed
// the filters (deleted and carved ones included), one per line, starting
// with the path separator. Directories and names whose parent chain is
// broken are left out. Nothing else, no header.
#pragma once

#include <string>

#include "output/record_writer.h"

namespace output {

class path_list_writer final : public record_writer {
 public:
  void write(const entry_result& result, results_stream& stream) override;

 private:
  std::string m_line;  // reused for every name
};

}  // namespace output
