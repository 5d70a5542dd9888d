#include "ntfs/attribute_cursor.h"

namespace ntfs {

bool attribute_cursor::next(attribute_view& attribute) {
  if (m_done) return false;
  if (m_offset == 0) {
    m_done = true;  // a record without attributes
    return false;
  }
  const auto rest = m_offset < m_record.size() ? m_record.subspan(m_offset) : std::span<const std::uint8_t>{};
  const bool header_read = parse_attribute_header(rest, attribute.header);
  m_fault = check_attribute_header(attribute.header, header_read, m_offset, m_record.size(), m_length_limit,
                                   m_expected, m_actual);
  if (m_fault != attribute_fault::none) {
    m_done = true;
    return false;
  }
  attribute.offset = m_offset;
  attribute.bytes = m_record.subspan(m_offset, attribute.header.length);
  m_offset += attribute.header.length;
  return true;
}

}  // namespace ntfs
