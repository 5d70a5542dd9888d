// A VMware disk given as an image: the disk and, for a snapshot, the
// parents its descriptor names, read as one virtual disk.
#include <vector>

#include "storage/container_open.h"
#include "storage/vmdk_chain.h"
#include "storage/vmdk_chain_check.h"

namespace storage {

namespace {

class vmdk_image : public container_image {
 public:
  bool open(const std::string& path, std::string& failure) {
    std::string report;
    std::vector<uni::wide_string> paths;
    if (!check_chain({uni::to_wide(path)}, report, paths) || !m_chain.open_chain(paths) || !m_chain.link_chain()) {
      while (!report.empty() && report.back() == '\n') report.pop_back();
      // The chain's report names the file only where a file failed to open.
      if (report.empty()) report = "not a usable VMware disk";
      failure = report.rfind(path, 0) == 0 ? report : path + ": " + report;
      return false;
    }
    for (const auto& disk : paths) {
      m_member_files.push_back(uni::wide_to_utf8(disk));
      const vmdk_disk* opened = m_chain.find_path(m_member_files.back());
      if (opened) m_member_files.insert(m_member_files.end(), opened->extent_files().begin(), opened->extent_files().end());
    }
    return true;
  }

  const char* kind_name() const override { return "VMDK"; }
  std::uint64_t size_bytes() const override { return m_chain.capacity(); }
  std::uint64_t unreadable_pieces() const override { return m_chain.unreadable_grains(); }
  std::int64_t read_piece(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
    if (offset >= size_bytes() || length == 0) return 0;
    return m_chain.read(buffer, length, offset) ? static_cast<std::int64_t>(length) : -1;
  }

 private:
  vmdk_chain m_chain;
};

}  // namespace

std::unique_ptr<container_image> open_vmdk_image(const std::string& path, std::string& failure) {
  return opened_image<vmdk_image>(path, failure);
}

}  // namespace storage
