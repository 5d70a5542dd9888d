#include "support/portable_thread.h"

#include <unistd.h>

namespace support {

portable_thread::~portable_thread() {
  // A thread still running holds a pointer to this object; wait for it.
  if (m_busy.load() && !m_auto_delete) wait_for_completion();
}

bool portable_thread::create_and_start(body_function body, void* argument, bool auto_delete) {
  m_body = body;
  m_argument = argument;
  m_auto_delete = auto_delete;
  m_busy = true;
  m_running = true;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  // Never joined: completion is seen through the busy flag.
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  const int error = pthread_create(&m_thread, &attributes, &portable_thread::entry, this);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    m_busy = false;
    m_running = false;
    return false;
  }
  return true;
}

void portable_thread::wait_for_completion() {
  // A short poll: the children of a split run often finish in well under a
  // second, and every poll period is added to the run's wall time.
  while (m_busy.load()) usleep(2000);
  m_running = false;
}

void* portable_thread::entry(void* self) {
  auto* thread = static_cast<portable_thread*>(self);
  thread->m_body(thread->m_argument);
  if (thread->m_auto_delete) {
    delete thread;
    return nullptr;
  }
  thread->m_busy = false;
  return nullptr;
}

}  // namespace support
