// Names of extracted files and of the folders they are sorted into.
//
// Extracted file: the record's $STANDARD_INFORMATION modification time, its
// MD5 digest and its name, then the stream name and label:
//
//     2019_03_04_0506_07_089_<32 hex digits>_report.docx[.stream][_label][.bin]
//
// Everything here is built from names found on the volume under
// examination, so nothing may be trusted to be a harmless file name. Each
// byte that could leave the results folder or upset a shell or terminal
// becomes "_": "/" and "\" (path separators on Linux and Windows), NUL and
// the other control characters 0x01-0x1F, and DEL 0x7F. A folder name that
// is empty, "." or ".." becomes underscores. Names are cut to NAME_MAX
// (255 bytes) on a UTF-8 character boundary: a 255-unit NTFS name can take
// up to 765 bytes of UTF-8, more once the time and digest are put in front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace walk {

// Longest file or folder name most Linux file systems accept, in bytes.
inline constexpr std::size_t name_max_bytes = 255;

// Appends `filetime` (100-ns units since 1601, UTC) as
// "yyyy_mm_dd_hhmm_ss_mmm".
void append_copy_time(std::string& out, std::uint64_t filetime);

// Appends `text` with the unsafe bytes listed above replaced by "_".
void append_safe_bytes(std::string& out, std::string_view text);

// The longest prefix of `text` of at most `limit` bytes that does not end
// inside a UTF-8 sequence.
std::size_t utf8_cut(std::string_view text, std::size_t limit);

// A folder name made from a filter value: safe bytes, never empty, "." or
// "..", at most name_max_bytes long.
void safe_folder_name(std::string_view text, std::string& out);

// The folder text of a directory filter value: "\" and "/" become "-",
// blanks "_", ":" is dropped, and "[root]" goes in front of a path that
// starts with a separator ("\Users\Bob" gives "[root]-Users-Bob").
void directory_folder_text(std::string_view path, std::string& out);

struct copy_name_parts {
  std::uint64_t modified = 0;   // FILETIME
  std::string_view md5_hex;     // 32 lower-case hex digits
  std::string_view name;        // the record's file name (UTF-8)
  std::string_view stream;      // empty for the unnamed stream
  std::string_view label;       // "unnamed data" is left out of the name
  bool bin_suffix = true;       // ".bin" at the end
};

// The extracted file's name, safe and at most name_max_bytes long. When it
// would be longer, the file name and stream name are shortened (the longer
// one first) and the time, digest, label and ".bin" are kept whole.
void compose_copy_name(const copy_name_parts& parts, std::string& out);

}  // namespace walk
