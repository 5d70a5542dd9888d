#include "walk/threaded_walk.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/console.h"
#include "support/progress_pacer.h"
#include "walk/entry_analysis.h"

namespace walk {

namespace {

// One place in the ring of batches between the walk threads and the writer.
struct batch_slot {
  // The batch this slot holds next: slot i of n holds batches i, i + n,
  // i + 2n... each taken only once the writer is done with the one before.
  std::uint64_t turn = 0;
  bool ready = false;
  bool walk_ended = false;         // an entry past the end of the MFT could not be read
  bool has_header = false;         // the layout's header line is in the text
  std::size_t header_begin = 0;    // bytes into the text
  std::size_t header_end = 0;
  output::text_buffer text;
};

// Everything one walk thread owns.
struct walk_thread_state {
  walk_thread_state(walk_run& main, std::unique_ptr<output::record_writer> made_writer,
                    std::unique_ptr<selection_filter> made_filter)
      : writer(std::move(made_writer)), filter(std::move(made_filter)),
        run(main.settings(), *writer, stream, *filter, nullptr) {}

  std::unique_ptr<output::record_writer> writer;
  std::unique_ptr<selection_filter> filter;
  output::results_stream stream;  // collects one batch's text
  walk_run run;
  ntfs::mft_record record;
  output::entry_result result;
};

class batch_ring {
 public:
  batch_ring(std::uint64_t start, std::uint64_t end, std::uint64_t entry_count, std::size_t slots,
             std::uint64_t batch_entries)
      : m_start(start), m_end(end), m_entry_count(entry_count), m_batch_entries(batch_entries), m_slots(slots) {
    for (std::size_t i = 0; i < slots; ++i) m_slots[i].turn = i;
  }

  std::uint64_t batch_count() const {
    const std::uint64_t entries = m_end - m_start;
    return entries / m_batch_entries + (entries % m_batch_entries != 0 ? 1 : 0);
  }

  // A walk thread's loop: take the next batch, wait for its slot, format it.
  void walk_batches(walk_thread_state& state) {
    for (;;) {
      std::uint64_t batch;
      batch_slot* slot;
      {
        std::unique_lock lock(m_mutex);
        batch = m_next_batch++;
        if (batch >= batch_count()) return;
        slot = &m_slots[batch % m_slots.size()];
        m_slot_freed.wait(lock, [&] { return m_stopped || slot->turn == batch; });
        if (m_stopped) return;
      }
      format_batch(state, batch, *slot);
      {
        std::lock_guard lock(m_mutex);
        slot->ready = true;
      }
      m_slot_ready.notify_one();
    }
  }

  // The writer's loop, on the calling thread: every batch in order.
  void write_batches(walk_run& run) {
    support::progress_pacer pacer;
    output::results_stream& stream = run.stream();
    for (std::uint64_t batch = 0; batch < batch_count(); ++batch) {
      batch_slot& slot = m_slots[batch % m_slots.size()];
      {
        std::unique_lock lock(m_mutex);
        m_slot_ready.wait(lock, [&] { return slot.turn == batch && slot.ready; });
      }
      const std::string_view text = slot.text.view();
      if (!slot.has_header) {
        stream.append_text(text);
      } else if (stream.header_pending) {
        stream.append_text(text);
        stream.header_pending = false;
      } else {
        // Every batch is formatted as though it came first; only the first
        // to reach the results keeps the header line.
        stream.append_text(text.substr(0, slot.header_begin));
        stream.append_text(text.substr(slot.header_end));
      }
      const std::uint64_t first = m_start + batch * m_batch_entries;
      if (run.settings().progress && pacer.due()) {
        support::progress_line("analyzing entry %llu of %llu", static_cast<unsigned long long>(first),
                               static_cast<unsigned long long>(m_entry_count));
      }
      const bool ended = slot.walk_ended || run.output_failed();
      {
        std::lock_guard lock(m_mutex);
        slot.text.clear();
        slot.ready = false;
        slot.turn += m_slots.size();
        if (ended) m_stopped = true;
      }
      m_slot_freed.notify_all();
      if (ended) return;
    }
  }

