// fork/exec with both output streams captured through temporary files (no
// pipe juggling, nothing can dead-lock on a full pipe).
#include "testsupport/tool_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "testsupport/temp_dir.h"

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

// An unnamed file in the temporary directory (TMPDIR honoured).
int TempFd() {
  std::string name = TempPath("tabfetch-out.XXXXXX");
  int fd = ::mkstemp(name.data());
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

}  // namespace

std::string BecomeUnprivileged() {
  constexpr uid_t kNobody = 65534;
  constexpr gid_t kNogroup = 65534;
  if (::geteuid() != 0) return "";
  if (::setgroups(0, nullptr) != 0 || ::setgid(kNogroup) != 0 ||
      ::setuid(kNobody) != 0) {
    return std::string("cannot switch to user nobody: ") +
           std::strerror(errno);
  }
  return "";
}

StartedTool StartTool(const std::string& binary, const std::string& cwd,
                      const std::vector<std::string>& args,
                      const std::vector<std::string>& extra_env,
                      bool unprivileged) {
  StartedTool tool;
  tool.out_fd = TempFd();
  tool.err_fd = TempFd();
  if (tool.out_fd < 0 || tool.err_fd < 0) return tool;
  std::vector<std::string> argv_storage;
  argv_storage.push_back(binary);
  argv_storage.insert(argv_storage.end(), args.begin(), args.end());
  std::vector<std::string> env_storage(extra_env);
  std::vector<char*> argv;
  for (auto& a : argv_storage) argv.push_back(a.data());
  argv.push_back(nullptr);

  tool.pid = ::fork();
  if (tool.pid == 0) {
    ::dup2(tool.out_fd, 1);
    ::dup2(tool.err_fd, 2);
    int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0) ::dup2(null_fd, 0);
    if (::chdir(cwd.c_str()) != 0) _exit(126);
    if (unprivileged) {
      const std::string failed = BecomeUnprivileged();
      if (!failed.empty()) {
        std::fprintf(stderr, "%s\n", failed.c_str());
        _exit(125);
      }
    }
    for (auto& e : env_storage) ::putenv(e.data());
    ::execv(binary.c_str(), argv.data());
    _exit(127);
  }
  return tool;
}

ToolResult WaitTool(StartedTool& tool) {
  ToolResult result;
  if (tool.pid > 0) {
    int status = 0;
    while (::waitpid(tool.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  } else {
    result.err = "could not start the process";
  }
  if (tool.out_fd >= 0) {
    result.out = ReadAll(tool.out_fd);
    ::close(tool.out_fd);
  }
  if (tool.err_fd >= 0) {
    result.err += ReadAll(tool.err_fd);
    ::close(tool.err_fd);
  }
  tool = StartedTool();
  return result;
}

ToolResult RunTool(const std::string& binary, const std::string& cwd,
                   const std::vector<std::string>& args,
                   const std::vector<std::string>& extra_env) {
  StartedTool tool = StartTool(binary, cwd, args, extra_env);
  return WaitTool(tool);
}

bool WaitUntil(const std::function<bool()>& done, int seconds) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace testsupport
