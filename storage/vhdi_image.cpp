// Microsoft virtual hard disks (VHD and VHDX: fixed, dynamic and
// differencing), read through libvhdi. A differencing disk holds only the
// blocks written after it was made; the rest comes from its parent, which
// it names by path (often a Windows path), so the parent is looked for as
// written and then beside the child.
#include "storage/container_open.h"

#ifdef BRINDLE_WITH_LIBVHDI

#include <libvhdi.h>

namespace storage {

namespace {

constexpr int max_parent_depth = 64;

// The library's error as one line, the error freed.
std::string innermost_cause(libvhdi_error_t*& error) {
  if (error == nullptr) return "unknown error";
  char text[1024] = {};
  libvhdi_error_sprint(error, text, sizeof text);
  libvhdi_error_free(&error);
  return last_line_of(text);
}

class vhdi_image : public container_image {
 public:
  ~vhdi_image() override {
    // Children first: each refers to its parent.
    for (libvhdi_file_t*& file : m_files) {
      libvhdi_file_close(file, nullptr);
      libvhdi_file_free(&file, nullptr);
    }
  }

  bool open(const std::string& path, std::string& failure) {
    libvhdi_file_t* file = open_one(path, failure);
    if (file == nullptr) return false;
    int type = 0;
    libvhdi_file_get_file_type(file, &type, nullptr);
    m_kind = type == LIBVHDI_FILE_TYPE_VHDX ? "VHDX" : "VHD";
    size64_t media = 0;
    libvhdi_file_get_media_size(file, &media, nullptr);
    m_size_bytes = media;
    // Each differencing disk gets its parent, up to a base disk.
    std::string child_path = path;
    for (int depth = 0;; ++depth) {
      std::uint32_t disk_type = 0;
      libvhdi_file_get_disk_type(m_files.back(), &disk_type, nullptr);
      if (disk_type != LIBVHDI_DISK_TYPE_DIFFERENTIAL) return true;
      if (depth >= max_parent_depth) {
        failure = child_path + ": too many parent disks";
        return false;
      }
      std::size_t size = 0;
      std::string name;
      if (libvhdi_file_get_utf8_parent_filename_size(m_files.back(), &size, nullptr) == 1 && size > 0) {
        name.resize(size);
        libvhdi_file_get_utf8_parent_filename(m_files.back(), reinterpret_cast<std::uint8_t*>(name.data()), size,
                                              nullptr);
        name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
      }
      const std::string parent_path = find_parent_file(child_path, name);
      if (parent_path.empty()) {
        failure = child_path + ": parent disk '" + name + "' not found";
        return false;
      }
      libvhdi_file_t* parent = open_one(parent_path, failure);
      if (parent == nullptr) return false;
      libvhdi_error_t* error = nullptr;
      if (libvhdi_file_set_parent_file(m_files[m_files.size() - 2], parent, &error) != 1) {
        failure = child_path + ": parent disk " + parent_path + " does not fit: " + innermost_cause(error);
        return false;
      }
      child_path = parent_path;
    }
  }

  const char* kind_name() const override { return m_kind; }
  std::uint64_t size_bytes() const override { return m_size_bytes; }

  std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t length) override {
    return read_counting_failures(offset, static_cast<std::uint8_t*>(buffer), length, 512,
                                  [this](std::uint64_t at, std::uint8_t* target, std::size_t count) {
                                    libvhdi_error_t* error = nullptr;
                                    const ssize_t got = libvhdi_file_read_buffer_at_offset(
                                        m_files.front(), target, count, static_cast<off64_t>(at), &error);
                                    libvhdi_error_free(&error);
                                    return static_cast<std::int64_t>(got);
                                  });
  }

 private:
  libvhdi_file_t* open_one(const std::string& path, std::string& failure) {
    libvhdi_file_t* file = nullptr;
    libvhdi_error_t* error = nullptr;
    if (libvhdi_file_initialize(&file, &error) != 1) {
      failure = path + ": " + innermost_cause(error);
      return nullptr;
    }
    if (libvhdi_file_open(file, path.c_str(), LIBVHDI_OPEN_READ, &error) != 1) {
      failure = path + ": " + innermost_cause(error);
      libvhdi_file_free(&file, nullptr);
      return nullptr;
    }
    m_files.push_back(file);
    return file;
  }

  std::vector<libvhdi_file_t*> m_files;  // the disk, then its parents
  const char* m_kind = "VHD";
  std::uint64_t m_size_bytes = 0;
};

}  // namespace

std::unique_ptr<container_image> open_vhdi_image(const std::string& path, std::string& failure) {
  auto image = std::make_unique<vhdi_image>();
  if (!image->open(path, failure)) return nullptr;
  return image;
}

}  // namespace storage

#else

namespace storage {

std::unique_ptr<container_image> open_vhdi_image(const std::string&, std::string& failure) {
  failure = "VHD/VHDX support not built in: install libvhdi-dev and rebuild";
  return nullptr;
}

}  // namespace storage

#endif
