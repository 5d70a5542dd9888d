#include "storage/container_open.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/split_raw_image.h"
#include "support/file_io.h"
#include "support/utf.h"

namespace storage {

namespace {

bool starts_with(const std::array<std::uint8_t, 64>& bytes, std::size_t count, const char* magic, std::size_t length) {
  return count >= length && std::memcmp(bytes.data(), magic, length) == 0;
}

// `path` with each name that does not exist as written replaced by the one
// entry of its folder that differs from it only in case, or "" when some
// name has no such entry. A disk made on Windows names its parent in
// whatever case the path was typed in ("..\base\disk.vhd"), which Windows
// matches against "Base\Disk.vhd" and a copy here must too.
std::string path_ignoring_case(const std::string& path) {
  if (path.empty()) return "";
  const bool absolute = path.front() == '/';
  std::string resolved = absolute ? "/" : "";  // the folders matched so far, each with its "/"
  std::string wanted;
  std::string entry_folded;
  for (std::size_t start = 0; start < path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string name = path.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    const std::string as_written = resolved + name;
    struct stat status {};
    if (name == "." || name == ".." || ::stat(as_written.c_str(), &status) == 0) {
      resolved = as_written + "/";
      continue;
    }
    uni::utf8_to_lower(name, wanted);
    std::string match;
    // Stepped with an error code: a folder that fails mid-listing ends the
    // search instead of throwing.
    std::error_code error;
    for (std::filesystem::directory_iterator entry(resolved.empty() ? "." : resolved, error), end;
         !error && entry != end; entry.increment(error)) {
      const std::string entry_name = entry->path().filename().string();
      uni::utf8_to_lower(entry_name, entry_folded);
      if (entry_folded == wanted) {
        match = entry_name;
        break;
      }
    }
    if (match.empty()) return "";
    resolved += match + "/";
  }
  if (resolved.size() > 1) resolved.pop_back();
  return resolved;
}

}  // namespace

container_kind detect_container(const std::string& path) {
  const int descriptor = uni::open_file(path, O_RDONLY, 0404);
  if (descriptor < 0) return container_kind::raw;
  std::array<std::uint8_t, 64> head{};
  const std::int64_t got = uni::pread_fully(descriptor, head.data(), head.size(), 0);
  const std::size_t count = got > 0 ? static_cast<std::size_t>(got) : 0;
  // A fixed VHD is the raw disk followed by a 512-byte footer; dynamic and
  // differencing ones also keep a copy of the footer at byte 0.
  std::array<std::uint8_t, 8> tail{};
  const off_t end = ::lseek(descriptor, 0, SEEK_END);
  const bool footer = end >= 512 && uni::pread_fully(descriptor, tail.data(), tail.size(),
                                                     static_cast<std::uint64_t>(end) - 512) == 8 &&
                      std::memcmp(tail.data(), "conectix", 8) == 0;
  ::close(descriptor);

  // EWF segments: "EVF" (E01), "LVF" (L01), "EVF2"/"LEF2" (Ex01/Lx01).
  if (starts_with(head, count, "EVF\x09\x0d\x0a\xff\x00", 8) || starts_with(head, count, "LVF\x09\x0d\x0a\xff\x00", 8) ||
      starts_with(head, count, "EVF2\x0d\x0a\x81\x00", 8) || starts_with(head, count, "LEF2\x0d\x0a\x81\x00", 8)) {
    return container_kind::ewf;
  }
  if (starts_with(head, count, "vhdxfile", 8)) return container_kind::vhdx;
  if (starts_with(head, count, "conectix", 8) || footer) return container_kind::vhd;
  if (starts_with(head, count, "QFI\xfb", 4)) return container_kind::qcow;
  if (starts_with(head, count, "KDMV", 4) || starts_with(head, count, "# Disk DescriptorFile", 21)) {
    return container_kind::vmdk;
  }
  // A first segment is read as a set even when the next one is missing, so
  // that a gap in the set is reported rather than read as a short disk.
  if (is_first_segment_name(path)) return container_kind::split_raw;
  return container_kind::raw;
}

std::unique_ptr<container_image> open_container(const std::string& path, std::string& failure) {
  failure.clear();
  std::unique_ptr<container_image> image;
  switch (detect_container(path)) {
    case container_kind::raw:
      return nullptr;
    case container_kind::split_raw:
      image = split_raw_image::open(path, failure);
      break;
    case container_kind::ewf:
      image = open_ewf_image(path, failure);
      break;
    case container_kind::vhd:
    case container_kind::vhdx:
      image = open_vhdi_image(path, failure);
      break;
    case container_kind::qcow:
      image = open_qcow_image(path, failure);
      break;
    case container_kind::vmdk:
      image = open_vmdk_image(path, failure);
      break;
  }
  if (!image && failure.empty()) failure = "cannot open " + path;
  return image;
}

std::vector<std::string> parent_file_candidates(const std::string& child_path, const parent_reference& parent) {
  const std::size_t slash = child_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : child_path.substr(0, slash);
  // "..\Base\disk.vhd" as "../Base/disk.vhd", without the "./" steps that
  // change nothing, so that one file keeps one spelling.
  const auto local = [](std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    while (name.rfind("./", 0) == 0) name.erase(0, 2);
    for (std::size_t at; (at = name.find("/./")) != std::string::npos;) name.erase(at, 2);
    return name;
  };
  const std::string names[] = {local(parent.relative_path), local(parent.name)};
  std::vector<std::string> found;
  const auto consider = [&](const std::string& written) {
    const std::string candidate = uni::file_exists(written) ? written : path_ignoring_case(written);
    if (!candidate.empty() && uni::file_exists(candidate) &&
        std::find(found.begin(), found.end(), candidate) == found.end()) {
      found.push_back(candidate);
    }
  };
  for (const std::string& name : names) {
    // A drive-letter path ("C:/VMs/base.vhdx") means nothing here: only its name.
    const bool windows_absolute = name.size() > 2 && name[1] == ':';
    if (!name.empty() && !windows_absolute) consider(name.front() == '/' ? name : folder + "/" + name);
  }
  for (const std::string& name : names) {
    if (!name.empty()) consider(folder + "/" + name.substr(name.rfind('/') + 1));
  }
  return found;
}

bool link_parents(const std::string& path, const char* what,
                  const std::function<std::optional<parent_reference>()>& parent,
                  const std::function<bool(const std::string&)>& attach, std::string& failure) {
  // A loop of parents (or a chain no examiner would meet) ends here.
  constexpr int max_depth = 64;
  std::string child = path;
  for (int depth = 0;; ++depth) {
    const std::optional<parent_reference> reference = parent();
    if (!reference) return true;
    if (depth >= max_depth) {
      failure = child + ": more than " + std::to_string(max_depth) + " levels of " + what;
      return false;
    }
    const std::vector<std::string> candidates = parent_file_candidates(child, *reference);
    if (candidates.empty()) {
      const std::string& name = reference->name.empty() ? reference->relative_path : reference->name;
      failure = child + ": " + what + " '" + name + "' not found";
      return false;
    }
    std::string first_refusal;
    const auto attached = std::find_if(candidates.begin(), candidates.end(), [&](const std::string& candidate) {
      if (attach(candidate)) return true;
      if (first_refusal.empty()) first_refusal = failure;
      return false;
    });
    if (attached == candidates.end()) {
      failure = first_refusal;
      return false;
    }
    failure.clear();
    child = *attached;
  }
}

std::string text_until_nul(std::string text) {
  const std::size_t end = text.find('\0');
  if (end != std::string::npos) text.resize(end);
  return text;
}

std::string last_line_of(const char* text) {
  std::string all(text);
  while (!all.empty() && (all.back() == '\n' || all.back() == '\r')) all.pop_back();
  const std::size_t line = all.rfind('\n');
  return line == std::string::npos ? all : all.substr(line + 1);
}

}  // namespace storage
