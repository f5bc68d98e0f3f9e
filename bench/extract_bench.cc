// Times the extract output on its own: formats, stores, sorts and writes
// N records (default 1,000,000) of 120 bytes made from six columns of
// realistic values, and prints records per second for each phase.
//
//   extract_bench [N]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "extract/extract_writer.h"
#include "extract/field_format.h"
#include "extract/record_list.h"
#include "querydef/column_definition.h"
#include "querydef/row_buffer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void Report(const char* phase, std::size_t records, double seconds) {
  std::printf("%-34s %8.3f s  %12.0f records/s\n", phase, seconds,
              seconds > 0 ? static_cast<double>(records) / seconds : 0.0);
}

// The values of all rows, back to back like a stored result set; a row is
// six (offset, length) pairs, length -1 for NULL.
struct Rows {
  std::string text;
  std::vector<std::int64_t> offsets;  // 6 per row
  std::vector<int> lengths;           // 6 per row
  static constexpr int kColumns = 6;

  void Add(const std::string& value, bool null = false) {
    offsets.push_back(static_cast<std::int64_t>(text.size()));
    lengths.push_back(null ? -1 : static_cast<int>(value.size()));
    if (!null) text += value;
  }
  void Fill(std::size_t row, querydef::RowBuffer& buf) const {
    for (int c = 0; c < kColumns; ++c) {
      const std::size_t i = row * kColumns + c;
      buf.slots[c] = lengths[i] < 0 ? std::string_view()
                                    : std::string_view(text.data() + offsets[i],
                                                       lengths[i]);
    }
  }
};

Rows MakeRows(std::size_t n) {
  std::mt19937_64 rng(12345);
  const char* kFirst[] = {"Hans-J\xFCrgen", "J\xF6rg",  "Uwe",
                          "Anna-Lena",      "Bj\xF6rn", "Gr\xE9goire",
                          "Sabine",         "Klaus",    "M\xFCnevver",
                          "Stefanie",       "Peter",    "J\xFCrgen"};
  const char* kLast[] = {"M\xFCller",
                         "Schmidt",
                         "Schneider",
                         "Fischer",
                         "Wei\xDF",
                         "B\xE4"
                         "cker",
                         "Sch\xE4"
                         "fer",
                         "Koch",
                         "Richter",
                         "Kl\xF6\xDFner",
                         "Wagner",
                         "Becker",
                         "Hoffmann",
                         "Sch\xFCtz",
                         "Kr\xFCger",
                         "Neumann"};
  const char* kNotes[] = {
      "R\xFC"
      "ckgabe wegen Besch\xE4\x64igung",
      "Kunde w\xFCnscht Lieferung an Filiale", "", "Storno",
      "Nachbuchung aus Kassenabschluss "
      "vom Vortag, gepr\xFC\x66t"};
  Rows rows;
  rows.text.reserve(n * 110);
  rows.offsets.reserve(n * Rows::kColumns);
  rows.lengths.reserve(n * Rows::kColumns);
  char buf[128];
  for (std::size_t i = 0; i < n; ++i) {
    // One terminal per extract: the first 20 bytes of every record agree.
    rows.Add("KASSE-FILIALE-0042");
    std::snprintf(buf, sizeof buf, "%s%s, %s%s", rng() % 4 ? "" : " ",
                  kLast[rng() % 16], kFirst[rng() % 12], rng() % 3 ? "" : "  ");
    rows.Add(buf);
    std::snprintf(buf, sizeof buf, "%lld.%02d",
                  static_cast<long long>(rng() % 100000),
                  static_cast<int>(rng() % 100));
    rows.Add(buf);
    rows.Add(std::to_string(rng() % 10000000));
    std::snprintf(buf, sizeof buf, "2024-%02d-%02d %02d:%02d:%02d",
                  static_cast<int>(1 + rng() % 12),
                  static_cast<int>(1 + rng() % 28),
                  static_cast<int>(rng() % 24), static_cast<int>(rng() % 60),
                  static_cast<int>(rng() % 60));
    rows.Add(buf);
    const bool null = rng() % 10 < 3;
    rows.Add(null ? "" : kNotes[rng() % 5], null);
  }
  return rows;
}

