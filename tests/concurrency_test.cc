// Several tabfetch runs writing the same extract file at the same time. Each
// run's records must end up in the file as one whole, sorted block (or not at
// all), never interleaved with another run's, and a failing run's rollback
// must not cut records that another run appended.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "testsupport/fault_support.h"
#include "testsupport/legacy_texts.h"
#include "testsupport/throwaway_mariadb.h"

namespace {

using testsupport::ToolResult;
using testsupport::Workspace;
using testsupport::WriteFault;

constexpr int kRuns = 8;
// Rows a run writes: 40,000 records of 100 bytes (about 4 MB, several write
// calls per run, so that unlocked runs would interleave).
constexpr int kRows = 40000;

// A run's terminal name goes into every record, so each run's block differs.
std::string Terminal(int run) { return "LAUF" + std::to_string(run); }

const char kQueryDefinition[] =
    "[LAUF]\n"
    "SQL001=SELECT '$parm01', LPAD(seq, 8, '0'),\n"
    "SQL002=REPEAT(CHAR(65 + seq % 26), 82) FROM seq_1_to_40000\n"
    "FELD01=T\nFTYP01=CHAR\nFLEN01=10\n"
    "FELD02=N\nFTYP02=CHAR\nFLEN02=8\n"
    "FELD03=X\nFTYP03=CHAR\nFLEN03=82\n";

// The extract of one run, as it sorts.
std::string ExpectedExtract(int run) {
  std::string terminal = Terminal(run);
  terminal.resize(10, ' ');
  std::string out;
  out.reserve(static_cast<size_t>(kRows) * 100);
  for (int seq = 1; seq <= kRows; ++seq) {
    const std::string n = std::to_string(seq);
    out += terminal;
    out += std::string(8 - n.size(), '0') + n;
    out += std::string(82, static_cast<char>('A' + seq % 26));
  }
  return out;
}

std::string Summary(int records) {
  return testsupport::Summary(records, "out.txt");
}

// Which run each block of the file came from, block by block; -1 for a block
// that is no run's whole extract (a cut or interleaved block).
std::vector<int> BlocksOf(const std::string& file,
                          const std::vector<std::string>& extracts) {
  const size_t size = extracts.front().size();
  std::vector<int> blocks;
  for (size_t pos = 0; pos < file.size(); pos += size) {
    const std::string block = file.substr(pos, size);
    int from = -1;
    for (size_t run = 0; run < extracts.size(); ++run) {
      if (block == extracts[run]) from = static_cast<int>(run);
    }
    blocks.push_back(from);
  }
  return blocks;
}

struct RunSpec {
  int run = 0;  // 0-based; the terminal is LAUF<run+1>
  const char* flag = "0";
  std::vector<std::string> env;
};

class ConcurrencyTest : public testsupport::WorkspaceTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    WriteServerFiles(kQueryDefinition);
    for (int run = 1; run <= kRuns; ++run) {
      extracts_.push_back(ExpectedExtract(run));
    }
  }

  // Starts every run before waiting for the first.
  std::vector<ToolResult> RunTogether(const std::vector<RunSpec>& specs) {
    std::vector<testsupport::StartedTool> started;
    for (const RunSpec& s : specs) {
      started.push_back(testsupport::StartTool(
          Workspace::Binary(), ws_.cwd(),
          {"LAUF", Terminal(s.run + 1), "out.txt", s.flag}, s.env));
    }
    std::vector<ToolResult> results;
    for (auto& t : started) results.push_back(testsupport::WaitTool(t));
    return results;
  }

  // Slows every write to the extract down and cuts it into 64 KiB pieces, so
  // that each run spends a long time writing while the others want to.
  std::vector<std::string> Paced(long write_limit = -1) const {
    return testsupport::WriteFaultEnv(
        WriteFault{ws_.cwd(), write_limit, 64 * 1024, 2000});
  }

  // No temporary file of a replacing run is left behind.
  void ExpectOnlyTheExtract() const {
    EXPECT_EQ(testsupport::ListDirectory(ws_.cwd()),
              (std::vector<std::string>{"TABFETCH.MARIADB.INI", "out.txt"}));
  }

  std::vector<std::string> extracts_;
};

// The file holds each of `runs` exactly once, as whole blocks in any order.
void ExpectWholeBlocksOf(const std::string& file,
                         const std::vector<std::string>& extracts,
                         const std::set<int>& runs) {
  ASSERT_EQ(file.size(), runs.size() * extracts.front().size());
  const std::vector<int> blocks = BlocksOf(file, extracts);
  EXPECT_EQ(std::count(blocks.begin(), blocks.end(), -1), 0)
      << "a block is cut or interleaved";
  EXPECT_EQ(std::set<int>(blocks.begin(), blocks.end()), runs);
  EXPECT_EQ(blocks.size(), runs.size()) << "a run's block appears twice";
}

