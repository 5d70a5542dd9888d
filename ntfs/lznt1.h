// LZNT1, the compression of NTFS compressed streams.
//
// A compressed stream is stored in compression units (normally 16 clusters).
// A unit that did not shrink by at least one cluster is stored as it is and
// has every cluster on disk; otherwise it holds a sequence of chunks and its
// remaining clusters are sparse. Each chunk starts with a 16-bit header:
//
//     bits 0-11   data size - 1 (bytes after the header)
//     bits 12-14  signature, 3
//     bit 15      set: LZNT1 data; clear: 4096 bytes stored as they are
//
// A header of 0 ends the chunks. Each chunk decompresses to (at most) 4096
// bytes. Chunk data is a sequence of groups: a flag byte, then eight items,
// one per bit from the lowest: a literal byte (bit clear) or a 16-bit copy
// token (bit set). The token's split between back-displacement and length
// depends on how much of the chunk has been produced: the further into the
// chunk, the more bits the displacement gets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ntfs {

inline constexpr std::size_t lznt1_chunk_bytes = 4096;
// The largest target lznt1_decompress_chunk accepts.
inline constexpr std::size_t lznt1_max_target_bytes = 16384;

// Decompresses the data of one compressed chunk (`source`: the bytes after
// the chunk header) into `target`. Decompression ends when the source is used
// up or the target is full; a copy that would run past the target is cut at
// its end. Target bytes not produced are set to zero, so the whole target is
// the chunk's output. `produced_out`, when given, receives the number of
// bytes the data itself produced.
//
// False when the target is larger than lznt1_max_target_bytes or a copy token
// points before the start of the chunk (the target then holds what was
// produced before it, followed by zeros).
bool lznt1_decompress_chunk(std::span<const std::uint8_t> source, std::span<std::uint8_t> target,
                            std::size_t* produced_out = nullptr);

// Turns the raw bytes of one compression unit into its first out.size()
// bytes of stream data. `has_sparse_clusters` says whether any cluster of the
// unit was sparse when it was read.
//
//   - No sparse cluster, and the unit does not start with the header of a
//     stored chunk (0x3FFF, bytes FF 3F): the unit is stored as it is and its
//     bytes are copied.
//   - Otherwise the chunks are walked: compressed chunks are decompressed,
//     4096-byte stored chunks copied, a zero header skips to the next
//     4096-byte boundary of the unit. The walk ends at the end of the unit or
//     when `out` is full.
//   - A chunk that fails to decompress, runs past the unit, or is a stored
//     chunk of any size but 4096 stops the walk. The unit is then taken to
//     be stored as it is and is copied - unless its last 4096 bytes are all
//     zero, which a stored unit would not end with: then the unit fails.
//
// On success every byte of `out` is written: what the unit does not cover
// (chunks ending early, a unit shorter than `out`) reads as zero.
// `produced_out` is the number of bytes that came from the unit's data.
// False on failure (`out` then holds nothing usable).
bool decompress_unit(std::span<const std::uint8_t> unit, bool has_sparse_clusters, std::span<std::uint8_t> out,
                     std::size_t& produced_out);

}  // namespace ntfs
