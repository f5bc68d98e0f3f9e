// Helpers for the end-to-end tests that break things around a run: child
// processes started together, runs as an unprivileged user, a second
// throwaway server that a test may stop or kill, a small tmpfs, and the
// LD_PRELOAD library that makes extract writes fail.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "testsupport/temp_dir.h"
#include "testsupport/throwaway_mariadb.h"
#include "testsupport/tool_runner.h"
#include "testsupport/workspace.h"

namespace testsupport {

// Opens the workspace to other users: its directories can be entered, its
// files read, and the working directory written.
void OpenWorkspaceToOthers(const Workspace& ws);
// Runs tabfetch in `ws` so that file permission bits count: as the user
// nobody (uid 65534) when we are root, who ignores them; otherwise as
// ourselves.
ToolResult RunUnprivileged(const Workspace& ws,
                           const std::vector<std::string>& args,
                           const std::vector<std::string>& extra_env = {});
// Runs `body` in a child process, likewise without root's privileges, and
// returns what it returned; a child that could not drop root or did not end
// cleanly adds why to the text, so the caller's comparison fails.
// When root, `dir` is first opened to everyone, so that nobody reaches it.
std::string InChildWithoutPrivileges(const std::string& dir,
                                     const std::function<std::string()>& body);

// A throwaway server of a test's own (testsupport/throwaway_mariadb.sh), for
// tests that stop or kill it or change its global settings. Stopped and
// removed by the destructor.
class SecondServer {
 public:
  // `server_options`: further mariadbd options, blank-separated.
  explicit SecondServer(const std::string& server_options = "");
  ~SecondServer();
  SecondServer(const SecondServer&) = delete;
  SecondServer& operator=(const SecondServer&) = delete;

  // "" when the server runs, otherwise what went wrong starting it.
  const std::string& error() const { return error_; }
  const std::string& socket() const { return server_.socket; }
  pid_t pid() const { return server_.pid; }
  // The unprivileged user with all rights on PALVDATA, and its password.
  const std::string& user() const { return server_.user; }
  const std::string& password() const { return server_.password; }
  // Environment for a tabfetch run against this server.
  std::vector<std::string> Env() const;
  // Runs SQL as the server's root user; "" or the server's error text.
  std::string AdminSql(const std::string& sql) const;
  // The first column of the first row of a query run as root (with
  // `as_user`: as user(), asking for latin1 in the handshake as tabfetch
  // does), or "" (also on an error or without rows).
  std::string FirstValue(const std::string& sql, bool as_user = false) const;
  // Waits (WaitUntil) for FirstValue(sql) to give `value`.
  bool WaitForValue(const std::string& sql, const std::string& value) const;
  // Stops the server the regular way; "" or what went wrong.
  std::string Stop();

 private:
  TempDir state_;  // goes after the destructor has stopped the server
  std::string error_;
  TestServer server_;
};

// A tmpfs of `size_kb` kilobytes mounted on `dir` (which must exist) while
// the object lives. Mounting needs root; error() says why it failed.
class TmpfsMount {
 public:
  TmpfsMount(const std::string& dir, int size_kb);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

 private:
  std::string dir_;
  bool mounted_ = false;
  std::string error_;
};

// Settings for the failing-write library (testsupport/failing_write_shim.c);
// see the comment at its top for what each one does. Negative means unset.
struct WriteFault {
  std::string dir;  // the directory whose files are affected
  long write_limit = -1;
  long max_chunk = -1;
  long delay_us = -1;
  std::string ready = {};  // created after the first write
  std::string go = {};     // with `ready`: the run waits until this exists
};
// The environment lines that load the library into a tabfetch run.
std::vector<std::string> WriteFaultEnv(const WriteFault& fault);

// A TCP socket bound to a free port on 127.0.0.1, closed by the destructor.
// Bound only, it refuses connections; with `listening` the kernel accepts
// them (completes the handshake) and nothing ever answers.
class LoopbackPort {
 public:
  explicit LoopbackPort(bool listening);
  ~LoopbackPort();
  LoopbackPort(const LoopbackPort&) = delete;
  LoopbackPort& operator=(const LoopbackPort&) = delete;

  // The port as text, "" when the socket could not be made.
  const std::string& port() const { return port_; }

 private:
  int fd_ = -1;
  std::string port_;
};

// The entries of a directory, sorted ("." and ".." left out).
std::vector<std::string> ListDirectory(const std::string& dir);

}  // namespace testsupport
