#include "run/environment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace run {
namespace {

// The environment of one case, and what reading it said on standard error.
struct Read {
  Environment env;
  std::string said;
};

Read ReadFrom(const std::map<std::string, std::string>& vars) {
  char* buf = nullptr;
  size_t len = 0;
  std::FILE* err = open_memstream(&buf, &len);
  Read r;
  r.env = ReadEnvironment(
      [&vars](const char* name) -> const char* {
        const auto it = vars.find(name);
        return it == vars.end() ? nullptr : it->second.c_str();
      },
      err);
  std::fclose(err);
  r.said.assign(buf, len);
  std::free(buf);
  return r;
}

// The fields of an environment as one text, so that a case names only the
// field it sets.
std::string Field(const Environment& e, const std::string& name) {
  const char* progress[] = {"auto", "off", "on"};
  if (name == "TABFETCH_STRICT_EXIT") return std::to_string(e.strict_exit);
  if (name == "TABFETCH_PROFILE") return std::to_string(e.profile);
  if (name == "TABFETCH_PROGRESS")
    return progress[static_cast<int>(e.progress)];
  if (name == "TABFETCH_MEMORY_BUDGET") return std::to_string(e.memory_budget);
  if (name == "TABFETCH_LOCK_TIMEOUT")
    return std::to_string(e.lock_timeout.count());
  if (name == "TABFETCH_CONNECT_TIMEOUT")
    return std::to_string(e.connect_timeout.count());
  if (name == "TABFETCH_READ_TIMEOUT")
    return std::to_string(e.read_timeout.count());
  if (name == "TABFETCH_DEFAULTS_FILE") return e.defaults_file;
  return e.temp_dir;  // TMPDIR
}

constexpr char kSeconds[] =
    " is not a whole number of seconds from 0 to 86400; ";
constexpr char kTooLong[] = " is more than 86400 seconds; 86400 s are used";
constexpr char kTooLarge[] =
    "\" is more than 1099511627776 bytes; 1099511627776 are used";

// One table for every variable: the value read and the line it gives (none
// for a good value, an unset or an empty one).
TEST(EnvironmentTest, EveryVariableByOneRuleSet) {
  struct Case {
    std::string name, value, read, said;
  };
  const Case kCases[] = {
      {"TABFETCH_STRICT_EXIT", "1", "1", ""},
      {"TABFETCH_STRICT_EXIT", "", "0", ""},
      {"TABFETCH_STRICT_EXIT", "ja", "0",
       "TABFETCH_STRICT_EXIT=ja is neither 0 nor 1; the legacy exit codes "
       "apply"},
      {"TABFETCH_PROFILE", "1", "1", ""},
      // 0, no and false never switch the profile on.
      {"TABFETCH_PROFILE", "0", "0", ""},
      {"TABFETCH_PROFILE", "no", "0",
       "TABFETCH_PROFILE=no is neither 0 nor 1; no profile is printed"},
      {"TABFETCH_PROGRESS", "0", "off", ""},
      {"TABFETCH_PROGRESS", "1", "on", ""},
      {"TABFETCH_PROGRESS", "yes", "auto",
       "TABFETCH_PROGRESS=yes is neither 0 nor 1; progress is shown only on a "
       "terminal"},
      {"TABFETCH_LOCK_TIMEOUT", "0", "0", ""},
      {"TABFETCH_LOCK_TIMEOUT", "007", "7", ""},
      {"TABFETCH_LOCK_TIMEOUT", "86400", "86400", ""},
      {"TABFETCH_LOCK_TIMEOUT", "86401", "86400",
       std::string("TABFETCH_LOCK_TIMEOUT=86401") + kTooLong},
      {"TABFETCH_LOCK_TIMEOUT", "99999999999999999999", "86400",
       std::string("TABFETCH_LOCK_TIMEOUT=99999999999999999999") + kTooLong},
      {"TABFETCH_LOCK_TIMEOUT", "-1", "30",
       std::string("TABFETCH_LOCK_TIMEOUT=-1") + kSeconds + "waiting 30 s"},
      {"TABFETCH_LOCK_TIMEOUT", " 5", "30",
       std::string("TABFETCH_LOCK_TIMEOUT= 5") + kSeconds + "waiting 30 s"},
      {"TABFETCH_CONNECT_TIMEOUT", "2", "2", ""},
      {"TABFETCH_CONNECT_TIMEOUT", "1.5", "30",
       std::string("TABFETCH_CONNECT_TIMEOUT=1.5") + kSeconds + "waiting 30 s"},
      {"TABFETCH_READ_TIMEOUT", "", "0", ""},
      {"TABFETCH_READ_TIMEOUT", "5s", "0",
       std::string("TABFETCH_READ_TIMEOUT=5s") + kSeconds + "no read timeout"},
      // A line feed in a value is shown escaped, never raw.
      {"TABFETCH_READ_TIMEOUT", "1\n2", "0",
       std::string("TABFETCH_READ_TIMEOUT=1\\x0A2") + kSeconds +
           "no read timeout"},
      {"TABFETCH_MEMORY_BUDGET", "", "0", ""},
      {"TABFETCH_MEMORY_BUDGET", "000001", "1", ""},
      {"TABFETCH_MEMORY_BUDGET", "512m", std::to_string(512u << 20), ""},
      {"TABFETCH_MEMORY_BUDGET", "2G", std::to_string(std::size_t{2} << 30),
       ""},
      {"TABFETCH_MEMORY_BUDGET", "99999999G", std::to_string(kMaxMemoryBudget),
       std::string("TABFETCH_MEMORY_BUDGET \"99999999G") + kTooLarge},
      {"TABFETCH_MEMORY_BUDGET", "18446744073709551615",
       std::to_string(kMaxMemoryBudget),
       std::string("TABFETCH_MEMORY_BUDGET \"18446744073709551615") +
           kTooLarge},
      {"TABFETCH_DEFAULTS_FILE", "/etc/x.cnf", "/etc/x.cnf", ""},
      {"TMPDIR", "", "/tmp", ""},
      {"TMPDIR", "/var/tmp", "/var/tmp", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name + "=" + c.value);
    const Read r = ReadFrom({{c.name, c.value}});
    EXPECT_EQ(Field(r.env, c.name), c.read);
    EXPECT_EQ(r.said, c.said.empty() ? "" : "tabfetch: " + c.said + "\n");
  }
  // Bad budgets name the default, whose size depends on the machine.
  for (const char* bad : {"0", "00000", "viel", "5T", "1.5G", "G", "-5", " 5",
                          "5 ", "5MB", "5KK"}) {
    SCOPED_TRACE(bad);
    const Read r = ReadFrom({{"TABFETCH_MEMORY_BUDGET", bad}});
    EXPECT_EQ(r.env.memory_budget, 0u);
    EXPECT_EQ(
        r.said.rfind(std::string("tabfetch: TABFETCH_MEMORY_BUDGET \"") + bad +
                         "\" is not a number of bytes (with K, M "
                         "or G); the default of ",
                     0),
        0u)
        << r.said;
  }
  // Nothing set: every default, nothing said.
  const Read none = ReadFrom({});
  EXPECT_EQ(none.said, "");
  EXPECT_EQ(none.env.lock_timeout, std::chrono::seconds(30));
  EXPECT_EQ(none.env.connect_timeout, std::chrono::seconds(30));
  EXPECT_EQ(none.env.progress, ProgressMode::kAuto);
}

}  // namespace
}  // namespace run
