// Microsoft virtual hard disks (VHD and VHDX: fixed, dynamic and
// differencing), read through libvhdi. A differencing disk holds only the
// blocks written after it was made; the rest comes from its parent, which
// it names by a relative path (vhd_parent_locator) and by a name or an
// absolute path (often a Windows one), so the parent is looked for through
// each of them and then beside the child. Which disk of a VHD chain holds a
// sector is decided from the disks' own sector bitmaps (vhd_block_map); a
// VHDX chain (Hyper-V checkpoints, .avhdx) is read by libvhdi alone.
#include "storage/container_open.h"

#ifdef BRINDLE_WITH_LIBVHDI

#include <fcntl.h>
#include <libvhdi.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "storage/vhd_block_map.h"
#include "storage/vhd_parent_locator.h"
#include "support/file_io.h"

namespace storage {

namespace {

// A unique id as libvhdi gives it, 16 bytes in stored order, in the form
// vhdiinfo and Hyper-V show it: 5d0b2a6e-41c3-4f8e-9a1e-0b5e7c0d0002.
std::string unique_id_text(const std::uint8_t (&id)[16]) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += digits[id[i] >> 4];
    text += digits[id[i] & 0x0F];
  }
  return text;
}

class vhdi_image : public container_image {
 public:
  ~vhdi_image() override {
    // Children first: each refers to its parent.
    for (libvhdi_file_t*& file : m_files) {
      libvhdi_file_close(file, nullptr);
      libvhdi_file_free(&file, nullptr);
    }
    for (const int descriptor : m_descriptors) ::close(descriptor);
  }

  bool open(const std::string& path, std::string& failure) {
    libvhdi_file_t* file = open_one(path, failure);
    if (file == nullptr) return false;
    // A differencing disk is read with its parents, up to a base disk.
    int type = 0;
    libvhdi_file_get_file_type(file, &type, nullptr);
    const bool vhdx = type == LIBVHDI_FILE_TYPE_VHDX;
    m_kind = vhdx ? "VHDX" : "VHD";
    size64_t media = 0;
    libvhdi_file_get_media_size(file, &media, nullptr);
    m_size_bytes = media;
    const auto parent = [this]() -> std::optional<parent_reference> {
      std::uint32_t disk_type = 0;
      libvhdi_file_get_disk_type(m_files.back(), &disk_type, nullptr);
      if (disk_type != LIBVHDI_DISK_TYPE_DIFFERENTIAL) return std::nullopt;
      parent_reference reference{"", read_relative_parent_path(m_member_files.back())};
      std::size_t size = 0;
      if (libvhdi_file_get_utf8_parent_filename_size(m_files.back(), &size, nullptr) != 1 || size == 0) {
        return reference;
      }
      std::string name(size, '\0');
      libvhdi_file_get_utf8_parent_filename(m_files.back(), reinterpret_cast<std::uint8_t*>(name.data()), size,
                                            nullptr);
      reference.name = text_until_nul(std::move(name));
      return reference;
    };
    const auto attach = [&](const std::string& parent_path) {
      if (open_one(parent_path, failure) == nullptr) return false;
      // A disk found under the parent's name may still be another disk (a
      // copy made before the child, a rebuilt base): the child records the
      // unique id of the disk it was made over.
      std::uint8_t wanted[16] = {}, found[16] = {};
      if (libvhdi_file_get_parent_identifier(m_files[m_files.size() - 2], wanted, sizeof wanted, nullptr) == 1 &&
          libvhdi_file_get_identifier(m_files.back(), found, sizeof found, nullptr) == 1 &&
          std::memcmp(wanted, found, sizeof wanted) != 0) {
        failure = parent_path + ": not the parent disk " + m_member_files[m_member_files.size() - 2] +
                  " was made over (unique id " + unique_id_text(found) + ", the child names " +
                  unique_id_text(wanted) + ")";
        close_newest();
        return false;
      }
      libvhdi_error_t* error = nullptr;
      if (libvhdi_file_set_parent_file(m_files[m_files.size() - 2], m_files.back(), &error) == 1) {
        libvhdi_error_free(&error);
        return true;
      }
      failure = parent_path + ": does not fit its differencing disk: " + library_error_text(error, libvhdi_error_sprint, libvhdi_error_free);
      close_newest();
      return false;
    };
    if (!link_parents(path, "parent disk", parent, attach, failure)) return false;
    // A VHDX chain is left to libvhdi: it reads VHDX sector bitmaps (least
    // significant bit first, one 1 MiB bitmap block per chunk of payload
    // blocks) right, single sectors included.
    return !vhdx && m_files.size() > 1 ? load_block_maps(failure) : true;
  }

