// How the instances of a merged -cpu run hand their results to the parent.
//
// The entry range is cut into chunks; instance i of n walks chunks i, i+n,
// i+2n, ... and writes each chunk's text to a pipe (descriptor 3 in the
// instance) as one frame: three 64-bit numbers in this machine's byte order
// (the chunk's number, the text's length in bytes, and the length of the
// column header at the text's start, 0 when there is none), then the text.
// The parent takes the frames in chunk order, from instance 0, 1, ... in
// turn, moves the text into the results file, and acknowledges each frame
// with one byte on a second pipe (descriptor 4 in the instance).
//
// Nothing goes through a temporary file, and the text is not even copied
// into the pipe: vmsplice lends the pipe the instance's own pages, which
// the instance leaves untouched until the frame is acknowledged. Every
// result byte is copied once, into the results file.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "output/results_stream.h"

namespace app {

inline constexpr int instance_results_descriptor = 3;
inline constexpr int instance_ack_descriptor = 4;
inline constexpr std::size_t chunk_frame_header_bytes = 24;

// Entries per chunk for `count` entries over `instances` instances: several
// chunks per instance, so that each gets a fair share, and at most 2048 (a
// few MB of text) so that an instance holds little.
std::uint64_t instance_chunk_entries_for(std::uint64_t count, std::uint32_t instances);

// The instance's side. The walk formats a chunk into `stream` (a collecting
// stream); send() queues that text for a writer thread that lends it to
// the pipe, and returns at once while a free buffer is left, so the
// instance walks on while the parent takes its earlier chunks.
class chunk_sender {
 public:
  chunk_sender(int results_descriptor, int ack_descriptor, output::results_stream& stream, std::uint64_t chunk_count,
               std::uint32_t stride, std::uint32_t first);
  ~chunk_sender();
  chunk_sender(const chunk_sender&) = delete;
  chunk_sender& operator=(const chunk_sender&) = delete;

  // Sends what the stream holds as chunk `chunk`, the next of this
  // instance's chunks. False once a frame could not be written or was not
  // acknowledged (the parent is gone).
  bool send(std::uint64_t chunk);
  // Sends empty frames for this instance's chunks that the walk did not
  // reach, and waits until the parent has every frame. False when any
  // failed.
  bool finish();

 private:
  // Frames queued or lent at once: enough that an instance rarely waits
  // for the parent, few enough that it holds a few MB.
  static constexpr std::size_t frame_slots = 8;
  struct frame {
    output::text_buffer text;
    // Chunk, text bytes, column header bytes. Lent to the pipe with the
    // text, so it too stays put until acknowledged.
    std::uint64_t numbers[3] = {};
  };

  bool read_ack();
  void lend_frames();
  bool lend_frame(frame& lent);
  bool write_empty_frame(std::uint64_t chunk);
  void stop_writer();

  int m_descriptor;
  int m_ack_descriptor;
  output::results_stream& m_stream;
  std::uint64_t m_chunk_count;
  std::uint32_t m_stride;
  std::uint64_t m_next_chunk;    // this instance's next chunk to send
  bool m_header_pending = true;  // the walk has not written its column header yet

  // Frame n uses slot n % frame_slots; it is free again once frame n has
  // been acknowledged.
  frame m_frames[frame_slots];
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::uint64_t m_queued = 0;  // frames handed to the writer thread
  std::uint64_t m_acked = 0;   // frames lent and acknowledged
  bool m_closing = false;
  bool m_failed = false;
  std::thread m_writer;
};

}  // namespace app
