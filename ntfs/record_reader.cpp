#include "ntfs/record_reader.h"

#include <algorithm>
#include <cstring>

#include "ntfs/attribute_list.h"
#include "ntfs/attribute_text.h"
#include "ntfs/attribute_values.h"
#include "support/byte_reader.h"

namespace ntfs {

bool record_context::ensure_record_size() {
  if (record_size_known) return true;
  if (!source) return false;
  std::uint32_t size = 0;
  if (!source->record_size(size) || size == 0) return false;
  record_size = size;
  record_size_known = true;
  return true;
}

namespace {

// Types that have no table of their own share one type part in their key.
bool has_own_key_type(std::uint32_t type) {
  switch (type) {
    case attribute_type::standard_information:
    case attribute_type::attribute_list:
    case attribute_type::file_name:
    case attribute_type::object_id:
    case attribute_type::security_descriptor:
    case attribute_type::volume_name:
    case attribute_type::volume_information:
    case attribute_type::data:
    case attribute_type::index_root:
    case attribute_type::index_allocation:
    case attribute_type::bitmap:
    case attribute_type::reparse_point:
    case attribute_type::logged_utility_stream:
      return true;
    default:
      return false;
  }
}

struct parsed_attribute {
  attribute_header header;
  std::span<const std::uint8_t> bytes;  // the whole attribute
  std::span<const std::uint8_t> value;  // resident value, empty when none or out of bounds
  std::string* name_utf8 = nullptr;    // decoded name (scratch)
  attr_key key = 0;
  entry_number recorded_entry = 0;
  entry_number holder_entry = 0;
  std::size_t offset = 0;  // bytes from the start of the holding record
  support::diagnostics_log* log = nullptr;
};

// Extents of a non-resident attribute; a run list that cannot be read to
// its end keeps the runs before the damage and is logged.
void decode_attribute_extents(const parsed_attribute& a, extent_list& extents) {
  attribute_view view;
  view.header = a.header;
  view.offset = a.offset;
  view.bytes = a.bytes;
  decode_extents_logged(a.log, a.holder_entry, view, extents);
}

void parse_zone_text(std::span<const std::uint8_t> text, std::vector<zone_pair>& zone) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
    const std::string_view line(reinterpret_cast<const char*>(text.data()) + start, end - start);
    const std::size_t equals = line.find('=');
    if (equals != std::string_view::npos) {
      zone.push_back({std::string(line.substr(0, equals)), std::string(line.substr(equals + 1))});
    }
    start = end + 1;
  }
}

// Zone.Identifier text: a resident value as it is; a longer one (a download
// with many URLs) from its first clusters, at most 4096 bytes, which needs
// the volume. Nothing is kept when those clusters cannot be read.
void take_zone_identifier(mft_record& record, record_context& context, const parsed_attribute& a) {
  if (!a.header.non_resident) {
    parse_zone_text(a.value, record.zone);
    return;
  }
  constexpr std::uint64_t zone_text_limit = 4096;  // bytes
  if (!context.clusters || a.header.first_vcn != 0) return;
  attribute_scratch& s = context.scratch;
  decode_attribute_extents(a, s.extents);
  const std::uint64_t size = std::min(a.header.real_size, zone_text_limit);
  if (size == 0 || !read_plain_stream(*context.clusters, s.extents, size, s.zone_bytes)) return;
  parse_zone_text(s.zone_bytes, record.zone);
}

// Attributes of the record itself are viewed in place; those read from an
// extension record (whose buffer is reused) are copied.
void keep_bytes(const mft_record& record, attr_record& slot, std::span<const std::uint8_t> bytes) {
  const std::uint8_t* begin = record.raw.data();
  const std::uint8_t* end = begin + record.raw.size();
  if (bytes.data() >= begin && bytes.data() + bytes.size() <= end) {
    slot.raw = bytes;
    return;
  }
  slot.raw_copy.assign(bytes.begin(), bytes.end());
  slot.raw = slot.raw_copy;
}