  void stop() {
    {
      std::lock_guard lock(m_mutex);
      m_stopped = true;
    }
    m_slot_freed.notify_all();
  }

 private:
  void format_batch(walk_thread_state& state, std::uint64_t batch, batch_slot& slot) {
    output::results_stream& stream = state.stream;
    stream.buffer().clear();
    stream.header_pending = true;
    slot.has_header = false;
    slot.walk_ended = false;
    const std::uint64_t first = m_start + batch * m_batch_entries;
    const std::uint64_t last = std::min(m_end, first + m_batch_entries);
    for (std::uint64_t entry = first; entry < last; ++entry) {
      const bool header_was_pending = stream.header_pending;
      const std::size_t before = stream.buffer().size();
      if (!range_walk_entry(state.run, state.record, state.result, entry, m_entry_count)) {
        slot.walk_ended = true;
        break;
      }
      if (header_was_pending && !stream.header_pending) {
        slot.has_header = true;
        slot.header_begin = before;
        slot.header_end = stream.header_end_bytes;
      }
    }
    // The slot's emptied buffer becomes this thread's next one.
    std::swap(slot.text, stream.buffer());
  }

  const std::uint64_t m_start;
  const std::uint64_t m_end;
  const std::uint64_t m_entry_count;
  const std::uint64_t m_batch_entries;
  std::vector<batch_slot> m_slots;
  std::mutex m_mutex;
  std::condition_variable m_slot_freed;
  std::condition_variable m_slot_ready;
  std::uint64_t m_next_batch = 0;
  bool m_stopped = false;
};

// Four batches per thread at least, within the limits.
std::uint64_t batch_entries_for(std::uint64_t entries, unsigned threads) {
  return std::clamp<std::uint64_t>(entries / (4 * std::uint64_t{threads}), min_batch_entries, max_batch_entries);
}

}  // namespace

bool threaded_walk_possible(walk_run& run, std::uint64_t entries) {
  const walk_settings& settings = run.settings();
  const bool log_open = run.log() && run.log()->is_open();
  return settings.threads > 1 && run.make_writer() && !log_open && !settings.actions.extraction.enabled &&
         entries >= 2 * min_batch_entries;
}

bool threaded_range_walk(walk_run& run, std::uint64_t start, std::uint64_t end, std::uint64_t entry_count) {
  std::vector<std::unique_ptr<walk_thread_state>> states;
  for (unsigned i = 0; i < run.settings().threads; ++i) {
    std::unique_ptr<selection_filter> filter = run.filter().clone();
    if (!filter) return false;
    auto state = std::make_unique<walk_thread_state>(run, run.make_writer()(), std::move(filter));
    // The threads share the memory one thread's directory cache would use;
    // each keeps a whole path cache, since a thread that finds its paths
    // there reads far fewer directory records (a third faster at 10M).
    state->run.resize_path_cache(ntfs::path_cache::default_directory_capacity / run.settings().threads,
                                 ntfs::path_cache::default_path_capacity);
    if (!state->run.open_source() || !state->run.source_ready() || !state->run.records().ensure_record_size() ||
        state->run.records().record_size != run.records().record_size) {
      return false;
    }
    state->run.share_source_state(run);
    states.push_back(std::move(state));
  }

  // Two batches per thread in flight: enough to keep every thread busy
  // while the writer catches up, and a bound on the text held.
  batch_ring ring(start, end, entry_count, 2 * states.size(), batch_entries_for(end - start, run.settings().threads));
  std::vector<std::thread> threads;
  threads.reserve(states.size());
  for (auto& state : states) threads.emplace_back([&ring, &state] { ring.walk_batches(*state); });
  ring.write_batches(run);
  ring.stop();
  for (auto& thread : threads) thread.join();

  std::vector<bool>& met = run.directories_met();
  for (auto& state : states) {
    const std::vector<bool>& theirs = state->run.directories_met();
    if (theirs.size() > met.size()) met.resize(theirs.size());
    for (std::size_t entry = 0; entry < theirs.size(); ++entry) {
      if (theirs[entry]) met[entry] = true;
    }
    run.add_unreadable(state->run.close_source_quietly());
  }
  return true;
}

}  // namespace walk
