// Helpers of the end-to-end benchmark (bench/run):
//
//   bench_tool gen N FILE [FIRST]  rows FIRST+1 to N of extract data as a
//                                  tab-separated file for LOAD DATA (UTF-8,
//                                  \N for NULL)
//   bench_tool encipher VALUE      VALUE as the settings file holds it
//   bench_tool time RESULT CMD...  runs CMD, appends "wall_seconds
//                                  peak_rss_kib exit_status cpu_seconds
//                                  system_seconds" (cpu: user + system) to
//                                  RESULT
//   bench_tool check FILE LENGTH RECORDS
//                                  FILE holds RECORDS records of LENGTH bytes
//                                  (no line feeds in the data) in
//                                  non-decreasing unsigned byte order
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "settings/value_cipher.h"

namespace {

// xorshift64*: fast and good enough for test data; fixed seed, so every run
// loads the same rows.
struct Rng {
  std::uint64_t s = 0x9E3779B97F4A7C15ull;
  std::uint64_t Next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1Dull;
  }
  std::uint32_t Below(std::uint32_t n) {
    return static_cast<std::uint32_t>((Next() >> 32) % n);
  }
};

// UTF-8 in the load file; the table stores them as latin1, and the
// connection delivers them as latin1 bytes.
const char* const kFirst[] = {
    "Hans-Jürgen", "Jörg",   "Uwe",      "Anna-Lena", "Björn",  "Grégoire",
    "Sabine",      "Klaus",  "Mündev",   "Stefanie",  "Peter",  "Jürgen",
    "Käthe",       "Günter", "Dörte",    "Ülkü",      "Maria",  "Thomas",
    "Andreas",     "Ursula", "Wolfgang", "Monika",    "Renate", "Özlem"};
const char* const kLast[] = {
    "Müller",   "Schmidt",  "Schneider", "Fischer", "Weiß",     "Bäcker",
    "Schäfer",  "Koch",     "Richter",   "Klößner", "Wagner",   "Becker",
    "Hoffmann", "Schütz",   "Krüger",    "Neumann", "Schröder", "Zimmermann",
    "Braun",    "Hartmann", "Lange",     "Schmitz", "Krause",   "Meier",
    "Lehmann",  "Köhler",   "Jäger",     "Groß",    "Fuchs",    "Möller"};
const char* const kNotes[] = {
    "Rückgabe wegen Beschädigung",
    "Kunde wünscht Lieferung an Filiale",
    "Storno",
    "Nachbuchung aus Kassenabschluss vom Vortag, geprüft",
    "  eingerückt: Ersatzlieferung",
    "Gutschrift über Bonuspunkte",
    "Preisänderung laut Aushang; Prüfung durch Marktleitung erbeten"};

// 36 terminal names of up to 12 characters that share their beginnings,
// some with blanks inside or in front.
std::string Terminal(std::uint32_t i) {
  char name[16];
  if (i < 24) {
    std::snprintf(name, sizeof name, "KASSE%02u", i + 1);
  } else if (i < 30) {
    std::snprintf(name, sizeof name, "KASSE %u", i - 23);
  } else {
    std::snprintf(name, sizeof name, " LAGER%02u", i - 29);
  }
  return name;
}

