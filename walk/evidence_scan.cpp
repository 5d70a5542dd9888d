#include "walk/evidence_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ntfs/directory_index.h"
#include "ntfs/path_resolver.h"
#include "ntfs/record_reader.h"
#include "output/composite_text.h"
#include "support/byte_reader.h"

namespace walk {

namespace {

// Journal bytes are read this many at a time; a record cut by the end of a
// piece (at most 64 KiB) is carried to the front of the next.
constexpr std::size_t journal_piece_bytes = 1 << 20;
constexpr std::size_t journal_carry_bytes = ntfs::usn_maximum_length;
constexpr std::uint32_t default_indx_bytes = 4096;

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

const ntfs::attr_record* journal_stream(const ntfs::mft_record& record) {
  for (const auto& attribute : record.attributes) {
    if (attribute.data_attribute && attribute.name_utf8 == "$J") return &attribute;
  }
  return nullptr;
}

}  // namespace

void evidence_scan::damaged(const char* what, std::uint64_t offset) {
  if (support::diagnostics_log* log = m_run.log()) {
    log->write("err: damaged %s at byte 0x%llx, skipped", what, static_cast<unsigned long long>(offset));
  }
}

bool evidence_scan::selected(std::string_view name, const ntfs::four_times* times, std::uint64_t filetime) {
  if (m_filters.window_set()) {
    const auto inside = [this](std::uint64_t t) { return t >= m_filters.window_start && t <= m_filters.window_stop; };
    const bool hit = times ? inside(times->creation) || inside(times->modification) || inside(times->mft_change) ||
                                 inside(times->access)
                           : inside(filetime);
    if (!hit) return false;
  }
  if (m_filters.names.empty() && m_filters.extensions.empty()) return true;
  uni::utf8_to_lower(name, m_lower);
  for (const auto& item : m_filters.names) {
    if (item.partial ? m_lower.find(item.text) != std::string::npos : m_lower == item.text) return true;
  }
  const std::string_view extension = output::extension_of(m_lower);
  for (const auto& wanted : m_filters.extensions) {
    if (extension == wanted) return true;
  }
  return false;
}

// The parent's path as the MFT gives it today, whatever sequence number it
// carries now, and whether that is still the one the row recorded.
void evidence_scan::resolve_parent(ntfs::file_reference parent, const char* kind, output::evidence_row& row) {
  row.parent_path = {};
  row.parent_known = false;
  row.path_source = m_mft ? "orphan" : kind;
  if (!m_mft) return;
  auto found = m_sequences.find(parent.entry());
  if (found == m_sequences.end()) {
    bool bad = false;
    ntfs::record_header header;
    std::uint16_t sequence = 0;
    if (ntfs::read_raw_record(m_record_buffer, bad, m_run.records(), parent.entry(), ntfs::read_intent::random,
                              &header)) {
      sequence = header.sequence_number;
    }
    found = m_sequences.emplace(parent.entry(), sequence).first;
  }
  bool ok = false;
  m_path.assign(ntfs::resolved_parent_path(ntfs::file_reference::make(parent.entry(), 0), m_run.records(),
                                           m_run.paths(), ok));
  row.parent_path = m_path;
  row.parent_known = found->second != 0;
  row.parent_sequence_now = found->second;
  if (row.parent_known && parent.sequence() != 0 && parent.sequence() != found->second) {
    row.path_source = "parent_reused";
  } else if (ok) {
    row.path_source = kind;
  }
}

void evidence_scan::report_usn(const ntfs::usn_record& record) {
  if (!selected(record.name_utf8, nullptr, record.timestamp)) return;
  output::evidence_row row;
  row.usn = &record;
  resolve_parent(record.parent, "usn", row);
  m_writer.write(row, m_run.stream());
}

void evidence_scan::report_slack(const ntfs::slack_entry& entry, ntfs::entry_number directory) {
  if (!selected(entry.key.name_utf8, &entry.key.times, 0)) return;
  output::evidence_row row;
  row.slack = &entry;
  row.directory = directory;
  resolve_parent(directory == 0 ? entry.key.parent : ntfs::file_reference::make(directory, 0), "slack", row);
  m_writer.write(row, m_run.stream());
}

// Moving entries down when one is removed, and splitting or joining nodes,
// leaves several copies of one entry in slack, and copies of entries that are
// still live. Each stale entry is reported once; a copy of a live entry (same
// name, and the same file when the slack copy still holds its reference) is
// not evidence of anything.
void evidence_scan::report_new_slack(const std::vector<ntfs::slack_entry>& slack,
                                     const std::vector<ntfs::index_child>* live, ntfs::entry_number directory) {
  // By name, so that a large folder costs a hash lookup per entry.
  std::unordered_multimap<std::string_view, ntfs::file_reference> live_by_name;
  if (live) {
    for (const ntfs::index_child& child : *live) live_by_name.emplace(child.name_utf8, child.reference);
  }
  std::unordered_multimap<std::string_view, const ntfs::slack_entry*> seen;
  for (const ntfs::slack_entry& entry : slack) {
    const std::string_view name = entry.key.name_utf8;
    bool repeated = false;
    for (auto [at, end] = seen.equal_range(name); at != end && !repeated; ++at) {
      const ntfs::slack_entry& other = *at->second;
      repeated = other.key.parent == entry.key.parent && other.key.times == entry.key.times &&
                 (other.reference == entry.reference || other.reference.is_none() || entry.reference.is_none());
    }
    bool still_live = false;
    for (auto [at, end] = live_by_name.equal_range(name); at != end && !still_live; ++at) {
      still_live = entry.reference.is_none() || at->second == entry.reference;
    }
    seen.emplace(name, &entry);
    if (!repeated && !still_live) report_slack(entry, directory);
  }
}

bool evidence_scan::journal_rows(const evidence_settings& settings) {
  m_mft = m_run.open_source() && m_run.source_ready();
  if (!settings.journal_file.empty()) return file_journal(settings.journal_file);
  if (settings.journal && !m_run.volume()) {
    std::fputs("-usnjrnl reads the journal of a volume (-image, -drivenum, -partition, -vmdk); "
               "use -usnfile for an extracted $J\n", stderr);
    return false;
  }
  return settings.journal && volume_journal();
}

bool evidence_scan::file_journal(const std::string& path) {
  file_handle file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    std::fprintf(stderr, "prob opening %s for reading\n", path.c_str());
    return false;
  }
  std::vector<std::uint8_t> buffer(journal_carry_bytes + journal_piece_bytes);
  std::size_t carry = 0;
  std::uint64_t buffer_offset = 0;  // stream offset of buffer[0]
  for (;;) {
    const std::size_t read = std::fread(buffer.data() + carry, 1, journal_piece_bytes, file.get());
    const bool last = read < journal_piece_bytes;
    const std::span<const std::uint8_t> bytes(buffer.data(), carry + read);
    const std::size_t used = ntfs::scan_usn_records(
        bytes, buffer_offset, last, m_usn, [this](const ntfs::usn_record& r) { report_usn(r); },
        [this](std::uint64_t offset) { damaged("change journal record", offset); });
    carry = bytes.size() - used;
    std::memmove(buffer.data(), buffer.data() + used, carry);
    buffer_offset += used;
    if (last) break;
  }
  return true;
}

