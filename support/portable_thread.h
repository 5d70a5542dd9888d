// A started thread that is waited for by polling, not joined: the multi-
// process runner starts one per child process and waits for them in order.
#pragma once

#include <pthread.h>

#include <atomic>

namespace support {

class portable_thread {
 public:
  using body_function = void (*)(void* argument);

  portable_thread() = default;
  virtual ~portable_thread();
  portable_thread(const portable_thread&) = delete;
  portable_thread& operator=(const portable_thread&) = delete;

  // Starts `body(argument)` on a new thread. With `auto_delete` the object
  // deletes itself when the body returns (it must then have been made with
  // new, and must not be waited for). False when no thread could be made.
  bool create_and_start(body_function body, void* argument, bool auto_delete = false);
  bool running() const { return m_running.load(); }
  bool busy() const { return m_busy.load(); }
  // Polls the busy flag every 2 ms until the body has returned.
  void wait_for_completion();

 private:
  static void* entry(void* self);

  pthread_t m_thread{};
  body_function m_body = nullptr;
  void* m_argument = nullptr;
  bool m_auto_delete = false;
  std::atomic<bool> m_running{false};
  std::atomic<bool> m_busy{false};
};

}  // namespace support
