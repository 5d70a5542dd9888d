#include "walk/entry_analysis.h"

#include "ntfs/record_reader.h"

namespace walk {

namespace {

// A parent chain that broke at once, at a parent entry that is neither the
// directory named (it carries another sequence number, a deleted one's
// lowered by the one its deletion added) nor unreadable.
bool parent_entry_reused(walk_run& run, ntfs::file_reference parent) {
  if (parent.sequence() == 0) return false;
  std::vector<std::uint8_t> buffer;
  bool bad = false;
  ntfs::record_header header;
  if (!ntfs::read_raw_record(buffer, bad, run.records(), parent.entry(), ntfs::read_intent::random, &header)) {
    return false;
  }
  std::uint16_t sequence = header.sequence_number;
  if (!header.in_use() && sequence != 0) --sequence;
  return sequence != parent.sequence();
}

}  // namespace

void register_directory(walk_run& run, const ntfs::mft_record& record) {
  if (!record.header.is_directory() || record.header.kind != ntfs::record_kind::file) return;
  // Carved records carry no usable entry number: only entries inside the
  // MFT are kept for the slack scan.
  ntfs::record_source* source = run.records().source;
  std::vector<bool>& met = run.directories_met();
  if (source && record.entry < source->record_capacity()) {
    if (record.entry >= met.size()) met.resize(record.entry + 1);
    met[record.entry] = true;
  }
  run.paths().remember_directory(record);
}

bool analyze_entry(walk_run& run, ntfs::mft_record& record, output::entry_result& result, ntfs::entry_number entry,
                   const ntfs::record_header& header) {
  result.reset();
  result.record = &record;
  result.source_label = run.settings().source_label;
  const std::span<const std::uint8_t> bytes = record.raw;
  if (bytes.empty() || header.first_attribute_offset > bytes.size()) return false;

  selection_filter& filter = run.filter();
  const primary_verdict primary = filter.primary_test(header, entry);
  if (!primary.passed) {
    if (!filter.has_content_items() && !filter.has_or_filters()) return false;
    if (filter.and_logic()) return false;
  }
  const bool primary_hit = primary.passed && primary.hit;

  // The smallest usable record: the header plus one attribute header.
  if (std::size_t{header.first_attribute_offset} + 72 > bytes.size()) return false;
  if (ntfs::parse_record_bytes(record, run.records(), entry, bytes, false, &header) == 0) return false;

  register_directory(run, record);

  if (!filter.time_window_test(record, result)) return false;

  // Every name gets the path of its own parent directory.
  run.paths().start_record();
  for (const auto& link : record.parents) {
    auto& writable = const_cast<ntfs::parent_link&>(link);
    bool ok = false;
    writable.parent_path = ntfs::resolved_parent_path(link.parent, run.records(), run.paths(), ok);
    writable.path_corrupted = !ok;
    writable.parent_reused = !ok && parent_entry_reused(run, link.parent);
  }

  bool filter_hit = false;
  if (!filter.path_test(record, result)) {
    if (!(primary_hit && !filter.and_logic())) {
      if (filter.and_logic() || !filter.has_content_items()) return false;
    }
  } else {
    filter_hit = filter.has_or_filters();
  }

  if (!filter.content_test(record, result)) {
    if ((!primary_hit && !filter_hit) || filter.and_logic()) return false;
  }
  filter.anomaly_check(record, result);
  return true;
}

bool read_entry(walk_run& run, ntfs::mft_record& record, ntfs::entry_number entry, bool& bad,
                ntfs::record_header& header, bool log_failure) {
  record.reset();
  if (!ntfs::read_raw_record(record.raw, bad, run.records(), entry, ntfs::read_intent::sequential, &header) ||
      record.raw.empty()) {
    if (log_failure && run.log()) run.log()->write("err: mftfixup %llx", static_cast<unsigned long long>(entry));
    return false;
  }
  return true;
}

bool range_walk_entry(walk_run& run, ntfs::mft_record& record, output::entry_result& result, ntfs::entry_number entry,
                      std::uint64_t entry_count) {
  bool bad = false;
  ntfs::record_header header;
  // Past the end of the MFT nothing more can be read.
  if (!read_entry(run, record, entry, bad, header)) return entry < entry_count;
  support::diagnostics_log* log = run.log();
  if (bad && log) log->write("mft entry %llu has bad filerecord", static_cast<unsigned long long>(entry));
  if (analyze_entry(run, record, result, entry, header)) {
    result.record_offset = run.settings().record_offset ? entry * run.records().record_size : 0;
    run.report(result);
  }
  return true;
}

}  // namespace walk
