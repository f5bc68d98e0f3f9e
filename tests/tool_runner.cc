// fork/exec with both output streams captured through temporary files (no
// pipe juggling, nothing can dead-lock on a full pipe).
#include "tests/tool_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace testsupport {
namespace {

std::string ReadAll(int fd) {
  std::string s;
  ::lseek(fd, 0, SEEK_SET);
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) s.append(buf, buf + n);
  return s;
}

int TempFd() {
  char name[] = "/tmp/tabfetch-out.XXXXXX";
  int fd = ::mkstemp(name);
  if (fd >= 0) ::unlink(name);
  return fd;
}

}  // namespace

ToolResult RunTool(const std::string& binary, const std::string& cwd,
                   const std::vector<std::string>& args,
                   const std::vector<std::string>& extra_env) {
  ToolResult result;
  int out_fd = TempFd();
  int err_fd = TempFd();
  if (out_fd < 0 || err_fd < 0) {
    result.err = "cannot create capture files";
    return result;
  }
  std::vector<std::string> argv_storage;
  argv_storage.push_back(binary);
  argv_storage.insert(argv_storage.end(), args.begin(), args.end());

  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0) ::dup2(null_fd, 0);
    if (::chdir(cwd.c_str()) != 0) _exit(126);
    for (const auto& e : extra_env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv;
    for (auto& a : argv_storage) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0) {
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  result.out = ReadAll(out_fd);
  result.err = ReadAll(err_fd);
  ::close(out_fd);
  ::close(err_fd);
  return result;
}

}  // namespace testsupport
