#include "walk/file_extraction.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ntfs/record_header.h"
#include "support/console.h"
#include "support/digest_text.h"
#include "support/interrupt_cleanup.h"
#include "support/utf.h"
#include "walk/extraction_names.h"

namespace walk {

namespace {

constexpr const char* catchall_folder = "catchall";
constexpr ntfs::entry_number bad_clusters_entry = 8;  // $BadClus
constexpr std::size_t index_block_bytes = 4096;

// Writes a stream to an open file and feeds every byte to the digests. A
// write error is remembered, not returned: the read goes on to its end so
// that the digests of the stream are still complete.
//
// For an $INDEX_ALLOCATION stream read as the volume presents it, each
// 4096-byte index block ("INDX") gets its update-sequence fixups, so the
// copy shows the entries as NTFS reads them rather than the sector tails
// as stored.
class file_sink final : public ntfs::stream_sink {
 public:
  file_sink(int descriptor, support::digest_set& digests, bool index_fixups)
      : m_descriptor(descriptor), m_digests(digests), m_index_fixups(index_fixups) {}

  bool write(std::span<const std::uint8_t> bytes) override {
    if (!m_index_fixups) {
      deliver(bytes);
      return true;
    }
    while (!bytes.empty()) {
      const std::size_t take = std::min(bytes.size(), index_block_bytes - m_fill);
      std::memcpy(m_block.data() + m_fill, bytes.data(), take);
      m_fill += take;
      bytes = bytes.subspan(take);
      if (m_fill == index_block_bytes) {
        ntfs::apply_fixups(m_block);  // leaves anything but an INDX block as it is
        deliver(m_block);
        m_fill = 0;
      }
    }
    return true;
  }

  // A sparse run becomes a hole in the copy: the file offset moves on and
  // nothing is written, so the copy takes no more space than the volume
  // gave the stream. The digests still see the zeros.
  bool hole(std::uint64_t length_bytes) override {
    if (m_index_fixups) return ntfs::stream_sink::hole(length_bytes);
    std::uint64_t left = length_bytes;
    while (left > 0) {
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left, m_zeros.size()));
      m_digests.update(std::span<const std::uint8_t>(m_zeros.data(), take));
      left -= take;
    }
    if (m_error == 0 && ::lseek(m_descriptor, static_cast<off_t>(length_bytes), SEEK_CUR) < 0) m_error = errno;
    m_hole_at_end = true;
    return true;
  }

  // Passes on a last, partial index block as it is; a hole at the end of
  // the file is given its length.
  void finish() {
    if (m_fill > 0) deliver(std::span<const std::uint8_t>(m_block.data(), m_fill));
    m_fill = 0;
    if (m_hole_at_end && m_error == 0) {
      const off_t end = ::lseek(m_descriptor, 0, SEEK_CUR);
      if (end < 0 || ::ftruncate(m_descriptor, end) != 0) m_error = errno;
    }
  }

  int error() const { return m_error; }

 private:
  void deliver(std::span<const std::uint8_t> bytes) {
    m_hole_at_end = false;
    m_digests.update(bytes);
    const std::uint8_t* at = bytes.data();
    std::size_t left = bytes.size();
    while (m_error == 0 && left > 0) {
      const ssize_t written = ::write(m_descriptor, at, left);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        m_error = written < 0 ? errno : ENOSPC;
        break;
      }
      at += written;
      left -= static_cast<std::size_t>(written);
    }
  }

  int m_descriptor;
  support::digest_set& m_digests;
  bool m_index_fixups;
  std::array<std::uint8_t, index_block_bytes> m_block{};
  std::size_t m_fill = 0;
  int m_error = 0;
  bool m_hole_at_end = false;
  std::array<std::uint8_t, 1 << 16> m_zeros{};
};

// The name the copy carries: the record's first long name, else its DOS
// name, else the text the layouts show for a record without names.
std::string_view record_name(const ntfs::mft_record& record) {
  for (const auto& name : record.file_names) {
    if (!name.is_dos_name) return name.name_utf8;
  }
  for (const auto& name : record.file_names) return name.name_utf8;
  return "<no filename attribute>";
}

