#include "ntfs/security_descriptor.h"

#include <algorithm>

#include "ntfs/ace_text.h"
#include "ntfs/sid_text.h"
#include "support/byte_reader.h"

namespace ntfs {

namespace {

constexpr std::size_t column_width = 15;

void append_padded(std::string& out, std::string_view text) {
  out.append(text);
  if (text.size() < column_width) out.append(column_width - text.size(), ' ');
}

void append_line(std::string& out, std::string_view prefix, std::string_view text) {
  out.append(prefix);
  out.append(text);
  out.push_back('\n');
}

// "<label> [<SID text>]"; false when the SID could not be read.
bool append_sid_line(std::string& out, std::string_view prefix, std::string_view label,
                     std::span<const std::uint8_t> sid) {
  out.append(prefix);
  out.append(label);
  out.append(" [");
  const bool read = append_sid_text(out, sid);
  out.append("]\n");
  return read;
}

void append_acl_section(std::string& out, std::string_view prefix, std::string_view title, const ace_table& table) {
  if (table.empty()) return;
  append_line(out, prefix, {});
  append_line(out, prefix, title);
  for (const ace_entry& entry : table) {
    out.append(prefix);
    append_padded(out, entry.type_name);
    out.push_back(' ');
    append_padded(out, entry.sid_name);
    out.push_back(' ');
    out.append(entry.access_text);
    out.push_back('\n');
  }
}

}  // namespace

bool read_descriptor_header(std::span<const std::uint8_t> descriptor, descriptor_header& out) {
  out = {};
  support::byte_reader r(descriptor);
  if (!r.fits(0, descriptor_header_bytes)) return false;
  out.owner_offset = r.le32(descriptor_offset::owner);
  out.group_offset = r.le32(descriptor_offset::group);
  out.sacl_offset = r.le32(descriptor_offset::sacl);
  out.dacl_offset = r.le32(descriptor_offset::dacl);
  return r.ok();
}

std::span<const std::uint8_t> bytes_from(std::span<const std::uint8_t> descriptor, std::uint32_t offset) {
  if (offset >= descriptor.size()) return {};
  return descriptor.subspan(offset);
}

void parse_acl(std::span<const std::uint8_t> descriptor, std::uint32_t acl_offset_bytes, ace_table& out) {
  out.clear();
  support::byte_reader whole(descriptor);
  if (!whole.fits(acl_offset_bytes, acl_header_bytes)) return;
  const std::uint16_t declared_size = whole.le16(std::size_t{acl_offset_bytes} + acl_offset::size);
  const std::uint16_t ace_count = whole.le16(std::size_t{acl_offset_bytes} + acl_offset::ace_count);
  // The ACL's own size bounds its ACEs, and the descriptor bounds the ACL.
  const std::size_t acl_size = std::min<std::size_t>(declared_size, descriptor.size() - acl_offset_bytes);
  support::byte_reader acl(descriptor.subspan(acl_offset_bytes, acl_size));

  std::size_t position = acl_offset::first_ace;
  for (std::uint32_t i = 0; i < ace_count; ++i) {
    if (!acl.fits(position, ace_min_bytes)) break;
    const std::uint16_t ace_size = acl.le16(position + ace_offset::size);
    if (ace_size < ace_min_bytes || !acl.fits(position, ace_size)) break;
    support::byte_reader ace(acl.sub(position, ace_size));
    const std::uint8_t type = ace.u8(ace_offset::type);
    const std::uint32_t mask = ace.le32(ace_offset::mask);
    const std::span<const std::uint8_t> sid = ace.bytes().subspan(ace_offset::sid);

    ace_entry& entry = out.begin_insert();
    entry.sid_text.clear();
    append_sid_text(entry.sid_text, sid);
    entry.type_name = ace_type_name(type, true);
    entry.sid_name = sid_to_name(sid);
    entry.key.assign(entry.sid_text).append(entry.type_name);
    entry.access_text.clear();
    append_access_mask_text(entry.access_text, mask);
    auto [kept, inserted] = out.commit();
    if (!inserted) {
      kept->access_text.append(" | ");
      append_access_mask_text(kept->access_text, mask);
    }
    position += ace_size;
  }
}

void descriptor_to_text(std::string& out, std::span<const std::uint8_t> descriptor, std::string_view prefix,
                        descriptor_scratch& scratch) {
  append_line(out, prefix, "Security Identifiers");
  descriptor_header header;
  if (!read_descriptor_header(descriptor, header)) return;

  std::size_t owner_size = 0;
  if (header.owner_offset != 0) {
    const auto owner = bytes_from(descriptor, header.owner_offset);
    if (append_sid_line(out, prefix, "owner sid", owner)) owner_size = sid_size(owner);
  }
  if (header.group_offset != 0) {
    // Owner and group cannot overlap in a sound descriptor, so the group may
    // use no more than the descriptor's length less the owner SID, on top of
    // ending where the descriptor ends.
    auto group = bytes_from(descriptor, header.group_offset);
    group = group.first(std::min(group.size(), descriptor.size() - owner_size));
    append_sid_line(out, prefix, "group sid", group);
  }
  scratch.sacl.clear();
  scratch.dacl.clear();
  if (header.sacl_offset != 0) parse_acl(descriptor, header.sacl_offset, scratch.sacl);
  if (header.dacl_offset != 0) parse_acl(descriptor, header.dacl_offset, scratch.dacl);
  append_acl_section(out, prefix, "System Access Control List", scratch.sacl);
  append_acl_section(out, prefix, "Discretionary Access Control List", scratch.dacl);
}

std::string descriptor_to_text(std::span<const std::uint8_t> descriptor, std::string_view prefix) {
  std::string text;
  descriptor_scratch scratch;
  descriptor_to_text(text, descriptor, prefix, scratch);
  return text;
}

}  // namespace ntfs