querydef::ColumnDefinitions MakeColumns() {
  querydef::ColumnDefinitions columns;
  columns[0] = {"TERMINAL", "CHAR", 20};
  columns[1] = {"NAME", "CHAR", 30};
  columns[2] = {"BETRAG", "DEC", 12};
  columns[3] = {"NUMMER", "DEC", 8};
  columns[4] = {"ZEIT", "CHAR", 19};
  columns[5] = {"NOTIZ", "TXT", 31};
  return columns;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t n =
      argc > 1 ? static_cast<std::size_t>(std::strtoull(argv[1], nullptr, 10))
               : 1000000;
  std::printf("extract_bench: %zu records\n", n);
  const Rows rows = MakeRows(n);
  const querydef::ColumnDefinitions columns = MakeColumns();
  const extract::RecordLayout layout = extract::CompileLayout(columns);
  std::printf("record length %zu bytes, %zu columns\n", layout.record_length,
              layout.fields.size());
  querydef::RowBuffer row;

  extract::RecordList list;
  auto start = Clock::now();
  for (std::size_t i = 0; i < n; ++i) {
    row.Clear();
    rows.Fill(i, row);
    char* slot = list.AppendSlot(layout.record_length);
    if (slot == nullptr) {
      std::printf("out of memory at record %zu\n", i);
      return 1;
    }
    extract::FormatCompiledRecord(layout, row, slot);
  }
  const double format_seconds = Seconds(start);
  Report("format into chunks, sorted on a worker", n, format_seconds);

  start = Clock::now();
  if (!list.Sort()) {
    std::printf("sort failed\n");
    return 1;
  }
  const double sort_seconds = Seconds(start);
  Report("sort of the last run, merge setup", n, sort_seconds);
  // The merge on its own, into memory: what the writer's merge thread costs.
  {
    constexpr std::size_t kPerBlock = 8192;
    std::vector<char> block(kPerBlock * layout.record_length);
    start = Clock::now();
    std::ptrdiff_t got;
    while ((got = list.ReadSorted(block.data(), kPerBlock)) > 0) {
    }
    Report("merge alone, into memory", n, Seconds(start));
    if (got < 0 || !list.Rewind()) return 1;
  }
  {
    std::string previous;
    std::string_view rec;
    for (std::size_t i = 0; list.NextRecord(rec) > 0; ++i) {
      if (i > 0 && std::string_view(previous).compare(rec) > 0) {
        std::printf("NOT SORTED at %zu\n", i);
        return 1;
      }
      previous.assign(rec);
    }
  }

  const char* tmp = std::getenv("TMPDIR");
  std::string dir_template =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
      "/extract_bench.XXXXXX";
  if (::mkdtemp(dir_template.data()) == nullptr) return 1;
  const std::string path = dir_template + "/extract.dat";
  // The same write without waiting for the disk, to show what the sync
  // costs.
  {
    common::FileOps unsynced = common::SystemFileOps();
    unsynced.fsync = [](int) { return 0; };
    extract::WriteRequest request{path, 1, false, stdout};
    request.ops = &unsynced;
    start = Clock::now();
    const int unsynced_rc = extract::WriteFile(request, list);
    Report("write without fsync", n, Seconds(start));
    if (unsynced_rc != 0) return 1;
    ::sync();
  }
  start = Clock::now();
  const int rc =
      extract::WriteFile(extract::WriteRequest{path, 1, false, stdout}, list);
  const double write_seconds = Seconds(start);
  Report("write (temp file, fsync, rename)", n, write_seconds);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  long size = -1;
  if (f != nullptr) {
    std::fseek(f, 0, SEEK_END);
    size = std::ftell(f);
    std::fclose(f);
  }
  ::unlink(path.c_str());
  ::rmdir(dir_template.c_str());
  std::printf("file %ld bytes (expected %zu), WriteFile returned %d\n", size,
              n * layout.record_length, rc);
  Report("total format+sort+write", n,
         format_seconds + sort_seconds + write_seconds);
  return rc == 0 ? 0 : 1;
}
