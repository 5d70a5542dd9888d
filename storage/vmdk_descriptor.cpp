#include "storage/vmdk_descriptor.h"

#include <algorithm>

namespace storage {

namespace {

char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool starts_with_key(std::string_view line, std::string_view lower_key) {
  if (line.size() < lower_key.size()) return false;
  for (std::size_t i = 0; i < lower_key.size(); ++i) {
    if (lower_ascii(line[i]) != lower_key[i]) return false;
  }
  return true;
}

std::string value_after(std::string_view line, std::size_t key_length) {
  std::string_view value = line.substr(key_length);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) {
    value.remove_suffix(1);
  }
  return std::string(value);
}

// `ACCESS SECTORS TYPE ["FILE" [OFFSET]]`; false for any other line.
bool parse_extent_line(std::string_view line, vmdk_extent_line& extent) {
  std::size_t at = 0;
  const auto word = [&]() {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (at < line.size() && line[at] == '"') {
      const std::size_t close = line.find('"', at + 1);
      const std::size_t end = close == std::string_view::npos ? line.size() : close;
      std::string_view quoted = line.substr(at + 1, end - at - 1);
      at = end == line.size() ? end : end + 1;
      return quoted;
    }
    const std::size_t start = at;
    while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
    return line.substr(start, at - start);
  };
  const std::string_view access = word();
  if (access != "RW" && access != "RDONLY" && access != "NOACCESS") return false;
  const std::string_view sectors = word();
  if (sectors.empty() || sectors.size() > 19 || sectors.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  extent = {};
  for (char c : sectors) extent.sectors = extent.sectors * 10 + static_cast<std::uint64_t>(c - '0');
  for (char c : word()) extent.type.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  extent.file = std::string(word());
  const std::string_view offset = word();
  if (!offset.empty() && offset.size() <= 19 && offset.find_first_not_of("0123456789") == std::string_view::npos) {
    for (char c : offset) extent.offset_sectors = extent.offset_sectors * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return !extent.type.empty();
}

}  // namespace

void parse_vmdk_descriptor(std::span<const std::uint8_t> text, vmdk_descriptor& descriptor) {
  descriptor = {};
  const auto end = std::find(text.begin(), text.end(), std::uint8_t{0});
  const std::string bytes(text.begin(), end);
  const std::string_view all(bytes);
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t stop = all.find('\n', start);
    if (stop == std::string_view::npos) stop = all.size();
    std::string_view line = all.substr(start, stop - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    descriptor.lines.emplace_back(line);
    start = stop + 1;

    if (starts_with_key(line, "cid=")) {
      descriptor.content_id = value_after(line, 4);
    } else if (starts_with_key(line, "parentcid=")) {
      descriptor.parent_content_id = value_after(line, 10);
    } else if (starts_with_key(line, "encoding=")) {
      descriptor.encoding = value_after(line, 9);
    } else if (starts_with_key(line, "parentfilenamehint=")) {
      std::string hint = value_after(line, 19);
      std::erase(hint, '"');
      descriptor.parent_file_name_hint = std::move(hint);
    } else if (starts_with_key(line, "createtype=")) {
      std::string type = value_after(line, 11);
      std::erase(type, '"');
      descriptor.create_type = std::move(type);
    } else if (vmdk_extent_line extent; parse_extent_line(line, extent)) {
      descriptor.extents.push_back(std::move(extent));
    }
  }
}

bool same_content_id(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower_ascii(x) == lower_ascii(y); });
}

std::string content_id_key(std::string_view content_id) {
  std::string key(content_id);
  for (char& c : key) c = lower_ascii(c);
  return key;
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace storage
