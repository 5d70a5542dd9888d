#include "walk/walk_run.h"

namespace walk {

bool walk_run::open_source() {
  if (m_mft_file.is_open()) return true;
  if (m_settings.mft_file_path.empty() || !m_mft_file.open(m_settings.mft_file_path)) return false;
  m_records = ntfs::record_context{};
  m_records.source = &m_mft_file;
  m_records.future_limit = m_settings.future_limit;
  m_records.csv_per_path = m_settings.csv_per_path;
  m_records.include_zone_info = m_settings.include_zone_info;
  m_records.log = m_log;
  return true;
}

void walk_run::close_source() {
  m_mft_file.close();
  m_records.source = nullptr;
  m_records.record_size_known = false;
  m_records.extension_entry = ~0ULL;
}

}  // namespace walk
