// Builds one line of a table layout: columns in order, the separator between
// them, padding to column widths, and the escaping of values (separator
// replacement, CSV line-break markers, optional quoting).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "output/output_settings.h"

namespace output {

class line_builder {
 public:
  explicit line_builder(const output_settings& settings) : m_settings(&settings) {}

  void begin(std::string& out) {
    m_out = &out;
    m_first = true;
  }
  // A text value: escaped, optionally quoted, padded to `width`.
  void text(std::string_view value, std::size_t width);
  // A number column in the run's number base.
  void number(std::uint64_t value, int bits, std::size_t width);
  // A value written as it stands (already formatted digits, dates).
  void verbatim(std::string_view value, std::size_t width);
  void end() { m_out->push_back('\n'); }

 private:
  void separator();
  void pad_from(std::size_t start, std::size_t width);

  const output_settings* m_settings;
  std::string* m_out = nullptr;
  bool m_first = true;
};

// Appends `value` with the separator character replaced and, when
// `line_markers` is set, CR LF / LF CR / LF / CR replaced by "[CRLF]",
// "[LFCR]", "[LF]" and "[CR]".
void append_escaped(std::string& out, std::string_view value, char separator_char, char replacement,
                    bool line_markers);

}  // namespace output