void fill_attr_record(const mft_record& record, attr_record& slot, const parsed_attribute& a, bool keep_resident) {
  slot.key = a.key;
  slot.header = a.header;
  slot.name_utf8 = *a.name_utf8;
  slot.label = attribute_label(a.header.type, !a.name_utf8->empty());
  keep_bytes(record, slot, a.bytes);
  slot.description.clear();
  slot.named_stream = a.header.type == attribute_type::data && !a.name_utf8->empty();
  slot.data_attribute = a.header.type == attribute_type::data;
  slot.extents.clear();
  if (a.header.non_resident) decode_attribute_extents(a, slot.extents);
  slot.has_resident_copy = keep_resident && !a.header.non_resident && !a.value.empty();
  if (slot.has_resident_copy) {
    slot.resident_value.assign(a.value.begin(), a.value.end());
  } else {
    slot.resident_value.clear();
  }
  slot.read_under_entry = a.recorded_entry;
}

// Adds an attribute to the all-attributes table, or merges its extents into
// the entry that already holds the rest of the same attribute.
attr_record* file_attribute(mft_record& record, const parsed_attribute& a, bool keep_resident,
                            extent_list& scratch) {
  attr_record* existing = record.attributes.find(a.key);
  const bool unnamed_data = a.header.type == attribute_type::data && a.name_utf8->empty();
  // One attribute split over several records has a different id in each
  // record, so its extents are found by what names the attribute: type and
  // name. A non-resident extent joins the non-resident attribute filed under
  // them (whichever VCN range arrived first).
  if (!existing && ((unnamed_data && record.has_unnamed_data) || a.header.non_resident)) {
    for (const auto& candidate : record.attributes) {
      const bool same_attribute = candidate.header.type == a.header.type && candidate.name_utf8 == *a.name_utf8;
      if (same_attribute && (unnamed_data || candidate.header.non_resident)) {
        existing = const_cast<attr_record*>(&candidate);
        break;
      }
    }
  }
  if (existing) {
    if (existing->name_utf8 != *a.name_utf8) {
      // Attribute ids are unique only within one record, so an attribute of
      // an extension record can share type and id with a different one
      // already filed. Give it a key that also carries the holding record
      // (bits 32-47 are free: types are 32 bits); an extent of the same
      // attribute has the same name and is merged below instead.
      constexpr attr_key holder_bits = 0xFFFFULL << 32;
      if (a.holder_entry == record.entry || (a.key & holder_bits) != 0) return nullptr;
      parsed_attribute own = a;
      const std::uint64_t holder_tag = (a.holder_entry & 0xFFFF) != 0 ? (a.holder_entry & 0xFFFF) : 0xFFFF;
      own.key = a.key | (holder_tag << 32);
      return file_attribute(record, own, keep_resident, scratch);
    }
    if (a.header.non_resident) {
      scratch.clear();
      decode_attribute_extents(a, scratch);
      merge_extents(existing->extents, scratch);
      // Only the extent that starts at VCN 0 carries the stream's sizes; keep
      // its header and bytes whichever extent arrived first.
      if (a.header.first_vcn == 0 && existing->header.first_vcn != 0) {
        existing->header = a.header;
        keep_bytes(record, *existing, a.bytes);
      }
    }
    return existing;
  }
  attr_record& slot = record.attributes.begin_insert();
  fill_attr_record(record, slot, a, keep_resident);
  return record.attributes.commit().first;
}

void file_standard_information(mft_record& record, const parsed_attribute& a) {
  if (a.header.value_offset == 0 || a.header.value_length == 0 || a.value.empty()) return;
  std_info_entry& slot = record.std_info.begin_insert();
  slot.key = a.key;
  parse_standard_information(a.value, slot);
  // $STANDARD_INFORMATION is tested without a future limit: its times are
  // set by user-mode calls and are routinely in the future on real disks.
  slot.anomaly = check_time_anomaly(slot.times, 0);
  record.std_info.commit();
}

