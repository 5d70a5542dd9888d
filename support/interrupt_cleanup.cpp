#include "support/interrupt_cleanup.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace support {

namespace {

constexpr int slot_count = 8;
constexpr std::size_t path_bytes = 4096;

// The handler may only read these: a slot's path is complete before its
// flag is set, and the flag is cleared before the path is reused.
struct slot {
  char path[path_bytes];
  std::atomic<bool> active{false};
};
slot slots[slot_count];
std::mutex claim_lock;
bool handlers_installed = false;

void remove_and_end(int signal_number) {
  for (slot& s : slots) {
    if (s.active.load()) ::unlink(s.path);
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void install_handlers() {
  struct sigaction action {};
  action.sa_handler = &remove_and_end;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal_number, &action, nullptr);
  handlers_installed = true;
}

}  // namespace

int remove_on_interrupt(const std::string& path) {
  if (path.empty() || path.size() >= path_bytes) return -1;
  const std::lock_guard<std::mutex> guard(claim_lock);
  if (!handlers_installed) install_handlers();
  for (int i = 0; i < slot_count; ++i) {
    if (slots[i].active.load()) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].active.store(true);
    return i;
  }
  return -1;
}

void forget_on_interrupt(int slot) {
  if (slot >= 0 && slot < slot_count) slots[slot].active.store(false);
}

}  // namespace support
