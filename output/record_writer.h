// One writer per result layout, behind one small interface.
#pragma once

#include <memory>

#include "output/entry_result.h"
#include "output/output_settings.h"
#include "output/results_stream.h"

namespace output {

class record_writer {
 public:
  virtual ~record_writer() = default;
  // Writes zero or more complete lines for one record.
  virtual void write(const entry_result& result, results_stream& stream) = 0;
  // The layout's column header, unless the stream has it already. Rows
  // from elsewhere in the same results (the change journal, index slack)
  // ask for it too, so results whose records all fall outside the filters
  // still open with their header. Layouts without one write nothing.
  virtual void write_header_if_pending(results_stream& stream) { (void)stream; }
};

// The writer the settings ask for.
std::unique_ptr<record_writer> make_record_writer(const output_settings& settings);

}  // namespace output
