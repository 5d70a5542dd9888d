#include "walk/owner_lookup.h"

#include "ntfs/security_descriptor.h"
#include "ntfs/stream_reader.h"
#include "ntfs/sid_text.h"

namespace walk {

void owner_lookup::volume_opened(ntfs::ntfs_volume* volume) {
  m_table = ntfs::security_table{};
  m_volume = volume;
  if (volume) ntfs::load_security_table(*volume, m_table);
}

bool owner_lookup::owner_of(const ntfs::mft_record& record, std::string& out) const {
  out.clear();
  const ntfs::std_info_entry* info = record.standard_information();
  if (info && info->security_id != 0) {
    if (const std::string* owner = ntfs::lookup_owner_sid(m_table, info->security_id)) {
      out = *owner;
      return true;
    }
  }
  // A descriptor too big for the record lies in clusters; 64 KiB holds any
  // real one.
  constexpr std::size_t largest_descriptor_bytes = 65536;
  for (const auto& attribute : record.attributes) {
    if (attribute.header.type != ntfs::attribute_type::security_descriptor) continue;
    std::span<const std::uint8_t> descriptor;
    if (attribute.header.non_resident) {
      if (!m_volume || !ntfs::read_stream_prefix(*m_volume, attribute, largest_descriptor_bytes, m_descriptor)) continue;
      descriptor = m_descriptor;
    } else {
      const std::uint64_t from = attribute.header.value_offset, length = attribute.header.value_length;
      if (from + length > attribute.raw.size()) continue;
      descriptor = attribute.raw.subspan(from, length);
    }
    ntfs::descriptor_header header;
    if (!ntfs::read_descriptor_header(descriptor, header) || header.owner_offset == 0) continue;
    if (ntfs::sid_to_text(ntfs::bytes_from(descriptor, header.owner_offset), out)) return true;
  }
  out.clear();
  return false;
}

bool owner_lookup::shared_owner_and_group(const ntfs::mft_record& record, std::string& owner,
                                          std::string& group) const {
  const ntfs::std_info_entry* info = record.standard_information();
  const ntfs::sds_record* shared = info ? m_table.find(info->security_id) : nullptr;
  if (!shared) return false;
  owner = shared->owner_sid;
  group = shared->group_sid;
  return true;
}

}  // namespace walk
