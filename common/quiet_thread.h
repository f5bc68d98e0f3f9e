// Threads that never take a signal: the one helper that starts them.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace common {

// Blocks every signal on this thread for the object's lifetime, and puts
// the earlier mask back however the scope is left.
class BlockAllSignals {
 public:
  BlockAllSignals() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old_);
  }
  ~BlockAllSignals() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  BlockAllSignals(const BlockAllSignals&) = delete;
  BlockAllSignals& operator=(const BlockAllSignals&) = delete;

 private:
  sigset_t old_;
};

// Starts `body` on a new thread with every signal blocked in it (a thread
// takes the mask of its maker), so that signals go to the main thread,
// whose handlers undo its writes and end the process. Returns a thread that
// is not joinable when none can be had (no memory, no thread): the caller
// then does the work itself. The caller's mask is as before either way.
template <typename Body>
std::thread StartQuietThread(Body&& body) {
  BlockAllSignals blocked;
  try {
    return std::thread(std::forward<Body>(body));
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  return std::thread();
}

}  // namespace common
