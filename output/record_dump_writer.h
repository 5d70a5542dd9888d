// -find_mft: a detailed, human-readable dump of one record: header, standard
// information, each file name, and each attribute with its cluster runs.
#pragma once

#include <string>

#include "output/record_writer.h"

namespace output {

class record_dump_writer final : public record_writer {
 public:
  explicit record_dump_writer(const output_settings& settings) : m_settings(settings) {}
  void write(const entry_result& result, results_stream& stream) override;

 private:
  void hex_and_decimal(std::string& out, std::uint64_t value, int digits);
  void time_line(std::string& out, const char* label, std::uint64_t filetime);
  void write_attribute(std::string& out, const ntfs::attr_record& attribute);

  const output_settings& m_settings;
  std::string m_text;
};

// Sixteen bytes per line: offset, hex bytes and printable characters.
void append_hex_dump(std::string& out, std::span<const std::uint8_t> bytes, const char* indent);

}  // namespace output
