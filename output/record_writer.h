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
};

// The writer the settings ask for.
std::unique_ptr<record_writer> make_record_writer(const output_settings& settings);

}  // namespace output
