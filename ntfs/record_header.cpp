#include "ntfs/record_header.h"

#include <algorithm>
#include <cstring>

#include "support/byte_reader.h"

namespace ntfs {

namespace {

record_kind kind_of(std::span<const std::uint8_t> record) {
  if (record.size() < 4) return record_kind::other;
  if (std::memcmp(record.data(), "FILE", 4) == 0) return record_kind::file;
  if (std::memcmp(record.data(), "INDX", 4) == 0) return record_kind::index;
  if (std::memcmp(record.data(), "BAAD", 4) == 0) return record_kind::baad;
  return record_kind::other;
}

}  // namespace

record_header parse_record_header(std::span<const std::uint8_t> record) {
  support::byte_reader r(record);
  record_header h;
  h.kind = kind_of(record);
  h.update_sequence_offset = r.le16(record_offset::update_sequence_offset);
  h.update_sequence_count = r.le16(record_offset::update_sequence_count);
  h.logfile_sequence_number = r.le64(record_offset::logfile_sequence_number);
  h.sequence_number = r.le16(record_offset::sequence_number);
  h.link_count = r.le16(record_offset::link_count);
  h.first_attribute_offset = r.le16(record_offset::first_attribute);
  h.flags = r.le16(record_offset::flags);
  h.bytes_in_use = r.le32(record_offset::bytes_in_use);
  h.bytes_allocated = r.le32(record_offset::bytes_allocated);
  h.base_record = file_reference{r.le64(record_offset::base_record)};
  h.next_attribute_id = r.le16(record_offset::next_attribute_id);
  return h;
}

namespace {

// Nine entries cover a 4096-byte record; the first attribute never starts
// after the longest header with its array.
constexpr std::uint16_t largest_update_sequence_count = 9;
constexpr std::uint16_t latest_first_attribute = 0x48;

enum class header_check { passed, signature, array_offset, array_count, first_attribute };

header_check check_header(const record_header& header) {
  if (header.kind != record_kind::file) return header_check::signature;
  if (header.update_sequence_offset != update_sequence_array_at &&
      header.update_sequence_offset != update_sequence_array_at_ntfs30) {
    return header_check::array_offset;
  }
  if (header.update_sequence_count > largest_update_sequence_count) return header_check::array_count;
  if (header.first_attribute_offset > latest_first_attribute) return header_check::first_attribute;
  return header_check::passed;
}

}  // namespace

bool passes_file_signature_test(const record_header& header) { return check_header(header) == header_check::passed; }

header_fault find_header_fault(std::span<const std::uint8_t> record) {
  const record_header header = parse_record_header(record);
  switch (check_header(header)) {
    case header_check::passed:
      return {};
    case header_check::signature: {
      support::byte_reader r(record);
      return {"signature", record_offset::signature, "0x454c4946 (FILE)", r.le32(record_offset::signature)};
    }
    case header_check::array_offset:
      return {"update sequence offset", record_offset::update_sequence_offset, "0x30 or 0x2a",
              header.update_sequence_offset};
    case header_check::array_count:
      return {"update sequence count", record_offset::update_sequence_count, "at most 9",
              header.update_sequence_count};
    case header_check::first_attribute:
      return {"first attribute offset", record_offset::first_attribute, "at most 0x48",
              header.first_attribute_offset};
  }
  return {};
}

fixup_result apply_fixups(std::span<std::uint8_t> record, record_header* parsed, fixup_mismatch* mismatch) {
  if (record.empty()) return fixup_result::rejected;
  const record_header header = parse_record_header(record);
  if (parsed) *parsed = header;
  if (!passes_file_signature_test(header) && header.kind != record_kind::index) {
    return header.kind == record_kind::baad ? fixup_result::bad_record : fixup_result::rejected;
  }
  const std::uint16_t count = header.update_sequence_count;
  if (count < 2) return fixup_result::applied;
  const std::size_t strides = record.size() / fixup_stride_bytes;
  const std::size_t last = std::min<std::size_t>(count - 1, strides);
  const std::size_t array = header.update_sequence_offset;
  if (array + 2 > record.size()) return fixup_result::applied;
  support::byte_reader r(record);
  const std::uint16_t sequence_number = r.le16(array);
  for (std::size_t i = 1; i <= last && array + 2 * i + 2 <= record.size(); ++i) {
    const std::size_t tail = i * fixup_stride_bytes - 2;
    if (r.le16(tail) != sequence_number) {
      if (mismatch) *mismatch = {tail, sequence_number, r.le16(tail)};
      return fixup_result::bad_record;
    }
  }
  for (std::size_t i = 1; i <= last; ++i) {
    const std::size_t entry = array + 2 * i;
    const std::size_t tail = i * fixup_stride_bytes - 2;
    // INDX blocks skip the header test, so their array may lie anywhere.
    if (entry + 2 > record.size()) break;
    record[tail] = record[entry];
    record[tail + 1] = record[entry + 1];
  }
  return fixup_result::applied;
}

}  // namespace ntfs
