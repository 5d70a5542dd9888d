// -filepath_only: the path of every name of every file in use, one per line,
// starting with the path separator. Nothing else, no header.
#pragma once

#include "output/record_writer.h"

namespace output {

class path_list_writer final : public record_writer {
 public:
  void write(const entry_result& result, results_stream& stream) override;
};

}  // namespace output
