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

std::string Line(const std::string& text) { return "tabfetch: " + text + "\n"; }

constexpr char kSecondsRule[] =
    " is not a whole number of seconds from 0 to 86400; ";

// One table for every variable: the value read and the line it gives (none
// for a good value, an unset or an empty one).
TEST(EnvironmentTest, EveryVariableByOneRuleSet) {
  using std::chrono::seconds;
  struct Case {
    const char* name;
    std::string value;
    bool (*holds)(const Environment&);
    std::string said;
  };
  const Case kCases[] = {
      {"TABFETCH_STRICT_EXIT", "1", [](const Environment& e) { return e.strict_exit; }, ""},
      {"TABFETCH_STRICT_EXIT", "0", [](const Environment& e) { return !e.strict_exit; }, ""},
      {"TABFETCH_STRICT_EXIT", "", [](const Environment& e) { return !e.strict_exit; }, ""},
      {"TABFETCH_STRICT_EXIT", "ja", [](const Environment& e) { return !e.strict_exit; },
       Line("TABFETCH_STRICT_EXIT=ja is neither 0 nor 1; the legacy exit codes apply")},
      {"TABFETCH_PROFILE", "1", [](const Environment& e) { return e.profile; }, ""},
      // 0, no and false never switch the profile on.
      {"TABFETCH_PROFILE", "0", [](const Environment& e) { return !e.profile; }, ""},
      {"TABFETCH_PROFILE", "no", [](const Environment& e) { return !e.profile; },
       Line("TABFETCH_PROFILE=no is neither 0 nor 1; no profile is printed")},
      {"TABFETCH_PROGRESS", "0",
       [](const Environment& e) { return e.progress == ProgressMode::kOff; }, ""},
      {"TABFETCH_PROGRESS", "1",
       [](const Environment& e) { return e.progress == ProgressMode::kOn; }, ""},
      {"TABFETCH_PROGRESS", "yes",
       [](const Environment& e) { return e.progress == ProgressMode::kAuto; },
       Line("TABFETCH_PROGRESS=yes is neither 0 nor 1; progress is shown only on "
            "a terminal")},
      {"TABFETCH_LOCK_TIMEOUT", "0",
       [](const Environment& e) { return e.lock_timeout == seconds(0); }, ""},
      {"TABFETCH_LOCK_TIMEOUT", "007",
       [](const Environment& e) { return e.lock_timeout == seconds(7); }, ""},
      {"TABFETCH_LOCK_TIMEOUT", "86400",
       [](const Environment& e) { return e.lock_timeout == seconds(86400); }, ""},
      {"TABFETCH_LOCK_TIMEOUT", "86401",
       [](const Environment& e) { return e.lock_timeout == seconds(86400); },
       Line("TABFETCH_LOCK_TIMEOUT=86401 is more than 86400 seconds; 86400 s "
            "are used")},
      {"TABFETCH_LOCK_TIMEOUT", "99999999999999999999",
       [](const Environment& e) { return e.lock_timeout == seconds(86400); },
       Line("TABFETCH_LOCK_TIMEOUT=99999999999999999999 is more than 86400 "
            "seconds; 86400 s are used")},
      {"TABFETCH_LOCK_TIMEOUT", "-1",
       [](const Environment& e) { return e.lock_timeout == seconds(30); },
       Line(std::string("TABFETCH_LOCK_TIMEOUT=-1") + kSecondsRule + "waiting 30 s")},
      {"TABFETCH_LOCK_TIMEOUT", " 5",
       [](const Environment& e) { return e.lock_timeout == seconds(30); },
       Line(std::string("TABFETCH_LOCK_TIMEOUT= 5") + kSecondsRule + "waiting 30 s")},
      {"TABFETCH_CONNECT_TIMEOUT", "2",
       [](const Environment& e) { return e.connect_timeout == seconds(2); }, ""},
      {"TABFETCH_CONNECT_TIMEOUT", "1.5",
       [](const Environment& e) { return e.connect_timeout == seconds(30); },
       Line(std::string("TABFETCH_CONNECT_TIMEOUT=1.5") + kSecondsRule +
            "waiting 30 s")},
      {"TABFETCH_READ_TIMEOUT", "",
       [](const Environment& e) { return e.read_timeout == seconds(0); }, ""},
      {"TABFETCH_READ_TIMEOUT", "5s",
       [](const Environment& e) { return e.read_timeout == seconds(0); },
       Line(std::string("TABFETCH_READ_TIMEOUT=5s") + kSecondsRule +
            "no read timeout")},
      // A line feed in a value is shown escaped, never raw.
      {"TABFETCH_READ_TIMEOUT", "1\n2",
       [](const Environment& e) { return e.read_timeout == seconds(0); },
       Line(std::string("TABFETCH_READ_TIMEOUT=1\\x0A2") + kSecondsRule +
            "no read timeout")},
      {"TABFETCH_MEMORY_BUDGET", "",
       [](const Environment& e) { return e.memory_budget == 0; }, ""},
      {"TABFETCH_MEMORY_BUDGET", "000001",
       [](const Environment& e) { return e.memory_budget == 1; }, ""},
      {"TABFETCH_MEMORY_BUDGET", "512m",
       [](const Environment& e) { return e.memory_budget == std::size_t{512} << 20; },
       ""},
      {"TABFETCH_MEMORY_BUDGET", "2G",
       [](const Environment& e) { return e.memory_budget == std::size_t{2} << 30; },
       ""},
      {"TABFETCH_MEMORY_BUDGET", "99999999G",
       [](const Environment& e) { return e.memory_budget == kMaxMemoryBudget; },
       Line("TABFETCH_MEMORY_BUDGET \"99999999G\" is more than 1099511627776 "
            "bytes; 1099511627776 are used")},
      {"TABFETCH_MEMORY_BUDGET", "18446744073709551615",
       [](const Environment& e) { return e.memory_budget == kMaxMemoryBudget; },
       Line("TABFETCH_MEMORY_BUDGET \"18446744073709551615\" is more than "
            "1099511627776 bytes; 1099511627776 are used")},
      {"TABFETCH_DEFAULTS_FILE", "/etc/x.cnf",
       [](const Environment& e) { return e.defaults_file == "/etc/x.cnf"; }, ""},
      {"TMPDIR", "", [](const Environment& e) { return e.temp_dir == "/tmp"; }, ""},
      {"TMPDIR", "/var/tmp",
       [](const Environment& e) { return e.temp_dir == "/var/tmp"; }, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    const Read r = ReadFrom({{c.name, c.value}});
    EXPECT_TRUE(c.holds(r.env));
    EXPECT_EQ(r.said, c.said);
  }
  // Bad budgets name the default, whose size depends on the machine.
  for (const char* bad : {"0", "00000", "viel", "5T", "1.5G", "G", "-5", " 5",
                          "5 ", "5MB", "5KK"}) {
    SCOPED_TRACE(bad);
    const Read r = ReadFrom({{"TABFETCH_MEMORY_BUDGET", bad}});
    EXPECT_EQ(r.env.memory_budget, 0u);
    EXPECT_EQ(r.said.rfind(std::string("tabfetch: TABFETCH_MEMORY_BUDGET \"") +
                               bad + "\" is not a number of bytes (with K, M "
                                     "or G); the default of ",
                           0),
              0u)
        << r.said;
  }
  // Nothing set: every default, nothing said.
  const Read none = ReadFrom({});
  EXPECT_EQ(none.said, "");
  EXPECT_EQ(none.env.lock_timeout, seconds(30));
  EXPECT_EQ(none.env.connect_timeout, seconds(30));
  EXPECT_EQ(none.env.progress, ProgressMode::kAuto);
}

}  // namespace
}  // namespace run
