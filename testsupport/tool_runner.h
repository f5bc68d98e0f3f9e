// Runs the real tabfetch binary as a child process in a prepared working
// directory and captures what it prints.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

struct ToolResult {
  int exit_code = -1;    // -1 when the process did not exit normally
  int signal = 0;        // the signal that ended it, if any
  std::string out;       // standard output
  std::string err;       // standard error
};

// A child process started by StartTool and not yet waited for.
struct StartedTool {
  pid_t pid = -1;
  int out_fd = -1;
  int err_fd = -1;
};

// Starts `binary` like RunTool, without waiting for it. With `unprivileged`
// the child first gives up root (BecomeUnprivileged).
StartedTool StartTool(const std::string& binary, const std::string& cwd,
                      const std::vector<std::string>& args,
                      const std::vector<std::string>& extra_env = {},
                      bool unprivileged = false);
// For a child process: when it runs as root, who ignores file permission
// bits, becomes the user nobody (uid and gid 65534, no supplementary
// groups). "" on success or when not root, else what failed.
std::string BecomeUnprivileged();

// Waits for the child and returns its exit code and output.
ToolResult WaitTool(StartedTool& tool);

// Starts `binary` with `args` (argv[1..]) in `cwd`, with the current
// environment plus `extra_env` ("NAME=value"), waits for it and returns its
// exit code and output.
ToolResult RunTool(const std::string& binary, const std::string& cwd,
                   const std::vector<std::string>& args,
                   const std::vector<std::string>& extra_env = {});

// Asks `done` every 20 ms until it says true, for at most `seconds`; false
// when it never did.
bool WaitUntil(const std::function<bool()>& done, int seconds = 60);

}  // namespace testsupport