bool evidence_scan::volume_journal() {
  ntfs::ntfs_volume* volume = m_run.volume();
  if (!volume) return false;
  ntfs::directory_lookup lookup(*volume, m_run.records());
  ntfs::path_lookup found;
  ntfs::mft_record record;
  const ntfs::attr_record* stream = nullptr;
  if (lookup.find("\\$Extend\\$UsnJrnl", found) && ntfs::read_file_record(record, m_run.records(), found.entry, true)) {
    stream = journal_stream(record);
  }
  if (!stream) {
    std::fputs("the volume has no change journal ($Extend\\$UsnJrnl:$J)\n", stderr);
    if (m_run.log()) m_run.log()->write("info: the volume has no change journal ($Extend\\$UsnJrnl:$J)");
    return false;
  }
  const auto on_record = [this](const ntfs::usn_record& r) { report_usn(r); };
  const auto on_damage = [this](std::uint64_t offset) { damaged("change journal record", offset); };
  if (!stream->header.non_resident) {
    const ntfs::attribute_header& header = stream->header;
    if (header.resident_value_fits() && std::size_t{header.value_offset} + header.value_length <= stream->raw.size()) {
      ntfs::scan_usn_records(stream->raw.subspan(header.value_offset, header.value_length), 0, true, m_usn, on_record,
                             on_damage);
    }
    return true;
  }
  // Only the clusters behind the stream are read: sparse extents (the hole
  // in front of the oldest record) are skipped without a read.
  const std::uint64_t length = std::min(stream->header.real_size, stream->header.initialized_size);
  const std::uint64_t cluster_bytes = volume->cluster_size();
  const std::size_t piece_bytes = std::max<std::size_t>(journal_piece_bytes, cluster_bytes);
  std::vector<std::uint8_t> buffer(journal_carry_bytes + piece_bytes);
  std::size_t carry = 0;
  std::uint64_t next_vcn = ~0ULL;  // where the bytes in `buffer` end, in clusters
  for (const ntfs::cluster_extent& extent : stream->extents) {
    if (extent.sparse || extent.vcn != next_vcn) carry = 0;  // a record never spans a hole
    next_vcn = extent.vcn + extent.count;
    if (extent.sparse) continue;
    const std::uint64_t start = extent.vcn * cluster_bytes;
    const std::uint64_t end = std::min(next_vcn * cluster_bytes, length);
    for (std::uint64_t at = start; at < end; at += piece_bytes) {
      const std::uint64_t wanted = std::min<std::uint64_t>(piece_bytes, end - at);
      const std::uint64_t clusters = (wanted + cluster_bytes - 1) / cluster_bytes;
      const std::span<std::uint8_t> target(buffer.data() + carry, clusters * cluster_bytes);
      if (!volume->read_clusters(extent.lcn + (at - start) / cluster_bytes, target)) {
        damaged("change journal clusters", at);
        carry = 0;
        break;
      }
      const bool last = at + wanted >= length;
      const std::span<const std::uint8_t> bytes(buffer.data(), carry + wanted);
      const std::size_t used = ntfs::scan_usn_records(bytes, at - carry, last, m_usn, on_record, on_damage);
      carry = bytes.size() - used;
      std::memmove(buffer.data(), buffer.data() + used, carry);
    }
  }
  return true;
}

