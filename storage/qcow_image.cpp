// QEMU copy-on-write disks (QCOW2, and the older QCOW), read through
// libqcow. An overlay holds only the clusters written after it was made;
// the rest comes from its backing file, named in its header by a path
// relative to the overlay's folder (or absolute).
#include "storage/container_open.h"

#ifdef BRINDLE_WITH_LIBQCOW

#include <libqcow.h>

namespace storage {

namespace {

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
    const auto backing_name = [this]() -> std::optional<parent_reference> {
      std::size_t size = 0;
      if (libqcow_file_get_utf8_backing_filename_size(m_files.back(), &size, nullptr) != 1 || size <= 1) {
        return std::nullopt;
      }
      std::string name(size, '\0');
      libqcow_file_get_utf8_backing_filename(m_files.back(), reinterpret_cast<std::uint8_t*>(name.data()), size,
                                             nullptr);
      return parent_reference{text_until_nul(std::move(name)), ""};
    };
    const auto attach = [&](const std::string& backing_path) {
      if (open_one(backing_path, failure) == nullptr) return false;
      libqcow_error_t* error = nullptr;
      if (libqcow_file_set_parent_file(m_files[m_files.size() - 2], m_files.back(), &error) == 1) {
        libqcow_error_free(&error);
        return true;
      }
      failure = backing_path + ": does not fit its overlay: " + library_error_text(error, libqcow_error_sprint, libqcow_error_free);
      libqcow_file_close(m_files.back(), nullptr);
      libqcow_file_free(&m_files.back(), nullptr);
      m_files.pop_back();
      m_member_files.pop_back();
      return false;
    };
    return link_parents(path, "backing file", backing_name, attach, failure);
  }

  const char* kind_name() const override { return "QCOW2"; }
  std::uint64_t size_bytes() const override { return m_size_bytes; }

  std::int64_t read_piece(std::uint64_t offset, std::uint8_t* target, std::size_t length) override {
    libqcow_error_t* error = nullptr;
    const ssize_t got =
        libqcow_file_read_buffer_at_offset(m_files.front(), target, length, static_cast<off64_t>(offset), &error);
    libqcow_error_free(&error);
    return got;
  }

 private:
  libqcow_file_t* open_one(const std::string& path, std::string& failure) {
    libqcow_file_t* file = nullptr;
    libqcow_error_t* error = nullptr;
    if (libqcow_file_initialize(&file, &error) != 1) {
      failure = path + ": " + library_error_text(error, libqcow_error_sprint, libqcow_error_free);
      return nullptr;
    }
    if (libqcow_file_open(file, path.c_str(), LIBQCOW_OPEN_READ, &error) != 1) {
      failure = path + ": " + library_error_text(error, libqcow_error_sprint, libqcow_error_free);
      libqcow_file_free(&file, nullptr);
      return nullptr;
    }
    libqcow_error_free(&error);  // a success may leave one behind, as libvhdi's do
    m_files.push_back(file);
    m_member_files.push_back(path);
    return file;
  }

  std::vector<libqcow_file_t*> m_files;  // the overlay, then its backing files
  std::uint64_t m_size_bytes = 0;
};

}  // namespace

std::unique_ptr<container_image> open_qcow_image(const std::string& path, std::string& failure) {
  return opened_image<qcow_image>(path, failure);
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
