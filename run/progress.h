// The progress line of a run whose standard error is a terminal: one line,
// rewritten in place, that says what the run is doing and how many rows it
// has read; erased when the run ends or prints a cause.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "run/environment.h"

namespace run {

// Whether a run shows the line: TABFETCH_PROGRESS=1 forces it, =0 turns it
// off, unset it is shown when `err` is a terminal.
bool ProgressWanted(ProgressMode mode, std::FILE* err);

class Progress {
 public:
  // Draws on `terminal` when `enabled`; otherwise every call does nothing
  // and Guard gives back the stream it is handed.
  Progress(std::FILE* terminal, bool enabled);
  ~Progress();  // erases the line
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `stream` for the run's texts while the line may be shown: whatever is
  // written to it first erases the line and then goes to `stream` at once,
  // byte for byte (flushed), so that no text lands behind the line. Valid
  // as long as the object; `stream` itself when the line is off.
  std::FILE* Guard(std::FILE* stream);

  // A new phase ("connecting", "fetching", "sorting", "writing",
  // "syncing"), drawn at once. The rate counts from the first phase after
  // which rows arrive.
  void Phase(const char* phase);

  // The rows read so far. Cheap: the clock is looked at every 64th row,
  // and the line redrawn at most four times a second.
  void Rows(std::uint64_t rows) {
    if (!enabled_) return;
    rows_ = rows;
    if (rows % 64 == 0) Tick();
  }

  // Erases the line; the next Phase or Rows draws it again.
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kInterval = std::chrono::milliseconds(250);

  void Tick();
  void Draw(Clock::time_point now);
  static ssize_t WriteThrough(void* cookie, const char* data, size_t size);

  struct Guarded {
    Progress* progress;
    std::FILE* target;
  };
  struct CloseStream {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };

  std::FILE* terminal_;
  bool enabled_;
  std::vector<std::unique_ptr<Guarded>> guarded_;
  std::vector<std::unique_ptr<std::FILE, CloseStream>> streams_;
  bool shown_ = false;
  const char* phase_ = "";
  std::uint64_t rows_ = 0;
  Clock::time_point started_ = Clock::now();
  Clock::time_point last_draw_{};
};

}  // namespace run