bool evidence_scan::slack_rows(const evidence_settings& settings) {
  m_mft = m_run.open_source() && m_run.source_ready();
  if (!settings.index_file.empty()) return file_slack(settings.index_file);
  return settings.index_slack && volume_slack();
}

bool evidence_scan::volume_slack() {
  ntfs::ntfs_volume* volume = m_run.volume();
  if (!volume) return false;
  const std::vector<bool>& directories = m_run.directories_met();
  ntfs::mft_record record;
  std::vector<ntfs::index_child> live;
  std::vector<ntfs::slack_entry> slack;
  for (ntfs::entry_number directory = 0; directory < directories.size(); ++directory) {
    if (!directories[directory]) continue;
    if (!ntfs::read_file_record(record, m_run.records(), directory, true) || !record.header.in_use() ||
        !record.header.is_directory()) {
      continue;
    }
    live.clear();
    slack.clear();
    ntfs::for_each_index_node(*volume, record, [&](std::span<const std::uint8_t> bytes, std::size_t node_offset) {
      ntfs::parse_index_node(bytes, node_offset, live);
      ntfs::find_slack_entries(bytes, node_offset, slack);
    });
    report_new_slack(slack, &live, directory);
  }
  return true;
}

bool evidence_scan::file_slack(const std::string& path) {
  file_handle file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    std::fprintf(stderr, "prob opening %s for reading\n", path.c_str());
    return false;
  }
  std::vector<std::uint8_t> block(default_indx_bytes);
  // The block size follows from the first block's update-sequence count:
  // one entry per 512-byte stride, plus the check value.
  if (std::fread(block.data(), 1, 8, file.get()) == 8 && std::memcmp(block.data(), "INDX", 4) == 0) {
    support::byte_reader r(block);
    const std::uint32_t strides = r.le16(ntfs::record_offset::update_sequence_count);
    if (strides >= 2 && strides <= 129) block.resize((strides - 1) * 512u);
  }
  std::rewind(file.get());
  // The whole index first, so that slack copies of entries live in any
  // block are known as such.
  std::vector<ntfs::index_child> live;
  std::vector<ntfs::slack_entry> slack;
  std::uint64_t offset = 0;
  while (std::fread(block.data(), 1, block.size(), file.get()) == block.size()) {
    if (std::memcmp(block.data(), "INDX", 4) != 0 || ntfs::apply_fixups(block) != ntfs::fixup_result::applied) {
      damaged("INDX block", offset);
    } else {
      ntfs::parse_index_node(block, ntfs::indx_node_header, live);
      ntfs::find_slack_entries(block, ntfs::indx_node_header, slack);
    }
    offset += block.size();
  }
  report_new_slack(slack, &live, 0);
  return true;
}

}  // namespace walk
