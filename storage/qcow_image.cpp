// QEMU copy-on-write disks (QCOW2, and the older QCOW), read through
// libqcow. An overlay holds only the clusters written after it was made;
// the rest comes from its backing file, named in its header by a path
// relative to the overlay's folder (or absolute).
#include "storage/container_open.h"

#ifdef BRINDLE_WITH_LIBQCOW

#include <libqcow.h>

namespace storage {

namespace {

constexpr int max_backing_depth = 64;

// The library's error as one line, the error freed.
std::string innermost_cause(libqcow_error_t*& error) {
  if (error == nullptr) return "unknown error";
  char text[1024] = {};
  libqcow_error_sprint(error, text, sizeof text);
  libqcow_error_free(&error);
  return last_line_of(text);
}

class qcow_image : public container_image {
 public:
  ~qcow_image() override {
    for (libqcow_file_t*& file : m_files) {
      libqcow_file_close(file, nullptr);
      libqcow_file_free(&file, nullptr);
    }
  }

  bool open(const std::string& path, std::string& failure) {
    if (open_one(path, failure) == nullptr) return false;
    size64_t media = 0;
    libqcow_file_get_media_size(m_files.front(), &media, nullptr);
    m_size_bytes = media;
    std::string child_path = path;
    for (int depth = 0;; ++depth) {
      std::size_t size = 0;
      if (libqcow_file_get_utf8_backing_filename_size(m_files.back(), &size, nullptr) != 1 || size <= 1) return true;
      if (depth >= max_backing_depth) {
        failure = child_path + ": too many backing files";
        return false;
      }
      std::string name(size, '\0');
      libqcow_file_get_utf8_backing_filename(m_files.back(), reinterpret_cast<std::uint8_t*>(name.data()), size,
                                             nullptr);
      name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
      const std::string backing_path = find_parent_file(child_path, name);
      if (backing_path.empty()) {
        failure = child_path + ": backing file '" + name + "' not found";
        return false;
      }
      if (open_one(backing_path, failure) == nullptr) return false;
      libqcow_error_t* error = nullptr;
      if (libqcow_file_set_parent_file(m_files[m_files.size() - 2], m_files.back(), &error) != 1) {
        failure = child_path + ": backing file " + backing_path + " does not fit: " + innermost_cause(error);
        return false;
      }
      child_path = backing_path;
    }
  }

  const char* kind_name() const override { return "QCOW2"; }
  std::uint64_t size_bytes() const override { return m_size_bytes; }

  std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t length) override {
    return read_counting_failures(offset, static_cast<std::uint8_t*>(buffer), length, 512,
                                  [this](std::uint64_t at, std::uint8_t* target, std::size_t count) {
                                    libqcow_error_t* error = nullptr;
                                    const ssize_t got = libqcow_file_read_buffer_at_offset(
                                        m_files.front(), target, count, static_cast<off64_t>(at), &error);
                                    libqcow_error_free(&error);
                                    return static_cast<std::int64_t>(got);
                                  });
  }

 private:
  libqcow_file_t* open_one(const std::string& path, std::string& failure) {
    libqcow_file_t* file = nullptr;
    libqcow_error_t* error = nullptr;
    if (libqcow_file_initialize(&file, &error) != 1) {
      failure = path + ": " + innermost_cause(error);
      return nullptr;
    }
    if (libqcow_file_open(file, path.c_str(), LIBQCOW_OPEN_READ, &error) != 1) {
      failure = path + ": " + innermost_cause(error);
      libqcow_file_free(&file, nullptr);
      return nullptr;
    }
    m_files.push_back(file);
    return file;
  }

  std::vector<libqcow_file_t*> m_files;  // the overlay, then its backing files
  std::uint64_t m_size_bytes = 0;
};

}  // namespace

std::unique_ptr<container_image> open_qcow_image(const std::string& path, std::string& failure) {
  auto image = std::make_unique<qcow_image>();
  if (!image->open(path, failure)) return nullptr;
  return image;
}

}  // namespace storage

#else

namespace storage {

std::unique_ptr<container_image> open_qcow_image(const std::string&, std::string& failure) {
  failure = "QCOW2 support not built in: install libqcow-dev and rebuild";
  return nullptr;
}

}  // namespace storage

#endif
