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

// The file a differencing disk names as its parent, looked for as written
// (relative to the child's folder) and then by its bare name beside the
// child; "" when neither exists. Windows separators are understood.
std::string find_parent_file(const std::string& child_path, const std::string& parent_name);

// Links a differencing disk to its parents, up to a base disk.
// `parent_name` gives the parent name the newest opened file records
// (nullopt for a base disk); `attach` opens the file found for it and makes
// it that file's parent (false with `failure` set). `what` names the parent
// in messages ("parent disk", "backing file").
bool link_parents(const std::string& path, const char* what,
                  const std::function<std::optional<std::string>()>& parent_name,
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
