// The path a VHD or VHDX differencing disk keeps for its parent relative to
// its own folder ("..\Base\win10.vhdx"). Copies of evidence keep the folder
// layout, so this path finds a parent kept in another folder, where the
// absolute Windows path the disk also records names nothing on this machine.
//
// VHD (all fields big-endian): the footer (the last 512 bytes, a copy at
// byte 0) gives the dynamic disk header's offset; the header holds eight
// 24-byte parent locator entries from byte 576, and the entry whose platform
// code is "W2ru" points at the relative path in UTF-16LE ("W2ku" is the
// absolute one).
//
// VHDX (little-endian, GUIDs in Microsoft's mixed order): the region table
// at 192 KiB (a copy at 256 KiB) gives the metadata region; its table names
// the parent locator item, whose key/value entries are UTF-16LE:
// relative_path, volume_path, absolute_win32_path and parent_linkage.
//
// Only these structures are read, a few KiB; a locator whose offsets or
// lengths leave the file or its structure is ignored.
#pragma once

#include <string>

namespace storage {

// The relative parent path of the VHD or VHDX file at `path`, as UTF-8 with
// its Windows separators; "" when the file keeps none or it cannot be read.
std::string read_relative_parent_path(const std::string& path);

}  // namespace storage
