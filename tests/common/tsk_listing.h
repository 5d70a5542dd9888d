// What The Sleuth Kit reads from the fixture volumes: the fls -r -p -m body
// files (names, entries, sizes, deleted flags) and the istat blocks (sequence
// numbers, allocation, $STANDARD_INFORMATION and $FILE_NAME times, $DATA
// sizes, extension records).
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "tests/common/test_support.h"

namespace testing_support {

struct fls_line {
  std::string path;    // "/dir/name", stream part removed
  std::string stream;  // after ':' in the last component, empty for the main stream
  std::uint64_t entry = 0;
  std::uint32_t type = 0;  // attribute type, 0 when fls gives none
  std::uint64_t size = 0;
  bool deleted = false;
  bool file_name_times = false;  // the "($FILE_NAME)" twin line
  char kind = '?';               // first letter of the mode: r, d, l, -, V
  // Unix seconds as fls prints them: modified, accessed, MFT modified, created.
  std::uint64_t seconds[4] = {};
};

inline bool ends_with_cut(std::string& text, const std::string& suffix) {
  if (text.size() <= suffix.size() || text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  text.resize(text.size() - suffix.size());
  return true;
}

// fls -m lines: "0|name|entry-type-id|mode|uid|gid|size|atime|mtime|ctime|crtime".
// Names may hold '|', so the fixed fields are taken from the right.
inline std::vector<fls_line> read_fls(const std::string& volume) {
  std::vector<fls_line> lines;
  for (const std::string& text : split_lines(read_file(source_fixture_path(volume + ".fls.txt")))) {
    const std::vector<std::string> fields = split_fields(text, "|");
    if (fields.size() < 11) continue;
    const std::size_t n = fields.size();
    std::string name = fields[1];
    for (std::size_t i = 2; i + 9 < n; ++i) name += "|" + fields[i];
    fls_line line;
    const std::string& address = fields[n - 9];
    line.entry = std::stoull(address);
    if (const auto dash = address.find('-'); dash != std::string::npos) {
      line.type = static_cast<std::uint32_t>(std::stoul(address.substr(dash + 1)));
    }
    line.kind = fields[n - 8].empty() ? '?' : fields[n - 8][0];
    line.size = std::stoull(fields[n - 5]);
    // atime|mtime|ctime|crtime
    for (const auto& [field, index] : {std::pair{4, 1}, std::pair{3, 0}, std::pair{2, 2}, std::pair{1, 3}}) {
      line.seconds[index] = std::stoull(fields[n - field]);
    }
    line.deleted = ends_with_cut(name, " (deleted)") || ends_with_cut(name, " (realloc)");
    line.file_name_times = ends_with_cut(name, " ($FILE_NAME)");
    const auto slash = name.rfind('/');
    const auto colon = name.find(':', slash == std::string::npos ? 0 : slash);
    if (colon != std::string::npos) {
      line.stream = name.substr(colon + 1);
      name.resize(colon);
    }
    line.path = name;
    lines.push_back(line);
  }
  return lines;
}

// Times as istat prints them, cut to FILETIME resolution:
// "yyyy-mm-dd hh:mm:ss.fffffff"; index 0 modified, 1 accessed, 2 MFT modified, 3 created.
struct istat_name {
  std::string name;
  std::uint64_t parent = 0;
  std::string times[4];
};

struct istat_entry {
  std::uint16_t sequence = 0;
  std::uint64_t base_record = 0;  // entry of the base record; 0 for a base record
  bool allocated = false;
  std::string si_times[4];
  std::vector<istat_name> file_names;
  // $DATA size in bytes by stream name ("" for the unnamed stream), as the
  // first extent listed states it.
  std::map<std::string, std::uint64_t> data_sizes;
};

inline std::map<std::uint64_t, istat_entry> read_istat(const std::string& volume) {
  std::map<std::uint64_t, istat_entry> entries;
  istat_entry* current = nullptr;
  enum { none, standard_information, file_name, attributes } section = none;
  const auto after = [](const std::string& line, const std::string& label) {
    const auto at = line.find(label);
    return at == std::string::npos ? std::string() : line.substr(at + label.size());
  };
  for (const std::string& line : split_lines(read_file(source_fixture_path(volume + ".istat.txt")))) {
    if (line.rfind("=== istat ", 0) == 0) {
      current = &entries[std::stoull(line.substr(10))];
      section = none;
    } else if (!current) {
      continue;
    } else if (line.rfind("Entry: ", 0) == 0) {
      current->sequence = static_cast<std::uint16_t>(std::stoul(after(line, "Sequence: ")));
    } else if (line.rfind("Base File Record: ", 0) == 0) {
      current->base_record = std::stoull(after(line, "Record: "));
    } else if (line == "Allocated File" || line == "Allocated Directory") {
      current->allocated = true;
    } else if (line.rfind("$STANDARD_INFORMATION Attribute Values", 0) == 0) {
      section = standard_information;
    } else if (line.rfind("$FILE_NAME Attribute Values", 0) == 0) {
      section = file_name;
      current->file_names.emplace_back();
    } else if (line.rfind("Attributes:", 0) == 0) {
      section = attributes;
    } else if (line.empty()) {
      section = none;
    } else if (section == file_name && line.rfind("Name: ", 0) == 0) {
      current->file_names.back().name = line.substr(6);
    } else if (section == file_name && line.rfind("Parent MFT Entry: ", 0) == 0) {
      current->file_names.back().parent = std::stoull(after(line, "Entry: "));
    } else if (section == standard_information || section == file_name) {
      static const std::pair<const char*, int> labels[] = {
          {"File Modified:\t", 0}, {"Accessed:\t", 1}, {"MFT Modified:\t", 2}, {"Created:\t", 3}};
      std::string* times = section == file_name ? current->file_names.back().times : current->si_times;
      for (const auto& [label, index] : labels) {
        if (line.rfind(label, 0) != 0) continue;
        std::string value = line.substr(std::string(label).size());
        value = value.substr(0, value.find(" (UTC)"));
        // Nine fraction digits; FILETIME resolution is seven.
        times[index] = value.size() > 2 ? value.substr(0, value.size() - 2) : value;
      }
    } else if (section == attributes && line.rfind("Type: $DATA (", 0) == 0) {
      // "Type: $DATA (128-2)   Name: N/A   Resident   size: 100"
      std::string name = after(line, "Name: ");
      name = name.substr(0, name.find("   "));
      current->data_sizes.emplace(name == "N/A" ? "" : name, std::stoull(after(line, "size: ")));
    }
  }
  return entries;
}

// "yyyy-mm-dd hh:mm:ss[.fffffff]" (UTC) as a FILETIME (100 ns units since
// 1601); 0 when the text is empty or not a calendar time.
inline std::uint64_t filetime_of(const std::string& text) {
  std::tm calendar{};
  const char* rest = strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &calendar);
  if (!rest || calendar.tm_year < -301) return 0;
  std::uint64_t ticks = 0;
  std::string fraction = *rest == '.' ? std::string(rest + 1) : std::string();
  fraction.resize(7, '0');
  for (const char digit : fraction) ticks = ticks * 10 + static_cast<std::uint64_t>(digit - '0');
  return static_cast<std::uint64_t>(timegm(&calendar) + 11644473600LL) * 10000000ULL + ticks;
}

}  // namespace testing_support
