#include "ntfs/mft_record.h"

namespace ntfs {

void mft_record::reset() {
  entry = 0;
  sequence = 0;
  header_bytes.fill(0);
  header = record_header{};
  raw.clear();
  has_attribute_list = false;
  has_nonresident_attribute_list = false;
  is_extension = false;
  base_reference = file_reference{0};
  std_info.clear();
  file_names.clear();
  parents.clear();
  names.clear();
  object_ids.clear();
  volume_names.clear();
  volume_information.clear();
  reparse_points.clear();
  index_roots.clear();
  attributes.clear();
  has_unnamed_data = false;
  zone.clear();
  parsed_attribute_count = 0;
}

std::size_t mft_record::non_dos_name_count() const {
  std::size_t count = 0;
  for (const auto& name : file_names) count += name.is_dos_name ? 0 : 1;
  return count;
}

const attr_record* mft_record::unnamed_data() const {
  for (const auto& attribute : attributes) {
    if (attribute.data_attribute && !attribute.named_stream) return &attribute;
  }
  return nullptr;
}

void build_names_table(mft_record& record) {
  record.names.clear();
  for (const auto& name : record.file_names) {
    if (name.is_dos_name) continue;
    name_index_entry& index = record.names.begin_insert();
    uni::utf8_to_wide(name.name_utf8, index.lower_name);
    uni::to_lower(index.lower_name);
    index.link_text = name.link_text;
    record.names.commit();
  }
}

const file_name_entry* best_file_name(const mft_record& record, entry_number entry) {
  if (record.file_names.size() == 1) return record.file_names.first();
  if (record.file_names.empty()) return nullptr;
  for (const auto& name : record.file_names) {
    if (!name.is_dos_name && name.read_under_entry == entry) return &name;
  }
  for (const auto& name : record.file_names) {
    if (!name.is_dos_name) return &name;
  }
  return nullptr;
}

}  // namespace ntfs
