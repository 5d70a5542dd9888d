// EnCase / Expert Witness images (E01, Ex01, L01), read through libewf: the
// segment files are found from the first one by libewf's own naming rules
// (E01 .. E99, EAA .. ZZZ), and chunks are decompressed and checked there.
#include "storage/container_open.h"

#ifdef BRINDLE_WITH_LIBEWF

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <libewf.h>
#include <sys/stat.h>
#include <vector>

namespace storage {

namespace {

bool file_size(const std::string& path, std::uint64_t& size) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

// Which segment of a set numbered .E01, .E02, ... is at fault: the first
// one missing while a later one exists, or one before the last that is
// much shorter than the first (segments are written up to one size).
std::string damage_hint(const std::string& first) {
  const std::size_t digits = first.size() >= 2 ? first.size() - 2 : 0;
  std::uint64_t first_bytes = 0;
  if (first.size() < 4 || first[digits - 1] == '/' || !std::isdigit(static_cast<unsigned char>(first[digits])) ||
      !std::isdigit(static_cast<unsigned char>(first[digits + 1])) || !file_size(first, first_bytes)) {
    return "a segment missing, cut or corrupt, or a corrupt chunk table";
  }
  const auto name_of = [&](int number) {
    char two[3];
    std::snprintf(two, sizeof two, "%02d", number);
    return first.substr(0, digits) + two;
  };
  for (int number = 2; number < 99; ++number) {
    std::uint64_t bytes = 0;
    if (!file_size(name_of(number), bytes)) {
      std::uint64_t later = 0;
      if (file_size(name_of(number + 1), later)) return "segment " + name_of(number) + " is missing";
      break;
    }
    std::uint64_t next = 0;
    if (file_size(name_of(number + 1), next) && bytes < first_bytes / 10 * 9) {
      return "segment " + name_of(number) + " is cut: " + std::to_string(bytes) + " bytes";
    }
  }
  return "a segment missing, cut or corrupt, or a corrupt chunk table";
}

class ewf_image : public container_image {
 public:
  ~ewf_image() override {
    if (m_handle == nullptr) return;
    libewf_error_t* error = nullptr;
    libewf_handle_close(m_handle, &error);
    libewf_error_free(&error);
    libewf_handle_free(&m_handle, nullptr);
  }

