// Everything one scan needs, owned by the run driver and borrowed by the
// walks: what to walk, where records come from, how they are selected and
// where the results go.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ntfs/mft_file_source.h"
#include "ntfs/ntfs_volume.h"
#include "walk/entry_actions.h"
#include "walk/owner_lookup.h"
#include "storage/disk_reader.h"
#include "ntfs/path_resolver.h"
#include "ntfs/record_reader.h"
#include "output/record_writer.h"
#include "support/diagnostics_log.h"
#include "walk/selection_filter.h"

namespace walk {

struct walk_settings {
  uni::wide_string mft_file_path;     // extracted $MFT source
  uni::wide_string volume_path;       // image, device or partition holding the volume
  std::uint32_t drive_number = 0xFFFFFFFF;  // physical drive holding the volume; all ones: none
  std::vector<uni::wide_string> vmdk_chain;  // VMware disk and snapshots holding the volume
  std::uint64_t volume_offset = 0;    // bytes from the start of that source to the volume
  std::uint64_t start_entry = 0;
  std::uint64_t entry_count = 0;      // 0: up to the last entry
  bool set_within_range = false;      // the inode-set walk keeps to the range above (a split run's slice)
  bool progress = true;
  bool header_bytes = false;          // read the first bytes of each stream
  std::uint32_t header_length = 0;    // bytes
  bool record_offset = false;         // -filerecord_offset
  bool csv_per_path = false;
  bool include_zone_info = false;
  std::uint64_t future_limit = 0;     // FILETIME; run start plus one hour
  const char* source_label = "";
  action_settings actions;            // digests and header bytes of accepted records
  bool owner_sid = false;             // look up each record's owner SID
  bool record_dump = false;           // -find_mft: owner and group from $Secure
  // Threads of the range walk; 1 keeps every step on the calling thread.
  unsigned threads = 1;
  // A -cpu instance cuts the range into chunks of `chunk_entries` entries
  // and walks those that `chunk_claim` hands it (false: none left),
  // calling `chunk_done` with each once its entries are written (false
  // from it stops the walk). chunk_entries 0: the range is walked whole.
  std::uint64_t chunk_entries = 0;
  std::function<bool(std::uint64_t& chunk)> chunk_claim;
  std::function<bool(std::uint64_t chunk)> chunk_done;
};

class walk_run {
 public:
  walk_run(const walk_settings& settings, output::record_writer& writer, output::results_stream& stream,
           selection_filter& filter, support::diagnostics_log* log)
      : m_settings(settings), m_writer(writer), m_stream(stream), m_filter(filter), m_log(log),
        m_actions(settings.actions, log) {}

  const walk_settings& settings() const { return m_settings; }
  output::record_writer& writer() { return m_writer; }
  output::results_stream& stream() { return m_stream; }
  selection_filter& filter() { return m_filter; }
  support::diagnostics_log* log() { return m_log; }

  // Computes what the layout shows of an accepted record's data, then
  // writes its lines.
  void report(output::entry_result& result) {
    if (m_settings.record_dump) {
      m_owners.shared_owner_and_group(*result.record, result.owner_sid, result.group_sid);
    } else if (m_settings.owner_sid) {
      m_owners.owner_of(*result.record, result.owner_sid);
    }
    m_actions.apply(*result.record, result);
    m_writer.write(result, m_stream);
  }

  // Opens the source once; later calls return at once while it is open.
  // On failure, failure() says why.
  bool open_source();
  const std::string& failure() const { return m_failure; }
  void set_failure(std::string reason) { m_failure = std::move(reason); }
  // The results or an extracted file could not be written: the walk stops.
  bool output_failed() const { return m_stream.failed() || m_actions.write_failed(); }
  const file_extraction& extraction() const { return m_actions.extraction(); }
  bool source_ready() const { return m_mft_file.is_open() || (m_volume && m_volume->is_validated()); }
  void close_source();
  // An extracted $MFT: no clusters behind the records.
  bool bare_mft_source() const { return !m_volume; }
  std::uint64_t source_size_bytes() const { return m_mft_file.file_size_bytes(); }
  // The open volume, or null for an extracted $MFT.
  ntfs::ntfs_volume* volume() { return m_volume.get(); }

  // Makes another writer of the run's layout, for a walk thread. Without
  // one the walk keeps to one thread.
  using writer_factory = std::function<std::unique_ptr<output::record_writer>()>;
  void set_writer_factory(writer_factory factory) { m_writer_factory = std::move(factory); }
  const writer_factory& make_writer() const { return m_writer_factory; }
  // Shares what the open source of `from` has already learnt about the same
  // source (an extracted $MFT's extension-record index).
  void share_source_state(const walk_run& from) { m_mft_file.share_extension_index(from.m_mft_file); }
  // Unreadable grains or sectors met by another run over the same source,
  // reported with this run's own when the source closes.
  void add_unreadable(std::uint64_t count) { m_unreadable_elsewhere += count; }
  // Closes the source without a word about unreadable bytes; returns their
  // count for the run that reports them.
  std::uint64_t close_source_quietly();

  ntfs::record_context& records() { return m_records; }
  ntfs::path_cache& paths() { return m_paths; }
  // Replaces the path cache with an empty one of these sizes (entries).
  void resize_path_cache(std::size_t directories, std::size_t paths) { m_paths = ntfs::path_cache(directories, paths); }
  // Entry numbers of the directories the walk met, one bit each (a 10M
  // record MFT costs 1.25 MB), for the index-slack scan that follows.
  std::vector<bool>& directories_met() { return m_directories_met; }

 private:
  const walk_settings& m_settings;
  output::record_writer& m_writer;
  output::results_stream& m_stream;
  selection_filter& m_filter;
  support::diagnostics_log* m_log;
  entry_actions m_actions;
  owner_lookup m_owners;

  ntfs::mft_file_source m_mft_file;
  std::unique_ptr<storage::disk_reader> m_volume_bytes;
  std::unique_ptr<ntfs::ntfs_volume> m_volume;
  ntfs::record_context m_records;
  ntfs::path_cache m_paths;
  std::vector<bool> m_directories_met;
  std::string m_failure;
  writer_factory m_writer_factory;
  std::uint64_t m_unreadable_elsewhere = 0;
  std::string m_volume_path_text;  // of the source just closed, for its warning
};

}  // namespace walk
