#include "walk/time_warning.h"

namespace walk {

namespace {

constexpr std::uint64_t one_day_ticks = 864000000000ULL;  // 100 ns units

// The long name sharing a DOS name's directory.
const ntfs::file_name_entry* long_name_beside(const ntfs::mft_record& record, const ntfs::file_name_entry& dos) {
  for (const auto& name : record.file_names) {
    if (!name.is_dos_name && name.parent == dos.parent) return &name;
  }
  return nullptr;
}

}  // namespace

void time_warning(const ntfs::mft_record& record, std::string& text) {
  text.clear();
  const ntfs::std_info_entry* info = record.standard_information();
  if (!info) {
    if (!record.is_extension) {
      text = "si:time absent";
    } else if (record.file_names.empty()) {
      text = "fn:time absent";
    }
    return;
  }
  if (record.file_names.empty()) {
    text = "fn:time absent";
    return;
  }
  if (info->anomaly.flagged) {
    text.append("si:time ").append(info->anomaly.text);
    return;
  }
  for (const auto& name : record.file_names) {
    if (name.anomaly.flagged) {
      text.append("fn:time ").append(name.anomaly.text);
      return;
    }
    if (name.is_dos_name) {
      const ntfs::file_name_entry* long_name = long_name_beside(record, name);
      if (long_name && long_name->times.access != name.times.access) {
        text = "fnSL:time diff";
        return;
      }
    }
    // a + one day < b, written so that neither side can overflow.
    const auto more_than_a_day_before = [](std::uint64_t a, std::uint64_t b) {
      return b > one_day_ticks && a < b - one_day_ticks;
    };
    if (more_than_a_day_before(info->times.creation, name.times.creation) &&
        more_than_a_day_before(info->times.mft_change, name.times.mft_change)) {
      text = "**:time warning";
      return;
    }
  }
}

}  // namespace walk