const char* state_folder(const ntfs::mft_record& record, const output::entry_result& result) {
  if (result.unallocated) return "deleted-unalloc";
  return record.header.in_use() ? "valid" : "deleted-mft";
}

void close_descriptor(int& descriptor) {
  if (descriptor >= 0) ::close(descriptor);
  descriptor = -1;
}

}  // namespace

void note_damage(support::diagnostics_log* log, ntfs::entry_number entry, const ntfs::attr_record& attribute) {
  if (!log) return;
  log->write("info: inode 0x%llx stream '%s' [%s]: extents past the end of the volume skipped as damaged",
             static_cast<unsigned long long>(entry), attribute.name_utf8.c_str(), attribute.label.data());
}

file_extraction::file_extraction(const extraction_settings& settings, support::diagnostics_log* log)
    : m_settings(settings), m_log(log) {
  if (settings.instance != 0xFFFFFFFF) m_temporary_name = std::to_string(settings.instance);
  m_temporary_name.append("__temp__.bin");
}

file_extraction::~file_extraction() { close_descriptor(m_root); }

bool file_extraction::wanted(const ntfs::attr_record& attribute, const std::set<std::string>* filter_streams) {
  if (!attribute.has_content()) return false;
  if (filter_streams && attribute.named_stream) {
    uni::utf8_to_lower(attribute.name_utf8, m_lower);
    if (filter_streams->count(m_lower)) return true;
  }
  // $BadClus:$Bad is a sparse stream as long as the volume that maps the
  // bad clusters: copied only when named.
  if (attribute.read_under_entry == bad_clusters_entry && attribute.name_utf8 == "$Bad") return false;
  switch (m_settings.choice) {
    case copy_choice::all:
      return true;
    case copy_choice::named:
      return !attribute.name_utf8.empty();
    case copy_choice::unnamed_data:
      break;
  }
  return attribute.data_attribute && !attribute.named_stream && attribute.label == "unnamed data";
}

void file_extraction::report_failure(const char* what, const std::string& path, int error) {
  support::console_message("%s %s: %s\n", what, path.c_str(), std::strerror(error));
  if (m_log) m_log->write("%s %s: %s", what, path.c_str(), std::strerror(error));
}

