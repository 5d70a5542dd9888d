#include "output/path_list_writer.h"

#include <cstring>

#include "ntfs/path_resolver.h"
#include "output/line_break_markers.h"

namespace output {

void path_list_writer::write(const entry_result& result, results_stream& stream) {
  const ntfs::mft_record& record = *result.record;
  if (record.is_extension || record.header.is_directory()) return;
  static const std::size_t root_length = std::strlen(ntfs::path_root_text);
  for (const auto& name : record.file_names) {
    if (name.is_dos_name) continue;
    const ntfs::parent_link* link = record.parents.find(name.parent.value);
    if (!link || link->path_corrupted) continue;
    const std::string_view path = link->parent_path;
    if (path.find(ntfs::path_corrupted_text) != std::string::npos) continue;
    const std::size_t skip = path.compare(0, root_length, ntfs::path_root_text) == 0 ? root_length : 0;
    m_line.clear();
    append_with_markers(m_line, path.substr(skip));
    append_with_markers(m_line, name.name_utf8);
    m_line.push_back('\n');
    stream.buffer().append(m_line);
    stream.line_done();
  }
}

}  // namespace output
