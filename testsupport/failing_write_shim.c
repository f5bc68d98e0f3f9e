/* Test-only LD_PRELOAD library: makes the system calls that write an extract
 * file behave like a full or failing disk, or like a slow one, for the files
 * in one directory. Everything else passes straight through.
 *
 * Environment (read at every call, so a test sets it per child process):
 *   FAILSHIM_DIR          the directory whose files are affected (required;
 *                         without it the library does nothing)
 *   FAILSHIM_WRITE_LIMIT  bytes the process may write to those files in all;
 *                         the write that crosses the limit is cut short, every
 *                         later one fails with ENOSPC
 *   FAILSHIM_MAX_CHUNK    a write takes at most this many bytes (short writes)
 *   FAILSHIM_DELAY_US     sleep this long before each write to those files
 *   FAILSHIM_READY        after the first write to those files, create this
 *                         file, so that a test knows the run is writing
 *   FAILSHIM_GO           with FAILSHIM_READY: then wait until this file
 *                         exists before going on (a test acts in between)
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

typedef ssize_t (*WriteFn)(int, const void*, size_t);

/* dlsym hands out an object pointer; copy it into a function pointer. */
static WriteFn RealWrite(void) {
  static WriteFn fn;
  if (fn == NULL) {
    void* p = dlsym(RTLD_NEXT, "write");
    memcpy(&fn, &p, sizeof fn);
  }
  return fn;
}

static long EnvNumber(const char* name, long fallback) {
  const char* v = getenv(name);
  if (v == NULL || *v == '\0') return fallback;
  return strtol(v, NULL, 10);
}

/* Whether fd is an open file inside FAILSHIM_DIR. */
static int OnTarget(int fd) {
  const char* dir = getenv("FAILSHIM_DIR");
  if (dir == NULL || *dir == '\0' || fd < 0) return 0;
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char path[PATH_MAX + 1];
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n < 0) return 0;
  path[n] = '\0';
  size_t len = strlen(dir);
  return strncmp(path, dir, len) == 0 && path[len] == '/';
}

static long written_so_far;
static int announced;

/* The pause after the first write: FAILSHIM_READY appears, and the write
 * returns once FAILSHIM_GO exists. */
static void AnnounceFirstWrite(void) {
  const char* ready = getenv("FAILSHIM_READY");
  if (announced || ready == NULL || *ready == '\0') return;
  announced = 1;
  int fd = open(ready, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) close(fd);
  const char* go = getenv("FAILSHIM_GO");
  if (go == NULL || *go == '\0') return;
  struct timespec ts = {0, 1000000};
  while (access(go, F_OK) != 0) nanosleep(&ts, NULL);
}

ssize_t write(int fd, const void* data, size_t size) {
  if (!OnTarget(fd)) return RealWrite()(fd, data, size);
  long delay = EnvNumber("FAILSHIM_DELAY_US", 0);
  if (delay > 0) {
    struct timespec ts = {delay / 1000000, (delay % 1000000) * 1000};
    nanosleep(&ts, NULL);
  }
  long chunk = EnvNumber("FAILSHIM_MAX_CHUNK", 0);
  if (chunk > 0 && size > (size_t)chunk) size = (size_t)chunk;
  long limit = EnvNumber("FAILSHIM_WRITE_LIMIT", -1);
  if (limit >= 0) {
    long room = limit - written_so_far;
    if (room <= 0) {
      errno = ENOSPC;
      return -1;
    }
    if (size > (size_t)room) size = (size_t)room;
  }
  ssize_t n = RealWrite()(fd, data, size);
  if (n > 0) {
    written_so_far += n;
    AnnounceFirstWrite();
  }
  return n;
}
