// The progress line: drawn with a carriage return and "erase to the end of
// the line", so that it needs no cursor movement beyond the one line.
#include "run/progress.h"

#include <unistd.h>

#include <cinttypes>
#include <string>

namespace run {
namespace {

// Carriage return, then ANSI "erase in line" (to its end).
constexpr char kEraseLine[] = "\r\x1b[K";

}  // namespace

bool ProgressWanted(ProgressMode mode, std::FILE* err) {
  switch (mode) {
    case ProgressMode::kOn:
      return err != nullptr;
    case ProgressMode::kOff:
      return false;
    case ProgressMode::kAuto:
      break;
  }
  return err != nullptr && ::isatty(::fileno(err)) == 1;
}

Progress::Progress(std::FILE* terminal, bool enabled)
    : terminal_(terminal), enabled_(enabled) {}

Progress::~Progress() {
  streams_.clear();  // flushes nothing: every guarded stream is unbuffered
  Clear();
}

std::FILE* Progress::Guard(std::FILE* stream) {
  if (!enabled_) return stream;
  auto guarded = std::make_unique<Guarded>(Guarded{this, stream});
  cookie_io_functions_t io{};
  io.write = &Progress::WriteThrough;
  std::FILE* cookie = ::fopencookie(guarded.get(), "w", io);
  if (cookie == nullptr) {
    Clear();
    enabled_ = false;  // no line rather than texts written across it
    return stream;
  }
  std::setvbuf(cookie, nullptr, _IONBF, 0);
  guarded_.push_back(std::move(guarded));
  streams_.emplace_back(cookie);
  return cookie;
}

ssize_t Progress::WriteThrough(void* cookie, const char* data, size_t size) {
  const auto* guarded = static_cast<const Guarded*>(cookie);
  guarded->progress->Clear();
  const size_t written = std::fwrite(data, 1, size, guarded->target);
  std::fflush(guarded->target);
  return written == 0 && size != 0 ? -1 : static_cast<ssize_t>(written);
}

void Progress::Phase(const char* phase) {
  if (!enabled_) return;
  phase_ = phase;
  const Clock::time_point now = Clock::now();
  if (rows_ == 0) started_ = now;
  Draw(now);
}

void Progress::Tick() {
  const Clock::time_point now = Clock::now();
  if (now - last_draw_ >= kInterval) Draw(now);
}

void Progress::Draw(Clock::time_point now) {
  last_draw_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  const double rate = seconds > 0 ? static_cast<double>(rows_) / seconds : 0;
  std::fprintf(terminal_, "%stabfetch: %s, %" PRIu64 " rows, %.0f rows/s",
               kEraseLine, phase_, rows_, rate);
  std::fflush(terminal_);
  shown_ = true;
}

void Progress::Clear() {
  if (!shown_) return;
  std::fputs(kEraseLine, terminal_);
  std::fflush(terminal_);
  shown_ = false;
}

}  // namespace run