// N rows shaped like the field's extracts: 36 terminal names, about 4,300
// distinct names (umlauts; 20 % with a leading, 25 % with trailing blanks),
// 25 % NULL notes, amounts and quantities, a time. Rows are stored in ID
// order, which is random with respect to the sort key.
int Gen(std::uint64_t n, const char* path, std::uint64_t first) {
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) {
    std::printf("cannot create %s\n", path);
    return 1;
  }
  Rng rng;
  std::string buf;
  buf.reserve(1 << 20);
  char line[512];
  std::string terminals[36];
  for (std::uint32_t i = 0; i < 36; ++i) terminals[i] = Terminal(i);
  // The rows after `first` only; the random numbers are the same as for a
  // file of all rows.
  for (std::uint64_t id = 1; id <= n; ++id) {
    const char* lead = rng.Below(5) == 0 ? " " : "";
    const char* trail = rng.Below(4) == 0 ? "   " : "";
    const std::uint32_t cents = rng.Below(1000000000);
    const bool negative = rng.Below(20) == 0;
    const std::uint32_t note = rng.Below(4) == 0 ? 99 : rng.Below(7);
    int len = std::snprintf(
        line, sizeof line,
        "%llu\t%s\t%s%s, %s %c.%s\t%s%u.%02u\t%u\t2024-%02u-%02u "
        "%02u:%02u:%02u\t",
        static_cast<unsigned long long>(id), terminals[rng.Below(36)].c_str(),
        lead, kLast[rng.Below(sizeof kLast / sizeof kLast[0])],
        kFirst[rng.Below(sizeof kFirst / sizeof kFirst[0])],
        static_cast<char>('A' + rng.Below(6)), trail, negative ? "-" : "",
        cents / 100, cents % 100, rng.Below(100000), 1 + rng.Below(12),
        1 + rng.Below(28), rng.Below(24), rng.Below(60), rng.Below(60));
    buf.append(line, static_cast<std::size_t>(len));
    if (note == 99) {
      buf.append("\\N");  // NULL
    } else {
      buf.append(kNotes[note]);
      if (note == 2) buf.append(" #").append(std::to_string(rng.Below(100000)));
    }
    buf.push_back('\n');
    if (id <= first) buf.clear();
    if (buf.size() > (1u << 20) - 512) {
      std::fwrite(buf.data(), 1, buf.size(), f);
      buf.clear();
    }
  }
  std::fwrite(buf.data(), 1, buf.size(), f);
  return std::fclose(f) == 0 ? 0 : 1;
}

int Time(const char* result_path, char** argv) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    ::execvp(argv[0], argv);
    std::printf("cannot run %s\n", argv[0]);
    std::fflush(stdout);
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage;
  std::memset(&usage, 0, sizeof usage);
  // The rusage of wait4 covers the child and the children it waited for (the
  // processes of a pipeline): ru_maxrss is the largest of them.
  if (::wait4(pid, &status, 0, &usage) != pid) return 1;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  std::FILE* f = std::fopen(result_path, "a");
  if (f == nullptr) return 1;
  const double cpu =
      static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) /
          1e6;
  const double system = static_cast<double>(usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_stime.tv_usec) / 1e6;
  std::fprintf(f, "%.6f %ld %d %.6f %.6f\n", wall, usage.ru_maxrss, code, cpu,
               system);
  std::fclose(f);
  return code;
}

int Check(const char* path, std::size_t length, std::uint64_t records) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    std::printf("check: cannot open %s\n", path);
    return 1;
  }
  std::vector<char> prev(length), cur(length);
  std::uint64_t n = 0;
  bool ordered = true;
  while (length > 0 && std::fread(cur.data(), 1, length, f) == length) {
    if (n > 0 && ordered && std::memcmp(prev.data(), cur.data(), length) > 0) {
      std::printf("check: record %llu sorts before record %llu\n",
                  static_cast<unsigned long long>(n),
                  static_cast<unsigned long long>(n - 1));
      ordered = false;
    }
    prev.swap(cur);
    ++n;
  }
  struct stat st;
  const bool stat_ok = ::fstat(::fileno(f), &st) == 0;
  std::fclose(f);
  const std::uint64_t want = records * length;
  if (!stat_ok || static_cast<std::uint64_t>(st.st_size) != want) {
    std::printf("check: %s has %lld bytes, expected %llu\n", path,
                stat_ok ? static_cast<long long>(st.st_size) : -1LL,
                static_cast<unsigned long long>(want));
    return 1;
  }
  return ordered ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "gen" && (argc == 4 || argc == 5)) {
    return Gen(std::strtoull(argv[2], nullptr, 10), argv[3],
               argc == 5 ? std::strtoull(argv[4], nullptr, 10) : 0);
  }
  if (cmd == "encipher" && argc == 3) {
    std::printf("%s\n",
                settings::EncipherValue(argv[2], settings::kValueKey).c_str());
    return 0;
  }
  if (cmd == "time" && argc >= 4) return Time(argv[2], argv + 3);
  if (cmd == "check" && argc == 5) {
    return Check(argv[2], std::strtoull(argv[3], nullptr, 10),
                 std::strtoull(argv[4], nullptr, 10));
  }
  std::printf(
      "usage: bench_tool gen N FILE [FIRST] | encipher VALUE | time RESULT "
      "CMD... | "
      "check FILE LENGTH RECORDS\n");
  return 2;
}
