// The selection filters: deleted-only and inode pre-test, the time window,
// the OR group (stream and file sizes, wildcards, names, directories,
// inodes, extensions, object id), the content tests and the time warning.
#pragma once

#include <string>
#include <vector>
#include <string_view>

#include "walk/filter_settings.h"
#include "walk/selection_filter.h"

namespace walk {

class record_filters final : public selection_filter {
 public:
  // Until a volume is opened (an extracted $MFT), non-resident data cannot
  // be read and content tests on it count as matched.
  // `hexadecimal`: entry numbers in notes as "0x" hex, else decimal.
  record_filters(const filter_settings& settings, bool hexadecimal);

  primary_verdict primary_test(const ntfs::record_header& header, ntfs::entry_number entry) override;
  bool has_or_filters() const override { return m_has_or_filters; }
  bool has_content_items() const override { return !m_settings.content.empty(); }
  bool and_logic() const override { return m_settings.and_logic; }
  bool time_window_test(const ntfs::mft_record& record, output::entry_result& result) override;
  bool path_test(const ntfs::mft_record& record, output::entry_result& result) override;
  bool content_test(const ntfs::mft_record& record, output::entry_result& result) override;
  void anomaly_check(const ntfs::mft_record& record, output::entry_result& result) override;
  // Directory and file paths become directory-inode and inode items.
  void volume_opened(ntfs::ntfs_volume& volume, ntfs::record_context& context) override;
  std::unique_ptr<selection_filter> clone() const override;

  // The scans switch these between walks.
  void set_deleted_only(bool on) { m_settings.deleted_only = on; }
  void set_and_logic(bool on) { m_settings.and_logic = on; }

 private:
  bool stream_size_test(const ntfs::mft_record& record) const;
  bool size_test(const ntfs::mft_record& record) const;
  bool wildcard_test(const ntfs::mft_record& record);
  bool name_test(const ntfs::mft_record& record);
  bool directory_inode_test(const ntfs::mft_record& record);
  bool directory_path_test(const ntfs::mft_record& record);
  bool inode_test(const ntfs::mft_record& record);
  bool extension_test(const ntfs::mft_record& record);
  bool object_id_test(const ntfs::mft_record& record);
  // The first of the record's named streams that `item` names, or empty.
  std::string_view stream_named_in(const ntfs::mft_record& record, const inode_item& item);
  void compose_notes(output::entry_result& result) const;

  filter_settings m_settings;  // a copy: paths are turned into entries once a volume is open
  bool m_hexadecimal;
  bool m_has_or_filters;
  // Notes of the current record, composed in their fixed order.
  std::string m_type_note;
  std::string m_pattern_note;
  std::string m_dir_note;
  std::string m_inode_note;
  std::string m_ext_note;
  std::string m_name_note;
  // Streams named by the inode filter item that matched, for extraction.
  const std::set<std::string>* m_filter_streams = nullptr;
  std::string m_lower;  // reused lower-casing buffer
  // First bytes of the record's data streams, for the content items.
  ntfs::cluster_source* m_clusters = nullptr;
  std::size_t m_header_bytes = 0;
  std::vector<std::vector<std::uint8_t>> m_headers;
  std::string m_lower_path;
};

}  // namespace walk
