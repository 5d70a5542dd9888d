// The walk over the attributes of one fixed-up file record.
//
// Attributes follow each other from the record header's first-attribute
// offset, each `length` bytes long, until the type 0xFFFFFFFF. Every step
// is checked by check_attribute_header; the cursor stops at the first
// attribute that fails and keeps the reason, the byte offset and the values
// compared, so a damaged record can be reported precisely.
//
//     attribute_cursor cursor(bytes, header.first_attribute_offset);
//     attribute_view attribute;
//     while (cursor.next(attribute)) use(attribute.header, attribute.bytes);
//     if (cursor.damaged()) log(cursor.stop_offset(), ...);
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "ntfs/attribute_header.h"

namespace ntfs {

struct attribute_view {
  attribute_header header;
  std::size_t offset = 0;               // bytes from the record start
  std::span<const std::uint8_t> bytes;  // the whole attribute, `header.length` bytes
};

class attribute_cursor {
 public:
  // `first_offset` 0 means the record has no attributes. `length_limit`
  // caps an attribute's length below the record's own end.
  attribute_cursor(std::span<const std::uint8_t> record, std::size_t first_offset,
                   std::size_t length_limit = std::numeric_limits<std::size_t>::max())
      : m_record(record), m_offset(first_offset), m_length_limit(length_limit) {}

  // The next attribute; false at the end marker or at the first fault.
  bool next(attribute_view& attribute);

  attribute_fault stop_reason() const { return m_fault; }
  // True when the walk ended at damage rather than at the end marker.
  bool damaged() const { return m_fault != attribute_fault::none && m_fault != attribute_fault::end_marker; }
  std::size_t stop_offset() const { return m_offset; }  // bytes from the record start
  std::uint64_t expected() const { return m_expected; }
  std::uint64_t actual() const { return m_actual; }

 private:
  std::span<const std::uint8_t> m_record;
  std::size_t m_offset;
  std::size_t m_length_limit;
  attribute_fault m_fault = attribute_fault::none;
  bool m_done = false;
  std::uint64_t m_expected = 0;
  std::uint64_t m_actual = 0;
};

}  // namespace ntfs
