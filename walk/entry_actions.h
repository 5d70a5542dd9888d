// What is computed from an accepted record's data before it is written:
// digests of its unnamed stream, the text of its first bytes, and its owner.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ntfs/cluster_source.h"
#include "ntfs/mft_record.h"
#include "ntfs/stream_reader.h"
#include "output/entry_result.h"
#include "support/diagnostics_log.h"
#include "support/digest_set.h"
#include "walk/digest_pipeline.h"
#include "walk/extraction_settings.h"
#include "walk/file_extraction.h"

namespace walk {

struct action_settings {
  bool md5 = false;
  bool sha1 = false;
  bool sha256 = false;
  bool raw = false;          // allocated size, compressed units as stored
  bool skip_sparse = false;  // sparse runs add nothing
  bool header_bytes = false;
  bool header_strings = false;
  std::uint32_t header_length = 0;  // bytes
  extraction_settings extraction;   // -action_copy_files
  bool overlap_digests = false;     // digest long streams on a helper thread while reading them
  bool any_digest() const { return md5 || sha1 || sha256; }
};

class entry_actions {
 public:
  // `log` receives the extraction failures.
  explicit entry_actions(const action_settings& settings, support::diagnostics_log* log = nullptr)
      : m_settings(settings), m_extraction(settings.extraction, log), m_log(log) {}

  // Clusters of the open volume; null for an extracted $MFT, where only
  // resident streams can be read.
  void set_clusters(ntfs::cluster_source* clusters);

  // Copies the chosen streams out (-action_copy_files), then fills the
  // result's digests and header text from `record`. A stream is read once:
  // when the unnamed stream is copied, the digests of that read are the
  // ones reported.
  void apply(const ntfs::mft_record& record, output::entry_result& result);

  // Reads `attribute` into the chosen digests; false (and no digest) when
  // the stream is empty or cannot be read.
  bool hash_stream(const ntfs::attr_record& attribute);
  const support::digest_set& digests() const { return m_digests; }

  // An extracted file could not be written (the run ends with it).
  bool write_failed() const { return m_extraction.write_failed(); }
  const file_extraction& extraction() const { return m_extraction; }

 private:
  // Copies the streams extraction wants; true when the unnamed stream was
  // read whole on the way (its digests are then in the result).
  bool extract_streams(const ntfs::mft_record& record, const ntfs::attr_record* unnamed,
                       output::entry_result& result);
  ntfs::stream_read_options read_options() const;

  const action_settings& m_settings;
  file_extraction m_extraction;
  support::diagnostics_log* m_log;
  std::string m_path;  // of the file just extracted
  ntfs::cluster_source* m_clusters = nullptr;
  std::unique_ptr<ntfs::stream_reader> m_reader;
  support::digest_set m_digests;
  std::unique_ptr<digest_pipeline> m_pipeline;  // made for the first long stream
  std::vector<std::uint8_t> m_header;
};

}  // namespace walk
