// The undo of an interrupted extract write. The handler only reads a few
// lock-free atomics that the writer fills before each step it may have to
// undo, and calls async-signal-safe functions (ftruncate, pwrite, fsync,
// unlink, sigaction, raise, pthread_kill, pthread_sigmask).
#include "extract/signal_cleanup.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "common/file_util.h"

namespace extract {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

std::atomic<bool> installed{false};
pthread_t owner;  // the writing thread; set once, before `installed`

// The armed undo. `fd` >= 0 arms the cut-back; it is set last and cleared
// first, so the handler never sees half of an undo.
std::atomic<const char*> remove_path{nullptr};
std::atomic<int> cut_fd{-1};
std::atomic<off_t> cut_length{0};
std::atomic<const char*> restore_data{nullptr};
std::atomic<std::size_t> restore_size{0};

static_assert(std::atomic<const char*>::is_always_lock_free &&
                  std::atomic<int>::is_always_lock_free &&
                  std::atomic<off_t>::is_always_lock_free &&
                  std::atomic<std::size_t>::is_always_lock_free,
              "the signal handler may only read lock-free atomics");

void Undo() {
  const int fd = cut_fd.load();
  if (fd >= 0 && ::ftruncate(fd, cut_length.load()) == 0) {
    const char* data = restore_data.load();
    if (data != nullptr) {
      (void)common::PwriteAll(common::SystemFileOps(), fd, data,
                              restore_size.load(), 0);
    }
    (void)::fsync(fd);
  }
  const char* path = remove_path.load();
  if (path == nullptr) return;
  // A file this run created goes again, but only while the path still names
  // it: another process may have renamed a file of its own over it.
  if (fd >= 0 && !common::StillNamed(fd, path)) return;
  (void)::unlink(path);
}

void OnSignal(int sig) {
  const int saved_errno = errno;
  if (!pthread_equal(::pthread_self(), owner)) {
    // The writing thread undoes its own work: stopped by the handler, it
    // cannot write behind the undo's back.
    (void)::pthread_kill(owner, sig);
    errno = saved_errno;
    return;
  }
  Undo();
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  (void)::sigaction(sig, &dfl, nullptr);
  (void)::raise(sig);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  (void)::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  // Not reached for these signals: their default action ends the process.
  errno = saved_errno;
}

}  // namespace

void InstallSignalCleanup() {
  if (installed.exchange(true)) return;
  owner = ::pthread_self();
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : kSignals) sigaddset(&action.sa_mask, sig);
  action.sa_flags = SA_RESTART;
  for (int sig : kSignals) {
    struct sigaction old = {};
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) {
      continue;
    }
    (void)::sigaction(sig, &action, nullptr);
  }
}

namespace signal_undo {

void RemoveFile(const char* path) { remove_path.store(path); }

void CutBack(int fd, off_t length, const char* restore,
             std::size_t restore_length) {
  cut_fd.store(-1);
  cut_length.store(length);
  restore_data.store(restore);
  restore_size.store(restore != nullptr ? restore_length : 0);
  cut_fd.store(fd);
}

void Disarm() {
  cut_fd.store(-1);
  remove_path.store(nullptr);
  restore_data.store(nullptr);
  restore_size.store(0);
}

}  // namespace signal_undo
}  // namespace extract
