// How the instances of a merged -cpu run hand their results to the parent.
//
// The entry range is cut into chunks, numbered from 0. An instance claims
// the next chunk from a counter all share (a memory file, descriptor 5 in
// the instance), walks it, and writes its text to its pipe (descriptor 3)
// as one frame: three 64-bit numbers in this machine's byte order (the
// chunk's number, the text's length in bytes, and the length of the column
// header at the text's start, 0 when there is none), then the text. So an
// instance that runs faster simply takes more chunks. The parent takes the
// frames in chunk order from whichever instance has the next one, moves
// the text into the results file, and acknowledges each frame with one
// byte on a second pipe (descriptor 4).
//
// Nothing goes through a temporary file, and the text is not even copied
// into the pipe: vmsplice lends the pipe the instance's own pages, which
// the instance leaves untouched until the frame is acknowledged. That is
// the way for a FIFO or a device.
//
// When the results file is a regular file (new or appended to), the text
// does not travel at all: the instance sends the frame header alone,
// the parent answers with two numbers (where the text goes in the results
// file, and how many bytes of its start to leave out: a column header
// already written), and the instance writes it there itself through its
// descriptor 6. The copying is then shared by the instances, one at a
// time: see chunk_claims::lock_writes.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "output/results_stream.h"

namespace app {

inline constexpr int instance_results_descriptor = 3;
inline constexpr int instance_ack_descriptor = 4;
inline constexpr int instance_claims_descriptor = 5;
inline constexpr int instance_placement_descriptor = 6;
inline constexpr int highest_instance_descriptor = instance_placement_descriptor;
inline constexpr std::size_t chunk_frame_header_bytes = 24;

// Entries per chunk for `count` entries over `instances` instances: several
// chunks per instance, so that the work spreads evenly, and at most 512
// (under 1 MB of CSV text) so that a frame fits in the pipe and an instance
// holds little.
std::uint64_t instance_chunk_entries_for(std::uint64_t count, std::uint32_t instances);

// Reads exactly `length` bytes; false at the end of the pipe or on an error.
bool read_exactly(int descriptor, void* bytes, std::size_t length);

// The shared chunk counter and the results file's write lock: the parent
// creates them, the instances map them.
class chunk_claims {
 public:
  chunk_claims() = default;
  ~chunk_claims();
  chunk_claims(const chunk_claims&) = delete;
  chunk_claims& operator=(const chunk_claims&) = delete;

  // A new counter at 0 (the parent). False when it cannot be made.
  bool create();
  // The counter behind `descriptor` (an instance).
  bool map(int descriptor);
  int descriptor() const { return m_descriptor; }
  // The next unclaimed chunk below `chunk_count`; false once none is left.
  bool claim(std::uint64_t chunk_count, std::uint64_t& chunk);

  // Instances placing text in the results file take turns. The kernel
  // lets one writer into a file at a time anyway, and a writer kept
  // waiting there spins on its core for the whole copy; waiting here it
  // sleeps, and that core walks on. An instance that dies holding the
  // lock passes it on (the run fails over its missing chunk anyway).
  void lock_writes();
  void unlock_writes();
  // Why an instance could not place its text (errno), so that the parent
  // can name the results file and the cause; 0 while none failed.
  void note_write_error(int error_number);
  int write_error() const;

 private:
  struct shared_page {
    std::uint64_t next_chunk;
    pthread_mutex_t write_lock;
    int write_error;
  };
  int m_descriptor = -1;
  shared_page* m_shared = nullptr;
};

// The instance's side. The walk formats a chunk into `stream` (a collecting
// stream); send() queues that text for a writer thread that lends it to
// the pipe or writes it where the parent places it, and returns at once
// while a free buffer is left, so the instance walks on while the parent
// takes its earlier chunks.
class chunk_sender {
 public:
  // `placement_descriptor` is the results file when the instance writes its
  // text there itself, or -1 to lend it to the pipe.
  // `claims` holds the write lock for placed text.
  chunk_sender(int results_descriptor, int ack_descriptor, int placement_descriptor, chunk_claims& claims,
               output::results_stream& stream);
  ~chunk_sender();
  chunk_sender(const chunk_sender&) = delete;
  chunk_sender& operator=(const chunk_sender&) = delete;

  // Sends what the stream holds as chunk `chunk`. False once a frame could
  // not be written or was not acknowledged (the parent is gone).
  bool send(std::uint64_t chunk);
  // Waits until the parent has every frame. False when any failed.
  bool finish();

 private:
  // Frames queued or lent at once: enough that an instance rarely waits
  // for the parent, few enough that the buffers it writes stay cached.
  static constexpr std::size_t frame_slots = 3;
  struct frame {
    output::text_buffer text;
    // Chunk, text bytes, column header bytes. Lent to the pipe with the
    // text, so it too stays put until acknowledged.
    std::uint64_t numbers[3] = {};
  };

  bool read_ack();
  void hand_over_frames();
  bool lend_frame(frame& lent);
  // Sends the frame's header and writes its text where the parent says.
  bool place_frame(frame& placed);
  void stop_writer();

  int m_descriptor;
  int m_ack_descriptor;
  int m_placement_descriptor;
  chunk_claims& m_claims;
  output::results_stream& m_stream;
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
