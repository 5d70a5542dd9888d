#include "ntfs/directory_index.h"

#include "ntfs/attribute_values.h"
#include "ntfs/cluster_source.h"
#include "ntfs/index_node_layout.h"
#include "support/byte_reader.h"
#include "support/utf.h"

#include <algorithm>
#include <cstring>

namespace ntfs {

namespace {

using namespace index_layout;

// $INDEX_ROOT value: indexed type u32, collation u32, block size u32 (bytes),
// clusters per block u8, then the node header at 16.
constexpr std::size_t root_block_bytes = 8;
constexpr std::size_t root_node_header = 16;
constexpr std::uint32_t default_block_bytes = 4096;

const attr_record* named_index_attribute(const mft_record& record, std::uint32_t type) {
  for (const auto& attribute : record.attributes) {
    if (attribute.header.type == type && attribute.name_utf8 == "$I30") return &attribute;
  }
  return nullptr;
}

}  // namespace

void parse_index_node(std::span<const std::uint8_t> bytes, std::size_t node_offset, std::vector<index_child>& children) {
  support::byte_reader r(bytes);
  const std::uint64_t first = r.le32(node_offset + node_first_entry);
  const std::uint64_t end = std::min<std::uint64_t>(node_offset + std::uint64_t{r.le32(node_offset + node_entries_end)},
                                                    bytes.size());
  if (!r.ok()) return;
  std::uint64_t at = node_offset + first;
  file_name_entry name;
  while (at + entry_key <= end) {
    const std::uint16_t length = r.le16(at + entry_length);
    const std::uint16_t key_length = r.le16(at + entry_key_length);
    const std::uint16_t flags = r.le16(at + entry_flags);
    if (!r.ok() || length < entry_key || at + length > end) break;
    if (flags & entry_flag_last) break;
    if (key_length >= file_name_offset::name && entry_key + key_length <= length &&
        parse_file_name(bytes.subspan(at + entry_key, key_length), name)) {
      index_child child;
      child.reference = file_reference{r.le64(at + entry_reference)};
      child.name_utf8 = name.name_utf8;
      child.directory = (name.flags & file_name_flag_directory_index) != 0;
      children.push_back(std::move(child));
    }
    at += length;
  }
}

void for_each_index_node(cluster_source& clusters, const mft_record& record, const index_node_visitor& visit) {
  std::uint32_t block_bytes = default_block_bytes;
  if (const attr_record* root = named_index_attribute(record, attribute_type::index_root)) {
    const attribute_header& header = root->header;
    if (header.resident_value_fits() && std::size_t{header.value_offset} + header.value_length <= root->raw.size()) {
      const auto value = root->raw.subspan(header.value_offset, header.value_length);
      support::byte_reader r(value);
      const std::uint32_t declared = r.le32(root_block_bytes);
      if (r.ok() && declared >= 512 && declared <= (64u << 10)) block_bytes = declared;
      visit(value, root_node_header);
    }
  }
  if (const attr_record* allocation = named_index_attribute(record, attribute_type::index_allocation)) {
    std::vector<std::uint8_t> bytes;
    const std::uint64_t size = allocation->header.real_size;
    if (size <= (256u << 20)) read_plain_stream(clusters, allocation->extents, size, bytes);
    for (std::size_t block = 0; block + block_bytes <= bytes.size(); block += block_bytes) {
      const auto indx = std::span<std::uint8_t>(bytes).subspan(block, block_bytes);
      if (std::memcmp(indx.data(), "INDX", 4) != 0) continue;
      if (apply_fixups(indx) != fixup_result::applied) continue;
      visit(indx, indx_node_header);
    }
  }
}

bool directory_children(ntfs_volume& volume, record_context& context, entry_number directory,
                        std::vector<index_child>& children) {
  children.clear();
  mft_record record;
  if (!read_file_record(record, context, directory, false) || !record.header.is_directory()) return false;
  for_each_index_node(volume, record, [&children](std::span<const std::uint8_t> bytes, std::size_t node_offset) {
    parse_index_node(bytes, node_offset, children);
  });
  return true;
}

const std::vector<index_child>& directory_lookup::children(entry_number directory) {
  auto found = m_cache.find(directory);
  if (found != m_cache.end()) {
    if (m_context.log) m_context.log->write("info: cache lookup");
    return found->second;
  }
  if (m_context.log) m_context.log->write("info: get children nodes");
  std::vector<index_child> listed;
  directory_children(m_volume, m_context, directory, listed);
  if (m_context.log) {
    if (listed.empty()) m_context.log->write("info: none found");
    m_context.log->write("info: # children [%d]", static_cast<int>(listed.size()));
  }
  return m_cache.emplace(directory, std::move(listed)).first->second;
}

bool directory_lookup::find(std::string_view path, path_lookup& out) {
  if (m_context.log) m_context.log->write("anal: %.*s", static_cast<int>(path.size()), path.data());
  std::string text(path);
  for (const char* prefix : {"\\\\?\\", "\\\\.\\"}) {
    if (text.rfind(prefix, 0) == 0) text.erase(0, 4);
  }
  const char separator = text.find('/') != std::string::npos ? '/' : '\\';
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) components.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (!components.empty() && components.front().size() >= 2 && components.front()[1] == ':') {
    components.erase(components.begin());
  }
  out = path_lookup{root_directory_entry, root_directory_entry, "\\"};
  if (components.empty()) return !text.empty();

  std::string lower_component;
  std::string lower_child;
  out.path.clear();
  for (std::string component : components) {
    if (const auto colon = component.find(':'); colon != std::string::npos) component.resize(colon);
    uni::utf8_to_lower(component, lower_component);
    if (m_context.log) m_context.log->write("seg: %s", lower_component.c_str());
    const entry_number current = out.entry;
    const index_child* match = nullptr;
    for (const auto& child : children(current)) {
      uni::utf8_to_lower(child.name_utf8, lower_child);
      if (lower_child == lower_component) {
        match = &child;
        break;
      }
    }
    if (!match) {
      if (m_context.log) {
        m_context.log->write("err: no child nodes");
        m_context.log->write("inode not found for %.*s", static_cast<int>(path.size()), path.data());
      }
      return false;
    }
    out.parent = current;
    out.entry = match->reference.entry();
    out.path.append("\\").append(match->name_utf8);
    if (m_context.log) {
      m_context.log->write("info: inode found for seg: %s : 0x%llx", lower_component.c_str(),
                           static_cast<unsigned long long>(out.entry));
    }
  }
  return true;
}

}  // namespace ntfs
