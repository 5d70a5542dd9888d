#include "ntfs/attribute_header.h"

#include "support/byte_reader.h"

namespace ntfs {

bool parse_attribute_header(std::span<const std::uint8_t> attribute, attribute_header& header) {
  header = attribute_header{};
  support::byte_reader r(attribute);
  if (!r.fits(0, 16)) return false;
  header.type = r.le32(attribute_offset::type);
  header.length = r.le32(attribute_offset::length);
  header.non_resident = r.u8(attribute_offset::non_resident) != 0;
  header.name_length = r.u8(attribute_offset::name_length);
  header.name_offset = r.le16(attribute_offset::name_offset);
  header.flags = r.le16(attribute_offset::flags);
  header.id = r.le16(attribute_offset::id);
  if (!header.non_resident) {
    header.value_length = r.le32(attribute_offset::value_length);
    header.value_offset = r.le16(attribute_offset::value_offset);
  } else {
    header.first_vcn = r.le64(attribute_offset::first_vcn);
    header.last_vcn = r.le64(attribute_offset::last_vcn);
    header.run_list_offset = r.le16(attribute_offset::run_list_offset);
    header.compression_unit = r.le16(attribute_offset::compression_unit);
    header.allocated_size = r.le64(attribute_offset::allocated_size);
    header.real_size = r.le64(attribute_offset::real_size);
    header.initialized_size = r.le64(attribute_offset::initialized_size);
    if (header.compression_unit != 0 && header.length >= 72) {
      header.compressed_size = r.le64(attribute_offset::compressed_size);
    }
  }
  const std::size_t form_bytes = header.non_resident ? non_resident_header_bytes : resident_header_bytes;
  header.complete = r.ok() && header.length >= form_bytes;
  return true;
}

}  // namespace ntfs
