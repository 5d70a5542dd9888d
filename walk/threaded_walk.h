// The MFT range walk spread over threads. The range is cut into batches of
// consecutive entries; each walk thread takes the next batch, reads,
// parses, resolves paths, hashes and formats it into a text buffer of its
// own, and the calling thread writes the finished batches in entry order.
// Each walk thread has its own source handle, record buffers, path cache,
// filter, writer and digests, so nothing but the batch hand-over is
// shared, and the results are byte for byte those of one thread.
#pragma once

#include <cstdint>

#include "walk/walk_run.h"

namespace walk {

// Entries in one batch: one read-ahead window of 1024-byte records, or
// fewer on a small MFT so that every thread still gets several batches.
inline constexpr std::uint64_t max_batch_entries = 256;
inline constexpr std::uint64_t min_batch_entries = 16;

// Whether a range of `entries` entries is walked on several threads: more
// than one thread asked, a writer factory and a copyable filter, no
// diagnostics log (its lines follow the order of every read, cache hits
// included) and no file extraction (the copies' names and the write
// failure that ends the run follow walk order), and at least two batches.
bool threaded_walk_possible(walk_run& run, std::uint64_t entries);

// Walks entries [start, end) on the run's threads and writes the selected
// ones to the run's stream in entry order. `entry_count` is the MFT's: an
// unreadable entry at or past it ends the walk. False, with nothing
// written, when the walk threads' sources could not be opened; the caller
// then walks on its own thread.
bool threaded_range_walk(walk_run& run, std::uint64_t start, std::uint64_t end, std::uint64_t entry_count);

}  // namespace walk
