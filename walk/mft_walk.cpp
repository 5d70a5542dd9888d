#include "walk/mft_walk.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ntfs/cluster_source.h"
#include "support/byte_reader.h"

#include "ntfs/record_reader.h"
#include "support/console.h"
#include "support/progress_pacer.h"
#include "walk/entry_analysis.h"
#include "walk/threaded_walk.h"

namespace walk {

namespace {

// Size in bytes of the MFT's own unnamed $DATA, from entry 0.
std::uint64_t mft_data_size(walk_run& run, ntfs::mft_record& record) {
  if (!ntfs::read_file_record(record, run.records(), 0, false, ntfs::read_intent::random)) return 0;
  for (const auto& attribute : record.attributes) {
    if (attribute.header.type != ntfs::attribute_type::data) continue;
    return attribute.header.non_resident ? attribute.header.real_size : attribute.header.value_length;
  }
  return 0;
}

struct walk_plan {
  std::uint64_t entry_count = 0;      // entries the MFT's own $DATA holds
  std::uint64_t source_entries = 0;   // entries the source file holds (extracted $MFT)
};

// Opens the source, empties the path cache, and counts
// the entries from the $MFT record itself.
bool prepare(walk_run& run, ntfs::mft_record& record, walk_plan& plan) {
  if (!run.open_source() || !run.source_ready()) return false;
  run.paths().clear();
  const std::uint64_t data_size = mft_data_size(run, record);
  if (data_size == 0) {
    if (run.bare_mft_source() && run.source_size_bytes() == 0) {
      run.set_failure("the file is empty");
    } else {
      run.set_failure("MFT record 0 ($MFT itself) is not a readable file record with a $DATA size");
    }
    return false;
  }
  const std::uint32_t record_size = run.records().record_size;
  plan.entry_count = data_size / record_size;
  // On a volume the records the MFT's run list really maps cap the count:
  // a damaged $DATA size must not send the walk through billions of entries.
  plan.source_entries = run.bare_mft_source() ? run.source_size_bytes() / record_size
                                              : std::min(plan.entry_count, run.records().source->record_capacity());
  return true;
}

// Reads a span of free clusters for carving. When the span cannot be read
// whole (a bad sector, a short device), it is read again one record slot
// at a time and the slots that fail are zeroed, so that a bad sector costs
// the slot it lies in and nothing more. Returns the bytes usable from the
// front of `span` (short only at the end of the volume).
std::size_t read_free_span(ntfs::ntfs_volume& volume, std::uint64_t offset_bytes, std::vector<std::uint8_t>& span,
                           std::uint32_t record_size, support::diagnostics_log* log) {
  std::size_t got = span.size();
  if (volume.read_at(offset_bytes, span.data(), got) && got == span.size()) return got;
  std::size_t usable = 0;
  for (std::size_t slot = 0; slot + record_size <= span.size(); slot += record_size) {
    std::size_t length = record_size;
    if (volume.read_at(offset_bytes + slot, span.data() + slot, length) && length == record_size) {
      usable = slot + record_size;
      continue;
    }
    std::fill_n(span.begin() + static_cast<std::ptrdiff_t>(slot), record_size, std::uint8_t{0});
    if (log) log->write("err: unreadable bytes at volume offset 0x%llx skipped", static_cast<unsigned long long>(offset_bytes + slot));
    usable = slot + record_size;
  }
  return usable;
}

void show_progress(const walk_settings& settings, support::progress_pacer& pacer, std::uint64_t entry,
                   std::uint64_t count) {
  // The clock is asked every 53 entries, or 13 when header bytes make each
  // entry slower.
  const std::uint64_t interval = settings.header_bytes ? 13 : 53;
  if (!settings.progress || entry % interval != 0 || !pacer.due()) return;
  support::progress_line("analyzing entry %llu of %llu", static_cast<unsigned long long>(entry),
                         static_cast<unsigned long long>(count));
}

// Ends a walk: results out, source closed (a later walk opens it afresh),
// progress line cleared.
bool finish_walk(walk_run& run) {
  run.stream().flush();
  run.close_source();
  if (run.settings().progress) support::clear_progress_line();
  return true;
}

// Calls visit(from, to) for each chunk of [start, end) this walk claims,
// then reports the chunk done. Once visit() says stop, the chunks still
// claimed are reported with nothing in them: each must be answered.
template <typename Visit>
void walk_claimed_chunks(const walk_settings& settings, std::uint64_t start, std::uint64_t end, Visit visit) {
  const std::uint64_t size = settings.chunk_entries;
  const std::uint64_t span = end > start ? end - start : 0;
  const std::uint64_t chunks = span / size + (span % size != 0);
  bool more = true;
  std::uint64_t chunk = 0;
  while (settings.chunk_claim(chunk)) {
    if (more && chunk < chunks) {
      const std::uint64_t from = start + chunk * size;
      more = visit(from, end - from > size ? from + size : end);
    }
    if (!settings.chunk_done(chunk)) return;
  }
}

}  // namespace

bool mft_range_walk(walk_run& run) {
  ntfs::mft_record record;
  output::entry_result result;
  walk_plan plan;
  support::progress_pacer pacer;
  if (!prepare(run, record, plan)) {
    run.close_source();
    return false;
  }
  // An extracted file may be shorter or longer than its own $DATA says;
  // walk what the file holds.
  plan.entry_count = plan.source_entries;
  const walk_settings& settings = run.settings();
  const std::uint64_t start = settings.start_entry;
  // A count past the largest entry number ends at the end of the MFT.
  const std::uint64_t end = settings.entry_count == 0 ? plan.entry_count : start + std::min(settings.entry_count, ~start);
  support::diagnostics_log* log = run.log();
  if (log) {
    log->write("range of inodes to analyze: %llu -> %llu", static_cast<unsigned long long>(start),
               static_cast<unsigned long long>(end));
  }
  if (settings.chunk_entries != 0) {
    walk_claimed_chunks(settings, start, end, [&](std::uint64_t from, std::uint64_t to) {
      for (std::uint64_t entry = from; entry < to; ++entry) {
        if (run.output_failed()) return false;
        if (log) log->write("-------------------------------");
        if (!range_walk_entry(run, record, result, entry, plan.entry_count)) return false;
      }
      return true;
    });
    return finish_walk(run);
  }
  if (start < end && threaded_walk_possible(run, end - start) && threaded_range_walk(run, start, end, plan.entry_count)) {
    return finish_walk(run);
  }
  for (std::uint64_t entry = start; entry < end && !run.output_failed(); ++entry) {
    if (log) log->write("-------------------------------");
    show_progress(settings, pacer, entry, plan.entry_count);
    if (!range_walk_entry(run, record, result, entry, plan.entry_count)) break;
  }
  return finish_walk(run);
}

bool inode_set_walk(walk_run& run, const std::set<ntfs::entry_number>& entries) {
  ntfs::mft_record record;
  output::entry_result result;
  walk_plan plan;
  support::progress_pacer pacer;
  if (!prepare(run, record, plan)) {
    run.close_source();
    return false;
  }
  const std::uint64_t count = std::min(plan.entry_count, plan.source_entries);
  const walk_settings& settings = run.settings();
  const std::uint64_t first = settings.set_within_range ? settings.start_entry : 0;
  const std::uint64_t last =
      settings.set_within_range && settings.entry_count != 0 ? first + std::min(settings.entry_count, ~first) : ~0ULL;
  const auto visit = [&](ntfs::entry_number entry) {
    show_progress(run.settings(), pacer, entry, count);
    bool bad = false;
    ntfs::record_header header;
    if (!read_entry(run, record, entry, bad, header, false)) return;
    if (analyze_entry(run, record, result, entry, header)) {
      // The set walk always reports where each record lies.
      result.record_offset = entry * run.records().record_size;
      run.report(result);
    }
  };
  if (settings.chunk_entries != 0) {
    walk_claimed_chunks(settings, first, std::min(last, count), [&](std::uint64_t from, std::uint64_t to) {
      for (auto it = entries.lower_bound(from); it != entries.end() && *it < to; ++it) {
        if (run.output_failed()) return false;
        visit(*it);
      }
      return true;
    });
    return finish_walk(run);
  }
  for (const ntfs::entry_number entry : entries) {
    if (entry >= count || entry >= last || run.output_failed()) break;  // ascending: nothing further
    if (entry < first) continue;
    visit(entry);
  }
  return finish_walk(run);
}

bool unallocated_cluster_walk(walk_run& run) {
  if (!run.open_source() || !run.source_ready()) return false;
  run.paths().clear();
  ntfs::ntfs_volume* volume = run.volume();
  if (!volume) {
    run.set_failure("free clusters can only be scanned on a volume, not in an extracted $MFT");
    run.close_source();
    return false;
  }
  // $Bitmap: bit n (least significant first) set means cluster n is in use.
  std::vector<std::uint8_t> bitmap;
  if (!ntfs::read_plain_stream(*volume, volume->bitmap_extents(), volume->bitmap_size_bytes(), bitmap) ||
      bitmap.empty()) {
    run.set_failure("the cluster bitmap ($Bitmap) cannot be read");
    run.close_source();
    return false;
  }
  const walk_settings& settings = run.settings();
  const std::uint64_t cluster_bytes = volume->cluster_size();
  const std::uint32_t record_size = volume->mft_record_size();
  // Carved records are parsed with the volume's record size, not the
  // 1024-byte default, so a 4096-byte record keeps its later attributes.
  run.records().ensure_record_size();
  const std::uint64_t cluster_count = std::uint64_t{bitmap.size()} * 8;
  const auto in_use = [&](std::uint64_t cluster) { return (bitmap[cluster / 8] >> (cluster % 8)) & 1; };

  // Free clusters are read in runs of up to 4 MiB, then scanned in memory.
  constexpr std::uint64_t run_limit_bytes = 4u << 20;
  const std::uint64_t run_limit = std::max<std::uint64_t>(1, run_limit_bytes / cluster_bytes);
  std::vector<std::uint8_t> span_bytes;
  support::progress_pacer pacer;
  ntfs::mft_record record;
  output::entry_result result;
  std::uint64_t cluster = 0;
  while (record_size != 0 && cluster < cluster_count && !run.output_failed()) {
    if (in_use(cluster)) {
      ++cluster;
      continue;
    }
    std::uint64_t end = cluster + 1;
    while (end < cluster_count && end - cluster < run_limit && !in_use(end)) ++end;
    if (settings.progress) {
      for (std::uint64_t c = cluster; c < end; ++c) {
        if (c % 153 != 0) continue;
        if (!pacer.due()) break;
        support::progress_line("analyzing entry %lld of %lld", static_cast<long long>(c),
                               static_cast<long long>(cluster_count));
        break;
      }
    }
    span_bytes.resize(static_cast<std::size_t>((end - cluster) * cluster_bytes));
    const std::size_t got = read_free_span(*volume, cluster * cluster_bytes, span_bytes, record_size, run.log());
    // Records lie at multiples of their size from the volume's start: whole
    // records per cluster, or (records larger than clusters) a record every
    // few clusters.
    const std::uint64_t first_slot = (record_size - cluster * cluster_bytes % record_size) % record_size;
    for (std::uint64_t slot = first_slot; slot + record_size <= got; slot += record_size) {
      const std::uint8_t* bytes = span_bytes.data() + slot;
      const bool file = std::memcmp(bytes, "FILE", 4) == 0;
      if (!file && std::memcmp(bytes, "BAAD", 4) != 0) continue;
      record.reset();
      record.raw.assign(bytes, bytes + record_size);
      ntfs::record_header header;
      if (ntfs::apply_fixups(record.raw, &header) == ntfs::fixup_result::rejected) continue;
      support::byte_reader r(record.raw);
      const std::uint32_t stored = r.le32(ntfs::record_offset::record_number);
      const ntfs::entry_number entry = header.update_sequence_offset == 48 ? stored : ~0ULL;
      if (analyze_entry(run, record, result, entry, header)) {
        result.unallocated = true;
        result.source_label = "NTFS:UNALLOC";
        result.record_offset =
            settings.record_offset ? volume->volume_start() + cluster * cluster_bytes + slot : 0;
        run.report(result);
      }
    }
    cluster = end;
  }
  finish_walk(run);
  return true;
}

std::uint64_t mft_entry_count(walk_run& run) {
  ntfs::mft_record record;
  walk_plan plan;
  const bool prepared = prepare(run, record, plan);
  run.close_source();
  return prepared ? plan.source_entries : 0;
}

}  // namespace walk