void file_file_name(mft_record& record, record_context& context, const parsed_attribute& a) {
  if (a.header.value_offset == 0 || a.header.value_length == 0 || a.value.empty()) return;
  file_name_entry& slot = record.file_names.begin_insert();
  if (!parse_file_name(a.value, slot)) {
    record.file_names.cancel_insert();
    return;
  }
  slot.attribute_id = a.header.id;
  slot.read_under_entry = a.recorded_entry;
  slot.held_by_entry = a.holder_entry;
  slot.anomaly = check_time_anomaly(slot.times, context.future_limit);
  make_link_text(slot, a.recorded_entry);
  auto [name, inserted] = record.file_names.commit();
  if (!inserted || name->is_dos_name) return;

  parent_link& link = record.parents.begin_insert();
  link.parent = name->parent;
  link.parent_path = {};
  link.path_corrupted = false;
  record.parents.commit();
}

void file_object_id(mft_record& record, const parsed_attribute& a, attr_record* filed) {
  if (a.value.size() < 16) return;
  object_id_entry& slot = record.object_ids.begin_insert();
  slot.key = a.key;
  slot.bytes.fill(0);
  std::memcpy(slot.bytes.data(), a.value.data(), std::min(a.value.size(), slot.bytes.size()));
  slot.value_length = static_cast<std::uint32_t>(a.value.size());
  record.object_ids.commit();
  if (filed) filed->description = guid_text(std::span<const std::uint8_t, 16>(slot.bytes.data(), 16));
}

void file_volume_name(mft_record& record, const parsed_attribute& a, attr_record* filed) {
  volume_name_entry& slot = record.volume_names.begin_insert();
  slot.key = a.key;
  slot.name = uni::utf8_to_wide(*a.name_utf8);
  record.volume_names.commit();
  if (!filed) return;
  if (!a.name_utf8->empty()) {
    filed->description = *a.name_utf8;
  } else if (!a.value.empty()) {
    uni::utf16_to_utf8(a.value, filed->description);
  }
}

void file_volume_information(mft_record& record, const parsed_attribute& a, attr_record* filed) {
  if (a.header.value_offset == 0 || a.header.value_length == 0 || a.value.empty()) return;
  volume_information_entry& slot = record.volume_information.begin_insert();
  slot.key = a.key;
  parse_volume_information(a.value, slot);
  auto [kept, inserted] = record.volume_information.commit();
  if (filed && inserted) filed->description = kept->version_text;
}

void file_index_root(mft_record& record, const parsed_attribute& a) {
  if (a.value.empty()) return;
  index_root_entry& slot = record.index_roots.begin_insert();
  slot.index_name = uni::utf8_to_wide(*a.name_utf8);
  parse_index_root(a.value, slot);
  record.index_roots.commit();
}

// Reparse points are filed only when their target can be read.
bool parse_reparse(mft_record& record, const parsed_attribute& a, uni::wide_string& target, std::string& utf8) {
  if (a.header.non_resident || a.header.value_offset == 0 || a.value.empty()) return false;
  if (!parse_reparse_target(a.value, target, utf8)) return false;
  reparse_entry& slot = record.reparse_points.begin_insert();
  slot.key = a.key;
  slot.target = target;
  slot.target_utf8 = utf8;
  record.reparse_points.commit();
  return true;
}

}  // namespace