  const char* kind_name() const override { return m_kind; }
  std::uint64_t size_bytes() const override { return m_size_bytes; }

  std::int64_t read_piece(std::uint64_t offset, std::uint8_t* target, std::size_t length) override {
    if (m_block_maps.empty()) return read_from(m_files.front(), offset, target, length);
    // Each run of sectors comes from the newest disk whose bitmap holds it,
    // or from the base disk; libvhdi reads a disk's own sectors correctly.
    constexpr std::uint64_t sector = vhd_block_map::sector_bytes;
    std::size_t done = 0;
    while (done < length) {
      const std::uint64_t at = offset + done;
      std::uint64_t run = (at % sector + (length - done) + sector - 1) / sector;
      std::size_t holder = m_block_maps.size();
      for (std::size_t i = 0; i < m_block_maps.size(); ++i) {
        bool held = false;
        run = m_block_maps[i].run_at(at / sector, run, held);
        if (run == 0) return -1;
        if (held) {
          holder = i;
          break;
        }
      }
      const auto bytes =
          static_cast<std::size_t>(std::min<std::uint64_t>(length - done, run * sector - at % sector));
      if (read_from(m_files[holder], at, target + done, bytes) != static_cast<std::int64_t>(bytes)) return -1;
      done += bytes;
    }
    return static_cast<std::int64_t>(length);
  }

 private:
  static std::int64_t read_from(libvhdi_file_t* file, std::uint64_t offset, std::uint8_t* target, std::size_t length) {
    libvhdi_error_t* error = nullptr;
    const ssize_t got = libvhdi_file_read_buffer_at_offset(file, target, length, static_cast<off64_t>(offset), &error);
    libvhdi_error_free(&error);
    return got;
  }

  // The sector bitmaps of every differencing disk of a VHD chain, which
  // decide where each sector is read (see vhd_block_map.h).
  bool load_block_maps(std::string& failure) {
    for (std::size_t i = 0; i + 1 < m_member_files.size(); ++i) {
      const int descriptor = uni::open_file(m_member_files[i], O_RDONLY, 0);
      if (descriptor < 0) {
        failure = m_member_files[i] + ": cannot be read";
        return false;
      }
      m_descriptors.push_back(descriptor);
      if (!m_block_maps.emplace_back().load(descriptor, m_member_files[i], failure)) return false;
    }
    return true;
  }

  libvhdi_file_t* open_one(const std::string& path, std::string& failure) {
    libvhdi_file_t* file = nullptr;
    libvhdi_error_t* error = nullptr;
    if (libvhdi_file_initialize(&file, &error) != 1) {
      failure = path + ": " + library_error_text(error, libvhdi_error_sprint, libvhdi_error_free);
      return nullptr;
    }
    if (libvhdi_file_open(file, path.c_str(), LIBVHDI_OPEN_READ, &error) != 1) {
      failure = path + ": " + library_error_text(error, libvhdi_error_sprint, libvhdi_error_free);
      libvhdi_file_free(&file, nullptr);
      return nullptr;
    }
    // libvhdi may succeed and still leave an error behind (a damaged VHDX
    // parent locator value it passed over); it is ours to free.
    libvhdi_error_free(&error);
    m_files.push_back(file);
    m_member_files.push_back(path);
    return file;
  }

  // A candidate parent that was refused.
  void close_newest() {
    libvhdi_file_close(m_files.back(), nullptr);
    libvhdi_file_free(&m_files.back(), nullptr);
    m_files.pop_back();
    m_member_files.pop_back();
  }

  std::vector<libvhdi_file_t*> m_files;  // the disk, then its parents
  std::vector<int> m_descriptors;        // read-only, for the bitmaps
  std::vector<vhd_block_map> m_block_maps;  // the differencing disks of a VHD chain, newest first
  const char* m_kind = "VHD";
  std::uint64_t m_size_bytes = 0;
};

}  // namespace

std::unique_ptr<container_image> open_vhdi_image(const std::string& path, std::string& failure) {
  return opened_image<vhdi_image>(path, failure);
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
