#include "walk/walk_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace walk {

bool walk_run::open_source() {
  if (source_ready()) return true;
  m_records = ntfs::record_context{};
  m_records.future_limit = m_settings.future_limit;
  m_records.csv_per_path = m_settings.csv_per_path;
  m_records.include_zone_info = m_settings.include_zone_info;
  m_records.log = m_log;
  if (!m_settings.mft_file_path.empty()) {
    errno = 0;
    if (!m_mft_file.open(m_settings.mft_file_path)) {
      m_failure = errno != 0 ? std::strerror(errno) : "cannot be opened";
      return false;
    }
    m_records.source = &m_mft_file;
    m_actions.set_clusters(nullptr);
    m_owners.volume_opened(nullptr);
  } else if (!m_settings.volume_path.empty() || m_settings.drive_number != 0xFFFFFFFF ||
             !m_settings.vmdk_chain.empty()) {
    errno = 0;
    if (!m_settings.vmdk_chain.empty()) {
      m_volume_bytes = std::make_unique<storage::disk_reader>(storage::vmdk_chain_paths{m_settings.vmdk_chain});
    } else if (m_settings.volume_path.empty()) {
      m_volume_bytes = std::make_unique<storage::disk_reader>(storage::physical_drive{m_settings.drive_number});
    } else {
      m_volume_bytes = std::make_unique<storage::disk_reader>(m_settings.volume_path);
    }
    if (!m_volume_bytes->is_open()) {
      m_failure = !m_volume_bytes->failure().empty() ? m_volume_bytes->failure()
                  : errno != 0                        ? std::strerror(errno)
                                                      : "cannot be opened";
      return false;
    }
    m_volume = std::make_unique<ntfs::ntfs_volume>(*m_volume_bytes, m_settings.volume_offset, m_log);
    if (!m_volume->validate()) {
      m_volume.reset();
      m_failure = "no usable NTFS volume: its boot sector (cluster or record size) or its MFT cannot be read";
      return false;
    }
    m_records.source = m_volume.get();
    m_records.clusters = m_volume.get();
    m_actions.set_clusters(m_volume.get());
    if (m_settings.owner_sid || m_settings.record_dump) m_owners.volume_opened(m_volume.get());
    m_filter.volume_opened(*m_volume, m_records);
  } else {
    m_failure = "no input source";
    return false;
  }
  return true;
}

void walk_run::close_source() {
  // Bytes the results rest on that the source could not deliver: the run
  // goes on with zeros in their place, and says so.
  const std::uint64_t unreadable = close_source_quietly();
  if (unreadable > 0) {
    std::fprintf(stderr, "warning: %llu unreadable grains/sectors read as zeros\n",
                 static_cast<unsigned long long>(unreadable));
    if (m_log) {
      m_log->write("warning: %llu unreadable grains/sectors read as zeros in %s",
                   static_cast<unsigned long long>(unreadable), m_volume_path_text.c_str());
    }
  }
}

std::uint64_t walk_run::close_source_quietly() {
  std::uint64_t unreadable = m_unreadable_elsewhere;
  m_unreadable_elsewhere = 0;
  if (m_volume_bytes) {
    unreadable += m_volume_bytes->unreadable_count();
    m_volume_path_text = m_volume_bytes->narrow_path();
  }
  m_mft_file.close();
  m_actions.set_clusters(nullptr);
  m_volume.reset();
  m_volume_bytes.reset();
  m_records.source = nullptr;
  m_records.clusters = nullptr;
  m_records.record_size_known = false;
  m_records.extension_entry = ~0ULL;
  return unreadable;
}

}  // namespace walk