bool dispatch_attribute(mft_record& record, record_context& context, entry_number recorded_entry,
                        entry_number holder_entry, const attribute_view& attribute, bool keep_resident) {
  parsed_attribute a;
  a.header = attribute.header;
  a.bytes = attribute.bytes;
  a.offset = attribute.offset;
  a.recorded_entry = recorded_entry;
  a.holder_entry = holder_entry;
  a.log = context.log;

  attribute_scratch& s = context.scratch;
  s.utf8.clear();
  a.name_utf8 = &s.utf8;
  if (a.header.has_name() &&
      std::size_t{a.header.name_offset} + std::size_t{a.header.name_length} * 2 <= a.header.length) {
    if (!uni::utf16_to_utf8(a.bytes.subspan(a.header.name_offset, std::size_t{a.header.name_length} * 2), s.utf8)) {
      s.utf8.clear();
    }
  }
  if (a.header.resident_value_fits()) a.value = a.bytes.subspan(a.header.value_offset, a.header.value_length);

  const std::uint32_t type = a.header.type;
  a.key = make_attr_key(has_own_key_type(type) ? type : 0xFFFFFFFFu, a.header.id);
  ++record.parsed_attribute_count;

  switch (type) {
    case attribute_type::standard_information:
      file_standard_information(record, a);
      return false;
    case attribute_type::attribute_list:
      return true;  // followed by the caller once the record is walked
    case attribute_type::file_name:
      file_file_name(record, context, a);
      return false;
    case attribute_type::object_id:
      file_object_id(record, a, file_attribute(record, a, keep_resident, s.extents));
      return false;
    case attribute_type::volume_name:
      file_volume_name(record, a, file_attribute(record, a, keep_resident, s.extents));
      return false;
    case attribute_type::volume_information:
      file_volume_information(record, a, file_attribute(record, a, keep_resident, s.extents));
      return false;
    case attribute_type::data: {
      file_attribute(record, a, keep_resident, s.extents);
      if (a.name_utf8->empty()) {
        record.has_unnamed_data = true;
      } else if (context.include_zone_info && *a.name_utf8 == "Zone.Identifier") {
        take_zone_identifier(record, context, a);
      }
      return false;
    }
    case attribute_type::index_root:
      file_index_root(record, a);
      file_attribute(record, a, keep_resident, s.extents);
      return false;
    case attribute_type::reparse_point: {
      if (!parse_reparse(record, a, s.reparse_wide, s.reparse_utf8)) return false;
      attr_record* filed = file_attribute(record, a, keep_resident, s.extents);
      if (filed) filed->description = s.reparse_utf8;
      return false;
    }
    default:
      file_attribute(record, a, keep_resident, s.extents);
      return false;
  }
}

namespace {

void set_root_counts(mft_record& record) {
  // A name's root count is the number of distinct directories the record is
  // linked into; above 1 it marks a file hard-linked across directories.
  const auto roots = static_cast<std::uint32_t>(std::max<std::size_t>(record.parents.size(), 1));
  for (const auto& name : record.file_names) const_cast<file_name_entry&>(name).root_count = roots;
}

}  // namespace

namespace {

enum class raw_read { unreadable, rejected, bad, good };

raw_read read_and_fix(std::vector<std::uint8_t>& buffer, record_context& context, entry_number entry,
                      read_intent intent, record_header* header) {
  if (!context.source || !context.ensure_record_size()) return raw_read::unreadable;
  buffer.resize(context.record_size);
  if (!context.source->read_record(entry, buffer, intent)) return raw_read::unreadable;
  fixup_mismatch mismatch;
  switch (apply_fixups(buffer, header, &mismatch)) {
    case fixup_result::applied:
      return raw_read::good;
    case fixup_result::bad_record:
      if (context.log && mismatch.expected != mismatch.found) {
        context.log->write("err: entry %llu update sequence at byte %zu: expected %04x, found %04x",
                           static_cast<unsigned long long>(entry), mismatch.tail_offset, mismatch.expected,
                           mismatch.found);
      } else if (context.log) {
        context.log->write("err: fixup_mft type: BAAD");
      }
      return raw_read::bad;
    case fixup_result::rejected:
      return raw_read::rejected;
  }
  return raw_read::rejected;
}

}  // namespace

bool read_raw_record(std::vector<std::uint8_t>& buffer, bool& bad, record_context& context, entry_number entry,
                     read_intent intent, record_header* header) {
  const raw_read result = read_and_fix(buffer, context, entry, intent, header);
  bad = result == raw_read::bad;
  return result == raw_read::good || result == raw_read::bad;
}