// Eight runs together, plain or with paced writes: appending runs alone
// leave the old content followed by each run's whole block; replacing runs
// alone leave one whole extract; both together leave a replacing run's
// extract followed by whole blocks of appending runs that came after it.
TEST_F(ConcurrencyTest, RunsTogetherKeepTheirRecordsWhole) {
  struct Case {
    const char* name;
    bool replacing_even, replacing_odd;  // the flags of runs 0, 2, ... / 1, 3, ...
    bool paced;
  };
  const Case kCases[] = {
      {"appending", false, false, false},
      {"appending, paced", false, false, true},
      {"replacing", true, true, false},
      {"replacing, paced", true, true, true},
      {"replacing and appending, paced", true, false, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string old = c.replacing_even ? "OLD" : "";
    ws_.WriteFile("out.txt", old);
    std::vector<RunSpec> specs;
    std::set<int> appending;
    for (int run = 0; run < kRuns; ++run) {
      const bool replacing = run % 2 == 0 ? c.replacing_even : c.replacing_odd;
      if (!replacing) appending.insert(run);
      specs.push_back({run, replacing ? "1" : "0",
                       c.paced ? Paced() : std::vector<std::string>{}});
    }
    for (const ToolResult& r : RunTogether(specs)) {
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.out, Summary(kRows));
      EXPECT_EQ(r.err, "");
    }
    const std::string file = ws_.ReadFile("out.txt");
    ExpectOnlyTheExtract();
    if (!c.replacing_even) {
      ExpectWholeBlocksOf(file, extracts_, appending);
      continue;
    }
    ASSERT_EQ(file.size() % extracts_.front().size(), 0u);
    const std::vector<int> blocks = BlocksOf(file, extracts_);
    ASSERT_FALSE(blocks.empty());
    EXPECT_TRUE(blocks.front() >= 0 && appending.count(blocks.front()) == 0)
        << "the file does not start with a replacing run's whole extract";
    std::set<int> appended;
    for (size_t i = 1; i < blocks.size(); ++i) {
      EXPECT_EQ(appending.count(blocks[i]), 1u)
          << "block " << i << " is no appending run's whole extract";
      EXPECT_TRUE(appended.insert(blocks[i]).second)
          << "block " << i << " repeats a run";
    }
  }
}

// Three of the eight appending runs fail half-way through their write (the
// disk is "full" for them). They roll back to where they started, which must
// not cut the records of the runs that succeeded.
// Without a file at the start, one of the runs creates it; a failing run that
// created it removes it again only while nobody else has appended. The bytes
// that were there before stay in front.
TEST_F(ConcurrencyTest, FailingAppendersRollBackOnlyTheirOwnRecords) {
  const std::set<int> failing = {0, 4, 6};
  for (const char* old : {"", "OLD", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(old == nullptr ? "no file"
                                : std::string("file \"") + old + "\"");
    std::remove(ws_.At("out.txt").c_str());
    if (old != nullptr) ws_.WriteFile("out.txt", old);
    std::vector<RunSpec> specs;
    for (int run = 0; run < kRuns; ++run) {
      specs.push_back(
          {run, "0", Paced(failing.count(run) != 0 ? 1500 * 1000 : -1)});
    }
    const std::vector<ToolResult> results = RunTogether(specs);
    std::set<int> succeeded;
    for (int run = 0; run < kRuns; ++run) {
      SCOPED_TRACE("run " + std::to_string(run));
      const ToolResult& r = results[static_cast<size_t>(run)];
      EXPECT_EQ(r.exit_code, 0);
      if (failing.count(run) != 0) {
        EXPECT_EQ(r.out, testsupport::kWriteFailed + Summary(0));
        EXPECT_EQ(r.err, testsupport::WriteFailedLine("out.txt", ENOSPC));
      } else {
        EXPECT_EQ(r.out, Summary(kRows));
        EXPECT_EQ(r.err, "");
        succeeded.insert(run);
      }
    }
    const std::string file = ws_.ReadFile("out.txt");
    const std::string before = old == nullptr ? "" : old;
    ASSERT_EQ(file.substr(0, before.size()), before);
    ExpectWholeBlocksOf(file.substr(before.size()), extracts_, succeeded);
    ExpectOnlyTheExtract();
  }
}

}  // namespace
