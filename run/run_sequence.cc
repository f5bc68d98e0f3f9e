// The run sequence: command line, settings, connect, query definition, fetch
// loop, extract file, summary line. Every status is decided on at once; the
// exit codes are read by the calling scripts and stay as they always were.
#include "run/run_sequence.h"

#include <errmsg.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <utility>

#include "common/diagnostics.h"
#include "common/path_resolve.h"
#include "db/db_connection.h"
#include "extract/extract_writer.h"
#include "extract/field_format.h"
#include "extract/memory_budget.h"
#include "extract/record_list.h"
#include "querydef/query_definition.h"
#include "querydef/row_buffer.h"
#include "run/command_line.h"
#include "run/connect_step.h"
#include "run/progress.h"
#include "settings/connection_settings.h"

namespace run {
namespace {

// What ends the fetch loop when the record list cannot take the next row
// (out of memory, or its temporary file failed): not a status of the
// database.
constexpr int kListFailed = -1000;

// The fetch loop: every row becomes one record of the list as it arrives.
// Returns the status that ended the loop (kNoMoreRows at the end of the
// rows, kListFailed when the list failed).
int FetchRecords(db::Connection& conn, const extract::RecordLayout& layout,
                 extract::RecordList& records, Progress& progress,
                 RunState& run) {
  // dbFetchRow resets every slot of the row it delivers, so the row needs
  // no clearing of its own before each fetch.
  querydef::RowBuffer row;
  for (;;) {
    run.last_status = db::dbFetchRow(conn, row);
    if (run.last_status != db::kOk) return run.last_status;
    char* slot = records.AppendSlot(layout.record_length);
    if (slot == nullptr) return kListFailed;
    extract::FormatCompiledRecord(layout, row, slot);
    ++run.record_count;
    progress.Rows(static_cast<std::uint64_t>(run.record_count));
  }
}

// The record list's options: the memory budget (the environment's, but no
// more than the memory limits of the process leave; else the default from
// those limits) and the temporary directory.
extract::RecordListOptions ListOptions(const RunState& run) {
  extract::RecordListOptions options;  // the default budget
  if (run.env.memory_budget != 0) {
    const std::size_t ceiling =
        extract::MemoryBudgetCeiling(extract::ProcessMemoryLimits());
    options.memory_budget = std::min(run.env.memory_budget, ceiling);
    if (run.env.memory_budget > ceiling) {
      common::Diagnose(run.err,
                       "TABFETCH_MEMORY_BUDGET of %zu bytes is more than the "
                       "memory limits of the process leave; %zu bytes are "
                       "used",
                       run.env.memory_budget, ceiling);
    }
  }
  options.temp_dir = run.env.temp_dir;
  return options;
}

// Names on run.err what the settings file lacked. Returns whether the
// settings name a user (a LOGIN record, even one with an empty value, which
// deliberately leaves the choice to the client library).
bool ReportSettings(const settings::ConnectionSettings& values,
                    RunState& run) {
  const std::string file = common::AbsolutePath(values.file);
  if (values.file_error != 0) {
    common::Diagnose(run.err, "cannot read settings file %s: %s", file.c_str(),
                     std::strerror(values.file_error));
  }
  for (std::string_view key : values.missing_keys) {
    common::Diagnose(run.err,
                     "settings file %s: no record matches %.*s (key name %.*s, "
                     "an empty heading name or entry number 0)",
                     file.c_str(), static_cast<int>(key.size()), key.data(),
                     static_cast<int>(key.size()), key.data());
  }
  if (!values.user_named) {
    common::Diagnose(run.err,
                     "no connection attempted: the settings name no user "
                     "(%.*s), and an empty one would connect as the "
                     "operating-system user",
                     static_cast<int>(settings::kUserKey.size()),
                     settings::kUserKey.data());
  }
  return values.user_named;
}

// Client library errors (2000-2999) on a statement are its own failures to
// read what the server sent (2027 malformed packet, 2013 connection lost),
// not the server's verdict on the statement.
bool IsClientError(int status) {
  return status >= CR_MIN_ERROR && status <= CR_MAX_ERROR;
}

// Memory ran out while the rows arrived or were sorted: the records so far
// are not a complete extract, so nothing is written (the legacy tool wrote
// them after its read error, and the short file read as complete).
void OutOfMemory(RunState& run, extract::RecordList& records,
                 int& failure_exit) {
  common::Diagnose(run.err,
                   "out of memory after %d rows (memory budget %zu bytes); "
                   "nothing is written",
                   run.record_count, records.options().memory_budget);
  run.record_count = 0;
  extract::FreeRecordList(records);
  failure_exit = kReadFailedExit;
}

double SecondsSince(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since)
      .count();
}

// Puts the run's own streams back when the run ends.
struct RestoreStreams {
  RunState& run;
  std::FILE* out;
  std::FILE* err;
  ~RestoreStreams() {
    run.out = out;
    run.err = err;
  }
};

// The run after the command line, its texts guarded by `progress`.
int RunSteps(RunState& run, Progress& progress) {
  // Missing values are empty texts, named on standard error. Without a user
  // there is no connect at all (see settings::kNoUserStatus).
  run.connection = settings::ReadConnectionSettings();
  const settings::ConnectionSettings& values = run.connection;
  if (!ReportSettings(values, run)) {
    settings::WipeSecret(run.connection.password);
    run.last_status = settings::kNoUserStatus;
    std::fprintf(run.out, "dbConnect_Status: %d\n", run.last_status);
    return run.env.strict_exit ? kConnectFailedExit : kRunEndedExit;
  }

  db::Connection conn;  // closed on every way out (no commit: rolls back)
  progress.Phase("connecting");
  run.last_status =
      db::dbConnect(conn, values.user, values.password, values.host,
                    settings::kDatabaseName, ConnectOptionsFor(run.env));
  progress.Clear();
  settings::WipeSecret(run.connection.password);
  if (run.last_status != db::kOk) {
    common::Diagnose(run.err,
                     "cannot connect to the database on host \"%s\": error "
                     "%d: %s",
                     values.host.c_str(), run.last_status,
                     db::dbLastError(conn).c_str());
    std::fprintf(run.out, "dbConnect_Status: %d\n", run.last_status);
    return run.env.strict_exit ? kConnectFailedExit : kRunEndedExit;
  }

  querydef::QueryDefinition query;
  extract::ClearColumnDefinitions(query.columns);
  run.record_count = 0;
  // The session the server reads the statement in decides where the name
  // may stand and how it is escaped.
  const querydef::TerminalName terminal =
      db::dbTerminalName(conn, run.terminal);
  run.last_status = querydef::GetIniValues(run.section, values.db_system,
                                           terminal, run.debug, run.out, query);
  switch (run.last_status) {
    case querydef::kOk:
      break;
    case querydef::kTerminalRefused:
      common::Diagnose(
          run.err, "%s",
          querydef::RefusalText(query.refusal, terminal.session).c_str());
      std::fputs("Terminalname im SQL-Statement nicht zulaessig\n", run.out);
      return kTerminalRefusedExit;
    default:  // querydef::kNoStatement: nothing on standard output, as ever
      common::Diagnose(run.err, "%s",
                       querydef::NoStatementText(query, run.section).c_str());
      return kNoStatementExit;
  }

  // A column its author meant to have but that contributes nothing makes
  // every record shorter: named once per run.
  for (int k = 0; k < querydef::kColumnCount; ++k) {
    const std::string dropped = querydef::DroppedColumnText(k + 1, query.columns[k]);
    if (!dropped.empty()) common::Diagnose(run.err, "%s", dropped.c_str());
  }

  run.record_count = 0;
  int failure_exit = kRunEndedExit;  // the strict code, once something failed
  extract::RecordList records(ListOptions(run));
  const auto fetch_started = std::chrono::steady_clock::now();
  progress.Phase("fetching");
  run.last_status = db::dbOpenQuery(conn, query.statement);
  if (run.last_status == db::kOk) {
    const extract::RecordLayout layout = extract::CompileLayout(query.columns);
    run.last_status = FetchRecords(conn, layout, records, progress, run);
    progress.Clear();
    if (run.last_status == kListFailed) {
      // The rows not yet read stay unread: the server stops sending.
      db::dbAbandon(conn);
      if (records.failure().what == extract::ListFailure::kMemory) {
        OutOfMemory(run, records, failure_exit);
      }
      // Otherwise the temporary file failed: the write fails below and
      // names the cause.
    } else if (run.last_status == db::kResultFailed) {
      // The result broke off while its rows arrived. A stored result failed
      // as a whole at the execution, with nothing written and no read
      // error printed; callers see the same now.
      common::Diagnose(run.err,
                       "the result broke off after %d rows: error %d: %s",
                       run.record_count, db::dbErrorNumber(conn),
                       db::dbLastError(conn).c_str());
      run.record_count = 0;
      extract::FreeRecordList(records);
      failure_exit = kReadFailedExit;
    } else if (run.last_status != db::kNoMoreRows) {
      if (run.last_status == db::kNoResultSet && conn.ColumnCount() == 0) {
        common::Diagnose(run.err,
                         "the statement returned no result set (no rows to "
                         "read: SET, DO, UPDATE and the like return none)");
      }
      // No line break: the summary line continues this line, as it always
      // did; callers parse it that way.
      std::fprintf(run.out, "Fehler Lesen in Leseschleife %d",
                   run.last_status);
      failure_exit = kReadFailedExit;
    }
    run.last_status = db::dbCloseQuery(conn);
  } else if (run.last_status > 0 && db::dbTimedOut(conn)) {
    // No rejection: the result did not begin in time, so it broke off.
    common::Diagnose(run.err, "the result did not begin: error %d: %s",
                     run.last_status, db::dbLastError(conn).c_str());
    failure_exit = kReadFailedExit;
  } else if (IsClientError(run.last_status)) {
    common::Diagnose(run.err,
                     "the server's answer to the statement could not be "
                     "read: client library error %d: %s",
                     run.last_status, db::dbLastError(conn).c_str());
    failure_exit = kReadFailedExit;
  } else if (run.last_status > 0) {
    common::Diagnose(run.err, "the server rejected the statement: error %d: %s",
                     run.last_status, db::dbLastError(conn).c_str());
    failure_exit = kStatementFailedExit;
  } else {
    common::Diagnose(run.err, "the statement's result could not be read: %s",
                     db::dbLastError(conn).c_str());
    failure_exit = kReadFailedExit;
  }
  db::dbDisconnect(conn);
  const double fetch_seconds = SecondsSince(fetch_started);

  const auto write_started = std::chrono::steady_clock::now();
  if (run.record_count != 0) {
    // The last run is sorted here, once, so that the profile line can tell
    // the sort from the write. Out of memory, nothing is written; a failed
    // temporary file makes the write fail below, which says why.
    progress.Phase("sorting");
    if (!records.Sort() &&
        records.failure().what == extract::ListFailure::kMemory) {
      OutOfMemory(run, records, failure_exit);
    }
  }
  if (run.record_count != 0) {
    extract::WriteRequest request{run.extract_path, run.replace_flag,
                                  run.debug, run.out, run.err};
    request.lock_wait = run.env.lock_timeout;
    request.keep_records = false;
    request.on_phase = [&progress](extract::WritePhase phase) {
      progress.Phase(phase == extract::WritePhase::kSyncing ? "syncing"
                                                             : "writing");
    };
    run.last_status = extract::WriteFile(request, records);
    if (run.last_status != extract::kWriteOk) {
      run.record_count = 0;
      failure_exit = kExtractFailedExit;
    }
  }
  if (run.env.profile) {
    const extract::RecordListTimes t = records.times();
    common::Diagnose(
        run.err,
        "profile: fetch+format %.3f s, sorting overlapped %.3f s CPU, "
        "last run and merge setup %.3f s, merge+write+sync %.3f "
        "s, %zu runs (%zu in the temporary file)",
        fetch_seconds, t.worker_sort_s, t.final_sort_s,
        SecondsSince(write_started) - t.final_sort_s, t.runs, t.spilled_runs);
  }

  std::fprintf(run.out, "%i Saetze kopiert in Datei %s \n", run.record_count,
               run.extract_path.c_str());
  extract::FreeRecordList(records);
  return run.env.strict_exit ? failure_exit : kRunEndedExit;
}

}  // namespace

int Run(int argc, const char* const* argv, RunState& run) {
  run.last_status = GetParameters(argc, argv, run);
  if (run.last_status != kUsable) return run.last_status;

  // The progress line on a terminal; every text of the run erases it first.
  Progress progress(run.err, ProgressWanted(run.env.progress, run.err));
  const RestoreStreams restore{run, run.out, run.err};
  run.out = progress.Guard(run.out);
  run.err = progress.Guard(run.err);
  return RunSteps(run, progress);
}

}  // namespace run