bool file_extraction::open_root() {
  if (m_root >= 0) return true;
  if (m_root_failed) return false;
  m_root = ::open(m_settings.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (m_root < 0) {
    m_root_failed = true;  // said once; every later copy fails the same way
    report_failure("prob opening results directory", m_settings.folder, errno);
    return false;
  }
  return true;
}

int file_extraction::create_temporary() {
  constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int descriptor = ::openat(m_root, m_temporary_name.c_str(), flags, 0644);
  if (descriptor < 0 && errno == EEXIST) {
    // Left by an interrupted run, or planted: the entry itself goes (unlink
    // never follows a link) and the file is made afresh.
    if (::unlinkat(m_root, m_temporary_name.c_str(), 0) == 0) {
      descriptor = ::openat(m_root, m_temporary_name.c_str(), flags, 0644);
    } else {
      errno = EEXIST;
    }
  }
  if (descriptor < 0) {
    report_failure("prob creating temporary file", m_settings.folder + "/" + m_temporary_name, errno);
  } else {
    m_interrupt_slot = support::remove_on_interrupt(m_settings.folder + "/" + m_temporary_name);
  }
  return descriptor;
}

void file_extraction::remove_temporary() {
  ::unlinkat(m_root, m_temporary_name.c_str(), 0);
  support::forget_on_interrupt(m_interrupt_slot);
  m_interrupt_slot = -1;
}

int file_extraction::open_folder(int parent, const std::string& name) {
  if (::mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST) return -1;
  return ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool file_extraction::publish(int folder, const std::string& name) {
  // The name holds the content's digest, so a file already there is this
  // content copied before (by an earlier record or another instance).
  if (::renameat2(m_root, m_temporary_name.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0) return true;
  int error = errno;
  if (error == EEXIST) return true;
  if (error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP) {
    // No RENAME_NOREPLACE on this file system: a hard link never replaces
    // an existing name either.
    if (::linkat(m_root, m_temporary_name.c_str(), folder, name.c_str(), 0) == 0) return true;
    error = errno;
    if (error == EEXIST) return true;
  }
  report_failure("prob naming extracted file", name, error);
  return false;
}

bool file_extraction::copy(const ntfs::mft_record& record, const ntfs::attr_record& attribute,
                           const output::entry_result& result, ntfs::stream_reader* reader,
                           const ntfs::stream_read_options& options, support::digest_set& digests,
                           std::string& path_out) {
  path_out.clear();
  const ntfs::attribute_header& header = attribute.header;
  std::span<const std::uint8_t> resident;
  if (!header.non_resident) {
    const std::uint64_t from = header.value_offset, length = header.value_length;
    if (from + length > attribute.raw.size()) {
      digests.abandon();
      return false;
    }
    resident = attribute.raw.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(length));
  } else if (!reader) {
    digests.abandon();  // clusters an extracted $MFT does not hold
    return false;
  }
  if (!open_root()) {
    digests.abandon();
    return false;
  }
  int descriptor = create_temporary();
  if (descriptor < 0) {
    digests.abandon();
    return false;
  }

  const bool index_fixups = header.type == ntfs::attribute_type::index_allocation && !options.raw;
  file_sink sink(descriptor, digests, index_fixups);
  bool read = true;
  if (header.non_resident) {
    read = reader->read(attribute, sink, options);
  } else {
    sink.write(resident);
  }
  sink.finish();
  if (header.non_resident && reader->cut_at_damage()) note_damage(m_log, record.entry, attribute);
  int write_error = sink.error();
  if (::close(descriptor) != 0 && write_error == 0) write_error = errno;
  if (!read) {
    digests.abandon();
    remove_temporary();
    if (m_log) {
      m_log->write("extract: inode 0x%llx stream '%s' [%s] unreadable, not copied",
                   static_cast<unsigned long long>(record.entry), attribute.name_utf8.c_str(), attribute.label.data());
    }
    return false;
  }
  digests.finish();
  if (write_error != 0) {
    // A full disk or an I/O error ends the run (see write_failed()).
    m_write_error = write_error;
    m_write_path = m_settings.folder + "/" + m_temporary_name;
    remove_temporary();
    return false;
  }

  const char* state = state_folder(record, result);
  int state_descriptor = open_folder(m_root, state);
  if (state_descriptor < 0) {
    report_failure("prob creating results directory", m_settings.folder + "/" + state, errno);
    remove_temporary();
    return false;
  }
  safe_folder_name(result.filter_folder.empty() ? std::string_view(catchall_folder) : result.filter_folder,
                   m_folder_name);
  int folder = open_folder(state_descriptor, m_folder_name);
  if (folder < 0) {
    m_folder_name = catchall_folder;
    folder = open_folder(state_descriptor, m_folder_name);
  }
  close_descriptor(state_descriptor);
  if (folder < 0) {
    report_failure("prob creating results directory", m_settings.folder + "/" + state + "/" + m_folder_name, errno);
    remove_temporary();
    return false;
  }

  char hex[33];
  const std::string_view md5 = digests.md5_value() ? support::digest_hex(*digests.md5_value(), hex) : std::string_view();
  const ntfs::std_info_entry* info = record.standard_information();
  copy_name_parts parts;
  parts.modified = info ? info->times.modification : 0;
  parts.md5_hex = md5;
  parts.name = record_name(record);
  parts.stream = attribute.name_utf8;
  parts.label = attribute.label;
  parts.bin_suffix = !m_settings.keep_extension;
  compose_copy_name(parts, m_name);

  const bool done = publish(folder, m_name);
  close_descriptor(folder);
  remove_temporary();
  if (!done) return false;
  path_out.assign(m_settings.folder).append("/").append(state).append("/").append(m_folder_name).append("/").append(m_name);
  return true;
}

}  // namespace walk
