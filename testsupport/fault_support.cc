// Child processes, an unprivileged user, a second server, a tmpfs and the
// failing-write library for the fault and concurrency tests.
#include "testsupport/fault_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifndef TABFETCH_SERVER_SCRIPT
#error "TABFETCH_SERVER_SCRIPT must name testsupport/throwaway_mariadb.sh"
#endif
#ifndef FAILING_WRITE_SHIM
#error "FAILING_WRITE_SHIM must name the failing-write library"
#endif

namespace testsupport {

void OpenWorkspaceToOthers(const Workspace& ws) {
  namespace fs = std::filesystem;
  fs::permissions(ws.root(), fs::perms::owner_all | fs::perms::group_read |
                                 fs::perms::group_exec |
                                 fs::perms::others_read |
                                 fs::perms::others_exec);
  for (const auto& entry : fs::recursive_directory_iterator(ws.root())) {
    if (entry.is_directory()) {
      fs::permissions(entry.path(),
                      fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec,
                      fs::perm_options::add);
    } else {
      fs::permissions(entry.path(),
                      fs::perms::group_read | fs::perms::others_read,
                      fs::perm_options::add);
    }
  }
  fs::permissions(ws.cwd(), fs::perms::all);
}

ToolResult RunUnprivileged(const Workspace& ws,
                           const std::vector<std::string>& args,
                           const std::vector<std::string>& extra_env) {
  StartedTool tool =
      StartTool(Workspace::Binary(), ws.cwd(), args, extra_env, true);
  return WaitTool(tool);
}

std::string InChildWithoutPrivileges(
    const std::string& dir, const std::function<std::string()>& body) {
  if (::geteuid() == 0) {
    // nobody must reach the test directory.
    std::filesystem::permissions(dir, std::filesystem::perms::all,
                                 std::filesystem::perm_options::add);
  }
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    // Without the switch the body runs with root's rights, and its
    // expectations fail; this says why.
    std::string result = BecomeUnprivileged();
    result += body();
    const bool ok = ::write(fds[1], result.data(), result.size()) ==
                    static_cast<ssize_t>(result.size());
    _exit(ok ? 0 : 4);
  }
  ::close(fds[1]);
  std::string result;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) result.append(buf, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    result += "<child status " + std::to_string(status) + ">";
  }
  return result;
}

SecondServer::SecondServer(const std::string& server_options) {
  ToolResult r = RunTool(TABFETCH_SERVER_SCRIPT, "/", {"start", state_.path()},
                         {"TABFETCH_DB_SERVER_OPTIONS=" + server_options});
  if (r.exit_code != 0) {
    error_ = "starting a second server failed: " + r.out + r.err;
    return;
  }
  ReadServerState(state_.path(), server_, &error_);
}

SecondServer::~SecondServer() { Stop(); }

std::vector<std::string> SecondServer::Env() const {
  return {"MYSQL_UNIX_PORT=" + server_.socket,
          "MYSQL_TCP_PORT=" + std::to_string(server_.port)};
}

std::string SecondServer::AdminSql(const std::string& sql) const {
  return RunAdminSqlOn(server_, sql);
}

bool SecondServer::WaitForValue(const std::string& sql,
                                const std::string& value) const {
  return WaitUntil([&] { return FirstValue(sql) == value; });
}

std::string SecondServer::FirstValue(const std::string& sql,
                                     bool as_user) const {
  return FirstValueOn(server_, sql, as_user);
}

std::string SecondServer::Stop() {
  ToolResult r = RunTool(TABFETCH_SERVER_SCRIPT, "/", {"stop", state_.path()});
  return r.exit_code == 0 ? "" : r.out + r.err;
}

TmpfsMount::TmpfsMount(const std::string& dir, int size_kb) : dir_(dir) {
  // mode 755 as for a plain directory (a tmpfs root is 1777 by default).
  const std::string options = "size=" + std::to_string(size_kb) + "k,mode=755";
  if (::mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
              options.c_str()) == 0) {
    mounted_ = true;
  } else {
    error_ = std::string("mount -t tmpfs: ") + std::strerror(errno);
  }
}

TmpfsMount::~TmpfsMount() {
  if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
}

LoopbackPort::LoopbackPort(bool listening) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      (listening && ::listen(fd_, 8) != 0) ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return;
  }
  port_ = std::to_string(ntohs(addr.sin_port));
}

LoopbackPort::~LoopbackPort() {
  if (fd_ >= 0) ::close(fd_);
}

std::vector<std::string> WriteFaultEnv(const WriteFault& fault) {
  // A sanitizer build wants its runtime first in the library list; the
  // preloaded library only wraps a few calls, so let it come first.
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::vector<std::string> env = {
      std::string("LD_PRELOAD=") + FAILING_WRITE_SHIM,
      std::string("ASAN_OPTIONS=") +
          (asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") +
          "verify_asan_link_order=0",
      "FAILSHIM_DIR=" + fault.dir};
  auto number = [&env](const char* name, long value) {
    if (value >= 0) env.push_back(name + ("=" + std::to_string(value)));
  };
  number("FAILSHIM_WRITE_LIMIT", fault.write_limit);
  number("FAILSHIM_MAX_CHUNK", fault.max_chunk);
  number("FAILSHIM_DELAY_US", fault.delay_us);
  if (!fault.ready.empty()) env.push_back("FAILSHIM_READY=" + fault.ready);
  if (!fault.go.empty()) env.push_back("FAILSHIM_GO=" + fault.go);
  return env;
}

std::vector<std::string> ListDirectory(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace testsupport
