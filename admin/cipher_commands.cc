// tabfetch-admin encipher VALUE / decipher HEX: the settings file's value
// texts, made and read with the settings library's own cipher.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "admin/admin_main.h"
#include "admin/admin_text.h"
#include "admin/command_support.h"
#include "admin/commands.h"
#include "settings/value_cipher.h"

namespace admin {
namespace {

// The settings file's value field held 200 characters: 12 blocks of 16 hex
// characters, 96 characters of plain text.
constexpr std::size_t kMaxPlainValue = 96;

// The terminal's settings while echo is off, put back by a signal that ends
// the program at the prompt.
struct termios g_saved_terminal;

void RestoreTerminalAndDie(int signal_number) {
  ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// Turns the terminal's echo off while the object lives.
class EchoOff {
 public:
  EchoOff() {
    if (::tcgetattr(STDIN_FILENO, &g_saved_terminal) != 0) return;
    struct termios quiet = g_saved_terminal;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    // Not SIGTSTP: the shell keeps a stopped job's terminal modes and gives
    // them back on fg, so echo stays off for the rest of the value.
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      ::signal(s, RestoreTerminalAndDie);
    }
    active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
  }
  ~EchoOff() {
    if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      ::signal(s, SIG_DFL);
    }
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  bool active_ = false;
};

// The value from standard input, so that it shows neither in the process
// list nor in the shell's history: on a terminal one line typed after a
// prompt on `err`, without echo; otherwise the whole input, which must be
// one line (its line end, LF or CR LF, is not part of the value). False
// with `error` set when the input cannot be used.
bool ReadValueFromInput(std::FILE* err, std::string& value,
                        std::string& error) {
  std::string input;
  const bool terminal = ::isatty(STDIN_FILENO) != 0;
  {
    std::unique_ptr<EchoOff> echo_off;
    if (terminal) {
      std::fputs("Value to encipher (not shown): ", err);
      std::fflush(err);
      echo_off = std::make_unique<EchoOff>();
    }
    for (int c; (c = std::getchar()) != EOF;) {
      input += static_cast<char>(c);
      if (terminal && c == '\n') break;
    }
  }
  if (std::ferror(stdin)) {
    error = "standard input cannot be read";
    return false;
  }
  if (!input.empty() && input.back() == '\n') input.pop_back();
  if (!input.empty() && input.back() == '\r') input.pop_back();
  if (input.find('\n') != std::string::npos) {
    error = "standard input holds more than one line; a settings value is "
            "one line";
    return false;
  }
  value = std::move(input);
  return true;
}

}  // namespace

int RunEncipher(const Args& args, std::FILE* out, std::FILE* err) {
  std::string value;
  if (args.positional.empty() || args.positional[0] == "-") {
    std::string error;
    if (!ReadValueFromInput(err, value, error)) {
      PrintMessage(err, error);
      return kExitError;
    }
  } else {
    value = args.positional[0];
  }
  PrintLine(out, settings::EncipherValue(value, settings::kValueKey));
  if (value.size() > kMaxPlainValue) {
    PrintMessage(err, "warning: the value has " + std::to_string(value.size()) +
                          " characters; the settings file's value field "
                          "holds 96 (192 hex characters), programs sharing "
                          "the file cut it");
    return kExitFindings;
  }
  return kExitClean;
}

int RunDecipher(const Args& args, std::FILE* out, std::FILE* err) {
  const std::string& hex = args.positional[0];
  const std::string plain = settings::DecipherValue(hex, settings::kValueKey);
  std::fwrite(plain.data(), 1, plain.size(), out);
  std::fputc('\n', out);
  int code = kExitClean;
  const std::size_t bad = hex.find_first_not_of("0123456789ABCDEF");
  if (bad != std::string::npos) {
    const bool lower = hex.find_first_of("abcdef") != std::string::npos;
    PrintMessage(
        err,
        "warning: character " + Quoted(hex.substr(bad, 1)) + " at position " +
            std::to_string(bad + 1) + " is no hex digit to tabfetch" +
            (lower ? " (lower-case letters are not hex digits to it)" : "") +
            ": the plain text is meaningless");
    code = kExitFindings;
  }
  if (hex.size() % 16 != 0) {
    PrintMessage(err, "warning: the length " + std::to_string(hex.size()) +
                          " is not a multiple of 16: the last " +
                          std::to_string(hex.size() % 16) +
                          " characters form no whole block and are ignored");
    code = kExitFindings;
  }
  for (char c : plain) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      PrintMessage(err, "warning: the plain text holds control characters (" +
                            Quoted(plain) +
                            "): the value text was enciphered with another "
                            "key or is damaged");
      code = kExitFindings;
      break;
    }
  }
  return code;
}

}  // namespace admin