void decode_extents_logged(support::diagnostics_log* log, entry_number entry, const attribute_view& attribute,
                           extent_list& extents) {
  run_list_problem problem;
  if (decode_extents(attribute.bytes, extents, &problem) || !log) return;
  log->write("err: entry %llu attribute type 0x%x at byte %zu: run list entry at byte %zu: %s, %zu runs kept",
             static_cast<unsigned long long>(entry), attribute.header.type, attribute.offset, problem.offset,
             problem.what, extents.size());
}

void log_attribute_walk_end(support::diagnostics_log* log, entry_number entry, const attribute_cursor& cursor) {
  if (!log || !cursor.damaged()) return;
  const attribute_fault fault = cursor.stop_reason();
  const char* bound = fault == attribute_fault::zero_length       ? "more than "
                      : fault == attribute_fault::past_record_end ? "at most "
                                                                  : "";
  log->write("err: entry %llu attribute at byte %zu: %s: expected %s%llu, found %llu",
             static_cast<unsigned long long>(entry), cursor.stop_offset(), attribute_fault_text(fault), bound,
             static_cast<unsigned long long>(cursor.expected()), static_cast<unsigned long long>(cursor.actual()));
}

std::uint32_t parse_record_bytes(mft_record& record, record_context& context, entry_number entry,
                                 std::span<const std::uint8_t> bytes, bool keep_resident,
                                 const record_header* header) {
  record.entry = entry;
  record.header = header ? *header : parse_record_header(bytes);
  record.header_bytes.fill(0);
  std::memcpy(record.header_bytes.data(), bytes.data(), std::min(bytes.size(), record.header_bytes.size()));
  record.sequence = record.header.sequence_number;
  if (record.header.is_extension()) {
    record.is_extension = true;
    record.base_reference = record.header.base_record;
  }
  const std::size_t first = record.header.first_attribute_offset;
  if (first == 0) return 0;

  // Attribute lists are followed after the walk, in the order found. A
  // record size not yet known bounds an attribute by the smallest record.
  attribute_view lists[16];
  std::size_t list_count = 0;
  attribute_cursor cursor(bytes, first, context.record_size_known ? context.record_size : 1024);
  attribute_view attribute;
  while (cursor.next(attribute)) {
    const bool is_list = dispatch_attribute(record, context, entry, entry, attribute, keep_resident);
    if (is_list && list_count < std::size(lists)) lists[list_count++] = attribute;
  }
  log_attribute_walk_end(context.log, entry, cursor);
  for (std::size_t i = 0; i < list_count; ++i) follow_attribute_list(record, context, entry, lists[i], keep_resident);
  set_root_counts(record);
  return record.parsed_attribute_count;
}

bool read_file_record(mft_record& record, record_context& context, entry_number entry, bool keep_resident,
                      read_intent intent) {
  record.reset();
  record_header header;
  const raw_read result = read_and_fix(record.raw, context, entry, intent, &header);
  if (result == raw_read::unreadable || result == raw_read::rejected || record.raw.empty()) {
    if (!context.log) return false;
    context.log->write("err: mftfixup %llx", static_cast<unsigned long long>(entry));
    const header_fault fault = result == raw_read::rejected ? find_header_fault(record.raw) : header_fault{};
    if (fault.field) {
      context.log->write("err: entry %llu %s at byte %zu: expected %s, found 0x%x",
                         static_cast<unsigned long long>(entry), fault.field, fault.offset, fault.expected,
                         fault.found);
    }
    return false;
  }
  if (result == raw_read::bad) {
    if (context.log) context.log->write("err: recd bad %llx", static_cast<unsigned long long>(entry));
    return false;
  }
  parse_record_bytes(record, context, entry, record.raw, keep_resident, &header);
  return true;
}

}  // namespace ntfs
