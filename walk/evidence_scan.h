// The scans that run after the MFT walk and report what the MFT no longer
// holds: the records of the change journal ($Extend\$UsnJrnl:$J on the
// volume, or an extracted $J file) and the directory-index entries left in
// the slack of every directory's "$I30" index (or of an extracted INDX
// stream). Parent paths are resolved through the MFT of the run's source.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ntfs/directory_index.h"
#include "output/evidence_writer.h"
#include "walk/evidence_settings.h"
#include "walk/filter_settings.h"
#include "walk/walk_run.h"

namespace walk {

class evidence_scan {
 public:
  evidence_scan(walk_run& run, const filter_settings& filters, output::evidence_writer& writer)
      : m_run(run), m_filters(filters), m_writer(writer) {}

  // One row per record of the journal; false when there is none to read.
  bool journal_rows(const evidence_settings& settings);
  // One row per entry found in index slack; false when there is nothing to read.
  bool slack_rows(const evidence_settings& settings);

 private:
  void report_usn(const ntfs::usn_record& record);
  void report_slack(const ntfs::slack_entry& entry, ntfs::entry_number directory);
  void report_new_slack(const std::vector<ntfs::slack_entry>& slack, const std::vector<ntfs::index_child>* live,
                        ntfs::entry_number directory);
  void resolve_parent(ntfs::file_reference parent, const char* kind, output::evidence_row& row);
  bool selected(std::string_view name, const ntfs::four_times* times, std::uint64_t filetime);
  bool volume_journal();
  bool file_journal(const std::string& path);
  bool volume_slack();
  bool file_slack(const std::string& path);
  void damaged(const char* what, std::uint64_t offset);

  walk_run& m_run;
  const filter_settings& m_filters;
  output::evidence_writer& m_writer;
  bool m_mft = false;  // a source of MFT records is open for the paths
  std::string m_path;  // the parent path of the row being written
  std::string m_lower;
  std::vector<std::uint8_t> m_record_buffer;
  std::unordered_map<ntfs::entry_number, std::uint16_t> m_sequences;  // parent entry -> sequence now; 0: unreadable
  ntfs::usn_record m_usn;
};

}  // namespace walk
