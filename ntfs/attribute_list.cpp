#include "ntfs/attribute_list.h"

#include "ntfs/record_reader.h"
#include "support/byte_reader.h"

namespace ntfs {

namespace {

// An attribute list describes at most a few thousand attributes; a size
// beyond 16 MiB is damage, not data.
constexpr std::uint64_t largest_list_bytes = 16u << 20;

// Reads extension record `holder` into the context's reused buffer; false
// when it cannot be read or is marked bad.
bool read_extension(record_context& context, entry_number holder) {
  bool bad = false;
  context.extension_entry = ~0ULL;
  if (!read_raw_record(context.extension_buffer, bad, context, holder, read_intent::random) || bad) return false;
  context.extension_entry = holder;
  return true;
}

// An extracted $MFT holds no clusters, so a non-resident list cannot be
// read. The extension records it would name still say whose they are: take
// every attribute of each record in use that names this one as its base,
// entry and sequence number alike. A freed extension of an earlier file in
// the same entry keeps an older sequence number (or no longer counts as in
// use) and must not lend it streams or names.
void take_extensions_naming(mft_record& record, record_context& context, entry_number entry, bool keep_resident) {
  const file_reference base = file_reference::make(entry, record.sequence);
  std::vector<entry_number>& extensions = context.scratch.extension_entries;
  if (!context.source || !context.source->extension_records_of(entry, extensions)) return;
  for (const entry_number holder : extensions) {
    if (holder == entry || !read_extension(context, holder)) continue;
    context.extension_entry = ~0ULL;
    const std::vector<std::uint8_t>& buffer = context.extension_buffer;
    const record_header extension = parse_record_header(buffer);
    if (extension.kind != record_kind::file || !extension.in_use() || extension.base_record != base) continue;
    const entry_number recorded = context.csv_per_path ? holder : entry;
    attribute_cursor cursor(buffer, extension.first_attribute_offset);
    attribute_view attribute;
    while (cursor.next(attribute)) {
      if (attribute.header.type == attribute_type::attribute_list) continue;
      dispatch_attribute(record, context, recorded, holder, attribute, keep_resident);
    }
    log_attribute_walk_end(context.log, holder, cursor);
  }
}

}  // namespace

void follow_attribute_list(mft_record& record, record_context& context, entry_number entry,
                           const attribute_view& list, bool keep_resident) {
  record.has_attribute_list = true;
  const attribute_header& header = list.header;
  if (!header.non_resident) {
    if (header.value_length == 0 || header.value_offset == 0) return;
    if (context.log) {
      context.log->write_at(2, "inode 0x%08llx : attribute type 0x%04x : has resident attrib list.",
                            static_cast<unsigned long long>(entry), header.type);
    }
    if (!header.resident_value_fits()) return;
    parse_attribute_list_entries(record, context, entry, list.bytes.subspan(header.value_offset, header.value_length),
                                 keep_resident);
    return;
  }
  if (context.log) {
    context.log->write_at(2, "inode 0x%08llx : attribute type 0x%04x : has non resident attrib list.",
                          static_cast<unsigned long long>(entry), header.type);
  }
  record.has_nonresident_attribute_list = true;
  if (!context.clusters) {
    take_extensions_naming(record, context, entry, keep_resident);
    return;
  }
  // A volume: read the list's clusters, up to its real size.
  extent_list& extents = context.scratch.list_extents;
  std::vector<std::uint8_t>& bytes = context.scratch.list_bytes;
  decode_extents_logged(context.log, entry, list, extents);
  if (header.real_size == 0 || header.real_size > largest_list_bytes) return;
  read_plain_stream(*context.clusters, extents, header.real_size, bytes);
  parse_attribute_list_entries(record, context, entry, bytes, keep_resident);
}

void parse_attribute_list_entries(mft_record& record, record_context& context, entry_number entry,
                                  std::span<const std::uint8_t> list, bool keep_resident) {
  support::byte_reader r(list);
  std::size_t position = 0;
  while (position < list.size()) {
    const std::uint32_t type = r.le32(position + attribute_list_offset::type);
    const std::uint16_t length = r.le16(position + attribute_list_offset::entry_length);
    const entry_number holder = r.le48(position + attribute_list_offset::holder);
    const std::uint16_t id = r.le16(position + attribute_list_offset::attribute_id);
    if (!r.ok() || length == 0) break;
    position += length;
    if (holder == entry) continue;  // already parsed from the base record

    if (context.log) {
      context.log->write("primary entry %llu pointing to ref entry %llu", static_cast<unsigned long long>(entry),
                         static_cast<unsigned long long>(holder));
    }
    if (context.extension_entry != holder && !read_extension(context, holder)) continue;
    const std::vector<std::uint8_t>& buffer = context.extension_buffer;
    const record_header extension = parse_record_header(buffer);
    // An extension record that now belongs to another file (its base
    // reference points elsewhere) must not lend its attributes.
    if (extension.kind != record_kind::file || extension.base_record.entry() != entry) continue;
    attribute_cursor cursor(buffer, extension.first_attribute_offset);
    attribute_view attribute;
    while (cursor.next(attribute)) {
      if (attribute.header.type != type || attribute.header.id != id) continue;
      const entry_number recorded = context.csv_per_path ? holder : entry;
      dispatch_attribute(record, context, recorded, holder, attribute, keep_resident);
      break;
    }
    log_attribute_walk_end(context.log, holder, cursor);
  }
}

}  // namespace ntfs
