// Copying streams of accepted records into the results folder
// (-action_copy_files).
//
// Layout below the folder: <state>/<filter>/<name>, where the state is
// "valid", "deleted-mft" (a record not in use) or "deleted-unalloc" (a
// record carved from free clusters), the filter folder is named after the
// filter that accepted the record (see output::entry_result::filter_folder)
// and the name is built by compose_copy_name().
//
// A stream is read once: into a temporary file "<folder>/[N]__temp__.bin"
// (N: the instance number of a split run) while its digests are computed;
// the temporary file then gets its final name, which holds the MD5 digest.
//
// The folder is an examiner's working area and the names come from the
// evidence, so:
//  - every file and folder is created relative to an open folder descriptor
//    (openat/mkdirat), with O_NOFOLLOW and O_EXCL: a symbolic link planted in
//    the folder, at the temporary name or as a state or filter folder, is
//    never followed;
//  - the final name never replaces an existing file (renameat2 with
//    RENAME_NOREPLACE, or link + unlink where that is not supported); an
//    existing file of that name means the same content was copied before,
//    since the name holds the digest, and counts as done;
//  - a failed write (a full disk, an I/O error) removes the temporary file
//    and is kept in write_failed(): the run ends with it. A temporary file
//    is also removed when the run is interrupted (SIGINT, SIGTERM).
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "ntfs/mft_record.h"
#include "ntfs/stream_reader.h"
#include "output/entry_result.h"
#include "support/diagnostics_log.h"
#include "support/digest_set.h"
#include "walk/extraction_settings.h"

namespace walk {

// Notes in the log that a stream was cut at an extent past the volume.
void note_damage(support::diagnostics_log* log, ntfs::entry_number entry, const ntfs::attr_record& attribute);

class file_extraction {
 public:
  file_extraction(const extraction_settings& settings, support::diagnostics_log* log);
  ~file_extraction();
  file_extraction(const file_extraction&) = delete;
  file_extraction& operator=(const file_extraction&) = delete;

  bool enabled() const { return m_settings.enabled; }
  // The first write to an extracted file that failed: its path and error.
  bool write_failed() const { return m_write_error != 0; }
  int write_error() const { return m_write_error; }
  const std::string& write_path() const { return m_write_path; }
  void set_log(support::diagnostics_log* log) { m_log = log; }

  // Whether `attribute` of an accepted record is to be copied: a stream
  // named by the inode filter item that selected the record (lower-cased
  // names in `filter_streams`), else as -all, -named_data or the default
  // choose. Empty streams are never copied.
  bool wanted(const ntfs::attr_record& attribute, const std::set<std::string>* filter_streams);

  // Copies one stream of `record` and fills `path_out` with the full path
  // of the file (emptied when nothing was written). `reader` is null when
  // the source has no clusters (an extracted $MFT): only resident values can
  // be copied then. `digests` must have been started with MD5 chosen; it is
  // fed every byte and finished after a complete read, abandoned otherwise.
  // True when the file exists under its final name afterwards.
  bool copy(const ntfs::mft_record& record, const ntfs::attr_record& attribute, const output::entry_result& result,
            ntfs::stream_reader* reader, const ntfs::stream_read_options& options, support::digest_set& digests,
            std::string& path_out);

 private:
  bool open_root();
  int create_temporary();
  void remove_temporary();
  // Creates (when missing) and opens the folder `name` inside `parent`
  // without following a link; -1 on failure.
  int open_folder(int parent, const std::string& name);
  bool publish(int folder, const std::string& name);
  void report_failure(const char* what, const std::string& path, int error);

  const extraction_settings& m_settings;
  support::diagnostics_log* m_log;
  int m_root = -1;                 // the results folder, opened once
  bool m_root_failed = false;
  std::string m_temporary_name;    // relative to the results folder
  int m_interrupt_slot = -1;
  int m_write_error = 0;
  std::string m_write_path;
  std::string m_name;              // reused buffers
  std::string m_folder_name;
  std::string m_lower;
};

}  // namespace walk