  bool open(const std::string& path, std::string& failure) {
    libewf_error_t* error = nullptr;
    char** names = nullptr;
    int name_count = 0;
    if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &name_count, &error) != 1) {
      failure = path + ": " + library_error_text(error, libewf_error_sprint, libewf_error_free);
      return false;
    }
    m_member_files.assign(names, names + name_count);
    const bool opened = libewf_handle_initialize(&m_handle, &error) == 1 &&
                        libewf_handle_open(m_handle, names, name_count, LIBEWF_OPEN_READ, &error) == 1;
    libewf_glob_free(names, name_count, nullptr);
    size64_t media = 0;
    if (!opened || libewf_handle_get_media_size(m_handle, &media, &error) != 1) {
      failure = path + ": " + library_error_text(error, libewf_error_sprint, libewf_error_free);
      return false;
    }
    libewf_error_free(&error);  // a success may leave one behind, as libvhdi's do
    m_size_bytes = media;
    size32_t chunk = 0;
    if (libewf_handle_get_chunk_size(m_handle, &chunk, nullptr) == 1 && chunk > 0) m_chunk_bytes = chunk;
    libewf_handle_set_header_values_date_format(m_handle, LIBEWF_DATE_FORMAT_ISO8601, nullptr);
    // libewf opens a set with a segment missing or cut, or with a damaged
    // chunk table, and fails (or checks in vain) only when the chunks
    // concerned are read: the first and the last chunk tell at once.
    if (libewf_handle_segment_files_corrupted(m_handle, nullptr) == 1) {
      failure = path + ": the segment files are damaged (" + damage_hint(path) + ")";
      return false;
    }
    std::vector<std::uint8_t> probe(m_chunk_bytes);
    const std::uint64_t last = m_size_bytes > probe.size() ? m_size_bytes - probe.size() : 0;
    for (const std::uint64_t at : {std::uint64_t{0}, last}) {
      const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(probe.size(), m_size_bytes - at));
      if (length == 0) continue;
      const ssize_t got = libewf_handle_read_random(m_handle, probe.data(), length, static_cast<off64_t>(at), &error);
      if (got != static_cast<ssize_t>(length) || checksum_errors() > 0) {
        failure = path + ": the chunk at byte " + std::to_string(at) + " cannot be read (" + damage_hint(path) + ")";
        libewf_error_free(&error);
        return false;
      }
    }
    return true;
  }

  std::uint64_t unreadable_pieces() const override { return m_unreadable_pieces + checksum_errors(); }

  const char* kind_name() const override { return "E01"; }
  std::uint64_t size_bytes() const override { return m_size_bytes; }

  std::int64_t read_piece(std::uint64_t offset, std::uint8_t* target, std::size_t length) override {
    libewf_error_t* error = nullptr;
    const ssize_t got = libewf_handle_read_random(m_handle, target, length, static_cast<off64_t>(offset), &error);
    libewf_error_free(&error);
    return got;
  }
  std::size_t piece_bytes() const override { return m_chunk_bytes; }

  std::vector<std::pair<std::string, std::string>> metadata() const override {
    std::vector<std::pair<std::string, std::string>> values;
    static const std::pair<const char*, const char*> wanted[] = {{"case_number", "case number"},
                                                                 {"evidence_number", "evidence number"},
                                                                 {"examiner_name", "examiner"},
                                                                 {"acquiry_date", "acquired"},
                                                                 {"description", "description"}};
    for (const auto& [identifier, label] : wanted) {
      const std::string value = header_value(identifier);
      if (!value.empty()) values.emplace_back(label, value);
    }
    for (const stored_digest& digest : stored_digests()) values.emplace_back("stored " + digest.algorithm, digest.hex);
    return values;
  }

  std::vector<stored_digest> stored_digests() const override {
    std::vector<stored_digest> digests;
    for (const char* algorithm : {"MD5", "SHA1"}) {
      std::string hex = hash_value(algorithm);
      std::transform(hex.begin(), hex.end(), hex.begin(), [](char c) {
        return (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
      });
      if (!hex.empty() && hex.find_first_not_of('0') != std::string::npos) {
        digests.push_back({algorithm == std::string("SHA1") ? "SHA-1" : "MD5", hex});
      }
    }
    return digests;
  }

 private:
  // Chunks whose stored checksum did not match; libewf delivers them as read.
  std::uint64_t checksum_errors() const {
    std::uint32_t count = 0;
    return libewf_handle_get_number_of_checksum_errors(m_handle, &count, nullptr) == 1 ? count : 0;
  }

  using value_getter = int (*)(libewf_handle_t*, const std::uint8_t*, std::size_t, std::uint8_t*, std::size_t,
                                libewf_error_t**);
  // A header value ("case_number") or hash value ("MD5") as text; "" when absent.
  std::string value_of(value_getter getter, const char* identifier) const {
    std::uint8_t text[512] = {};
    const auto length = std::char_traits<char>::length(identifier);
    if (getter(m_handle, reinterpret_cast<const std::uint8_t*>(identifier), length, text, sizeof text, nullptr) != 1) {
      return "";
    }
    return reinterpret_cast<const char*>(text);
  }
  std::string header_value(const char* identifier) const {
    return value_of(libewf_handle_get_utf8_header_value, identifier);
  }
  std::string hash_value(const char* identifier) const { return value_of(libewf_handle_get_utf8_hash_value, identifier); }

  libewf_handle_t* m_handle = nullptr;
  std::uint64_t m_size_bytes = 0;
  std::size_t m_chunk_bytes = 32768;
};

}  // namespace

std::unique_ptr<container_image> open_ewf_image(const std::string& path, std::string& failure) {
  return opened_image<ewf_image>(path, failure);
}

}  // namespace storage

#else

namespace storage {

std::unique_ptr<container_image> open_ewf_image(const std::string&, std::string& failure) {
  failure = "E01 support not built in: install libewf-dev and rebuild";
  return nullptr;
}

}  // namespace storage

#endif
