// The option set of one run. `shared_options` holds the settings every tool of
// the family shares (output file, separators, date forms, console and
// diagnostics); `run_options` adds this program's source, scan range and
// output choices.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "output/cv_time.h"
#include "support/diagnostics_log.h"
#include "support/utf.h"
#include "walk/evidence_settings.h"
#include "walk/extraction_settings.h"
#include "walk/filter_settings.h"

namespace app {

// -threads takes at most this many; without it a run uses one thread per
// core, up to the cap.
inline constexpr std::uint32_t max_walk_threads = 64;
inline constexpr unsigned default_walk_threads_cap = 4;

class shared_options {
 public:
  shared_options() = default;
  shared_options(shared_options&&) = default;
  shared_options& operator=(shared_options&&) = default;
  virtual ~shared_options() = default;
  virtual void reset();

  std::string command_line;  // all arguments, blank-separated
  std::string program_name;  // without folder and extension

  std::string results_path;  // "\" turned into "/"
  bool results_named = false;
  bool append = false;

  std::string date_pattern = "yyyy-mm-dd";
  std::string time_pattern = "hh:mm:ss.xxx";
  std::uint16_t lowest_year = 1900;
  std::uint16_t highest_year = 2600;
  cv::datetime_format datetime{};

  std::string separator = " | ";
  char list_separators[2] = {'|', ';'};
  bool no_whitespace = false;
  bool blanks_around_separator = true;
  bool hexadecimal = true;
  bool pair_datetime = false;
  bool progress = true;
  bool quoted_fields = false;

  bool csv = false;
  bool csv_l2t = false;
  bool bodyfile = false;

  std::string host_name;
  std::string user_name;  // -username
  bool host_name_set = false;

  std::uint32_t instance_count = 0;
  std::uint32_t instance_number = 0xFFFFFFFF;
  // An instance of a merged -cpu run streams its results to the parent in
  // chunks of this many entries (0: it writes a results file of its own).
  std::uint64_t instance_chunk_entries = 0;
  bool instance_places_text = false;  // writes its text into the results file itself
  std::uint32_t threads = 0;       // -threads; 0: one per available core (see walk_thread_count)
  std::string temp_folder;         // -tempdir, "/"-separated
  bool separate_files = false;     // -separate_files: one results file per instance
  std::uint32_t fragment_count = 0;  // -fragment_files
  bool profile = false;

  std::string diagnostics_path;
  std::unique_ptr<support::diagnostics_log> diagnostics;

  std::string version_text;
  std::string source_label;
};

class run_options : public shared_options {
 public:
  void reset() override;

  // Input source.
  uni::wide_string mft_file_path;
  uni::wide_string volume_image_path;  // -image whose NTFS volume starts at offset 0
  uni::wide_string disk_image_path;    // -image of a disk holding the volume elsewhere
  uni::wide_string partition_path;     // -partition: one volume, e.g. a partition device
  uni::wide_string mounted_vmdk_path;  // -mounted_vmdk: the flat data file of a VMDK
  std::uint32_t drive_number = 0xFFFFFFFF;  // -drivenum; all ones: none
  std::vector<uni::wide_string> vmdk_given;  // -vmdk, as listed
  std::vector<uni::wide_string> vmdk_chain;  // those and the parents found for them
  std::string indx_file_path;               // -indxfile; kept, not a volume source
  std::string container_kind;  // "E01", "split raw", "VHDX", ... for an -image container; "" for a plain image
  std::vector<std::string> container_files;  // every file an -image container reads
  std::string image_details;   // what the container tells of its acquisition, one line ("" for none)
  int source_check = 0;                     // 0, or -3 when no source was given
  std::uint64_t volume_offset = 0;     // bytes
  bool offset_given = false;
  bool ignore_image_size = false;
  std::uint8_t source_kind = 255;  // 32: a partition, 35: a partition device, 36: an extracted $MFT file

  std::uint32_t record_size = 1024;  // bytes
  std::uint32_t sector_size = 512;   // bytes

  // Scan range.
  std::uint64_t start_entry = 0;
  std::uint64_t entry_count = 0;  // 0: all
  bool range_given = false;       // -mftstart or -mftrange

  // Output choices.
  bool per_path_csv = false;
  bool file_path_only = false;
  bool default_output = false;
  bool hash_list = false;
  bool hide_dos_times = false;
  bool record_offset = false;
  bool detailed_dump = false;  // -find_mft
  bool header_bytes = false;
  std::uint32_t header_offset = 0;
  std::uint32_t header_length = 0;  // bytes
  bool header_strings = false;      // show the header as the strings it holds
  bool time_anomaly_check = true;
  bool json_lines = false;           // -jsonl
  bool json_lines_timeline = false;  // -jsonl_timeline

  // Change journal and index slack after the MFT walk.
  walk::evidence_settings evidence;

  // Content: digests, how streams are read, and what is shown of them.
  bool hash_md5 = false;
  bool hash_sha1 = false;
  bool hash_sha256 = false;
  bool raw_read = false;           // -raw: allocated size, compressed units as stored
  bool skip_sparse = false;        // -skip_sparse_clusters
  bool include_zone_info = false;  // -action_include_zoneinfo
  bool include_owner_sid = false;  // -action_include_ownersid
  bool cluster_info = false;       // -action_include_clusterinfo
  bool plain_run = true;           // compact default layout
  bool hexdump = false;

  // File extraction (-action_copy_files).
  bool copy_files = false;
  uni::wide_string copy_folder;  // full path, created while parsing
  walk::copy_choice copy_streams = walk::copy_choice::unnamed_data;  // -all, -named_data, -normal_data
  bool keep_extension = false;   // -use_orig_ext
  bool regen_mft = false;        // -regen_mft; kept, no effect on this program's walk

  // Selection (filters and which scans run).
  walk::filter_settings filters;
  bool unallocated_scan = false;    // -filter_unalloc_clusters
  bool deleted_all_scan = false;    // -filter_deleted_files_all
  bool all_clusters_scan = false;   // -filter_all_clusters
  bool pipe = false;

  // Run state.
  uni::wide_string run_description;
  uni::wide_string wide_separator;
  uni::wide_string results_full_path;
  std::uint64_t start_filetime = 0;
  std::uint64_t anomaly_ceiling = 0;  // run start plus one hour
  std::string run_header;
};

// The parser's results.
inline constexpr int parse_ok = 0;
inline constexpr int parse_failed_reported = -1;
inline constexpr int parse_bad_command_line = -2;
inline constexpr int parse_no_source = -3;

}  // namespace app
