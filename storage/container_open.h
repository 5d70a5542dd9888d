// Recognises the container an image path holds and opens its reader.
//
// The kind comes from the first bytes of the file (EWF "EVF"/"LVF", VHDX
// "vhdxfile", QCOW "QFI\xfb", VMware "KDMV" or a text descriptor), from the
// "conectix" footer in the last sector of a fixed VHD, and, for raw images
// cut into segments, from the name of the first segment (".001", ".000",
// ".aa"; a lone file so named reads as a set of one).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "storage/container_image.h"

namespace storage {

enum class container_kind { raw, split_raw, ewf, vhd, vhdx, qcow, vmdk };

// The kind of container at `path` (raw for a plain image, and for a file
// that cannot be read: opening it will tell).
container_kind detect_container(const std::string& path);

// Opens the container at `path` read-only. Null for a raw image (with
// `failure` empty: read it as a plain file), or when the container cannot be
// used (with `failure` saying why, naming the file at fault).
std::unique_ptr<container_image> open_container(const std::string& path, std::string& failure);

// Readers backed by the field's libraries; each is compiled in only when its
// library was found at build time, and otherwise refuses with a message
// naming the package to install.
std::unique_ptr<container_image> open_ewf_image(const std::string& path, std::string& failure);
std::unique_ptr<container_image> open_vhdi_image(const std::string& path, std::string& failure);
std::unique_ptr<container_image> open_qcow_image(const std::string& path, std::string& failure);
std::unique_ptr<container_image> open_vmdk_image(const std::string& path, std::string& failure);

// What a differencing disk records about its parent: the name its library
// reads (quoted in messages) and, where the format keeps one, a path
// relative to the child's folder.
struct parent_reference {
  std::string name;
  std::string relative_path;
};

// The existing files a differencing disk may mean by its parent, in the
// order to try them: the relative path from the child's folder, the name as
// written (from the child's folder too, unless it is a drive-letter path),
// then their bare file names beside the child. Windows separators are
// understood; the list holds each path once.
std::vector<std::string> parent_file_candidates(const std::string& child_path, const parent_reference& parent);

// Links a differencing disk to its parents, up to a base disk.
// `parent` gives what the newest opened file records about its parent
// (nullopt for a base disk); `attach` opens a candidate file and makes it
// that file's parent, or sets `failure` and leaves nothing open of it. A
// candidate refused (another disk under the parent's name: a stale copy, a
// rebuilt base) does not hide the right one further down the list; when
// every candidate is refused, the first refusal is the failure. `what` names
// the parent in messages ("parent disk", "backing file").
bool link_parents(const std::string& path, const char* what,
                  const std::function<std::optional<parent_reference>()>& parent,
                  const std::function<bool(const std::string&)>& attach, std::string& failure);

// A UTF-8 name a library wrote into `size` bytes, cut at its first NUL.
std::string text_until_nul(std::string text);

// The reader `Image` opened on `path`, or null with `failure` set.
template <class Image>
std::unique_ptr<container_image> opened_image(const std::string& path, std::string& failure) {
  auto image = std::make_unique<Image>();
  if (!image->open(path, failure)) return nullptr;
  return image;
}

// The last line of a library's error text: the libraries stack one line per
// function, and the innermost cause comes last.
std::string last_line_of(const char* text);

// A container library's error as one line, the error freed. The libraries
// share one shape: an opaque error, a print call and a free call.
template <class Error, class Print, class Free>
std::string library_error_text(Error*& error, Print print, Free free) {
  if (error == nullptr) return "unknown error";
  char text[1024] = {};
  print(error, text, sizeof text);
  free(&error);
  return last_line_of(text);
}

}  // namespace storage
