#include "ntfs/attribute_header.h"

#include "support/byte_reader.h"

namespace ntfs {

bool parse_attribute_header(std::span<const std::uint8_t> attribute, attribute_header& header) {
  header = attribute_header{};
  support::byte_reader r(attribute);
  // The end marker may sit in the last 8 bytes of a record, too few for a
  // header: its type is still read.
  header.type = r.le32(attribute_offset::type);
  if (!r.fits(0, attribute_common_header_bytes)) return false;
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

attribute_fault check_attribute_header(const attribute_header& header, bool header_read, std::size_t offset,
                                       std::size_t record_bytes, std::size_t length_limit, std::uint64_t& expected,
                                       std::uint64_t& actual) {
  const std::size_t room = offset < record_bytes ? record_bytes - offset : 0;
  expected = 0;
  actual = 0;
  if (header.type == attribute_type::end_marker) return attribute_fault::end_marker;
  if (!header_read) {
    expected = attribute_common_header_bytes;
    actual = room;
    return attribute_fault::truncated_header;
  }
  actual = header.length;
  if (header.length == 0) return attribute_fault::zero_length;
  expected = room < length_limit ? room : length_limit;
  if (header.length > expected) return attribute_fault::past_record_end;
  return attribute_fault::none;
}

const char* attribute_fault_text(attribute_fault fault) {
  switch (fault) {
    case attribute_fault::none: return "none";
    case attribute_fault::end_marker: return "end marker";
    case attribute_fault::truncated_header: return "header cut short: bytes left";
    case attribute_fault::zero_length: return "zero length";
    case attribute_fault::past_record_end: return "length past the record end";
  }
  return "unknown";
}

}  // namespace ntfs
