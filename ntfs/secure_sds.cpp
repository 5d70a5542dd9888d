#include "ntfs/secure_sds.h"

#include <vector>

#include "ntfs/attribute_header.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_volume.h"
#include "ntfs/record_reader.h"
#include "ntfs/sid_text.h"
#include "ntfs/stream_reader.h"
#include "support/byte_reader.h"

namespace ntfs {

namespace {

constexpr std::string_view sds_stream_name = "$SDS";

const attr_record* find_sds_stream(const mft_record& record) {
  for (const attr_record& attribute : record.attributes) {
    if (attribute.header.type == attribute_type::data && attribute.name_utf8 == sds_stream_name) return &attribute;
  }
  return nullptr;
}

}  // namespace

bool parse_sds_entry(std::span<const std::uint8_t> entry, sds_record& out, bool with_acls) {
  out.owner_sid.clear();
  out.group_sid.clear();
  out.sacl.clear();
  out.dacl.clear();
  support::byte_reader r(entry);
  const std::uint32_t hash = r.le32(sds_offset::hash);
  const std::uint32_t security_id = r.le32(sds_offset::security_id);
  const std::uint64_t offset = r.le64(sds_offset::entry_offset);
  const std::uint32_t length = r.le32(sds_offset::entry_length);
  if (!r.ok() || length < sds_header_bytes || length > entry.size()) return false;
  out.hash = hash;
  out.security_id = security_id;
  out.stream_offset = offset;

  const std::span<const std::uint8_t> descriptor = entry.subspan(sds_offset::descriptor, length - sds_header_bytes);
  descriptor_header header;
  if (!read_descriptor_header(descriptor, header)) return true;
  if (header.owner_offset != 0) append_sid_text(out.owner_sid, bytes_from(descriptor, header.owner_offset));
  if (header.group_offset != 0) append_sid_text(out.group_sid, bytes_from(descriptor, header.group_offset));
  if (with_acls) {
    if (header.sacl_offset != 0) parse_acl(descriptor, header.sacl_offset, out.sacl);
    if (header.dacl_offset != 0) parse_acl(descriptor, header.dacl_offset, out.dacl);
  }
  return true;
}

bool security_table::build(std::span<const std::uint8_t> sds_stream, bool with_acls) {
  m_records.clear();
  support::byte_reader r(sds_stream);
  sds_record parsed;
  std::uint64_t position = 0;
  while (position < sds_stream.size()) {
    std::uint64_t step = sds_alignment;
    if (r.fits(position, sds_header_bytes)) {
      const std::uint64_t offset = r.le64(position + sds_offset::entry_offset);
      const std::uint32_t length = r.le32(position + sds_offset::entry_length);
      if (offset == position && length >= sds_min_entry_length && length <= sds_stream.size() - position) {
        if (parse_sds_entry(sds_stream.subspan(position, length), parsed, with_acls) &&
            !m_records.contains(parsed.security_id)) {
          m_records.emplace(parsed.security_id, std::move(parsed));
          parsed = sds_record{};
        }
        step = (std::uint64_t{length} + sds_alignment - 1) / sds_alignment * sds_alignment;
      }
    }
    position += step;
  }
  return !m_records.empty();
}

bool security_table::load(record_source& records, cluster_source& clusters, bool with_acls) {
  if (!m_records.empty()) return true;
  record_context context;
  context.source = &records;
  context.clusters = &clusters;
  if (!context.ensure_record_size()) return false;
  mft_record record;
  if (!read_file_record(record, context, secure_entry, false)) return false;
  const attr_record* sds = find_sds_stream(record);
  if (!sds) return false;
  std::vector<std::uint8_t> stream;
  vector_sink sink(stream);
  if (!read_stream(clusters, *sds, sink)) return false;
  return build(stream, with_acls);
}

const sds_record* security_table::find(std::uint32_t security_id) const {
  const auto found = m_records.find(security_id);
  return found == m_records.end() ? nullptr : &found->second;
}

bool load_security_table(ntfs_volume& volume, security_table& table, bool with_acls) {
  if (!volume.is_validated()) return false;
  return table.load(volume, volume, with_acls);
}

const std::string* lookup_owner_sid(const security_table& table, std::uint32_t security_id) {
  const sds_record* record = table.find(security_id);
  return record ? &record->owner_sid : nullptr;
}

}  // namespace ntfs
