// Command-line parsing, banner and usage text. The texts are read by scripts
// in the field and must stay byte for byte as they are.
#include "run/command_line.h"

#include <cstring>

#include "common/ascii_case.h"

namespace run {
namespace {

// Banner, error line, empty line, usage text: what every rejected command
// line shows.
void RejectCommandLine(std::FILE* out, const char* error_line) {
  PrintBanner(out);
  std::fputs(error_line, out);
  std::fputs("\n", out);
  PrintUsage(out);
}

}  // namespace

void PrintBanner(std::FILE* out) {
  std::fputs("\n", out);
  std::fputs("******************************************************\n", out);
  std::fputs("** Projekt     : PALVENTRA                          **\n", out);
  std::fputs("** Tool        : TABFETCH                           **\n", out);
  std::fputs("** Beschreibung:  Ausfuehren einer SQL-Anweisung    **\n", out);
  std::fputs("**                und erstellen einer Downloaddatei **\n", out);
  std::fputs("**                aus den Resultierenden Daten      **\n", out);
  std::fputs("******************************************************\n", out);
  std::fputs("\n", out);
}

void PrintUsage(std::FILE* out) {
  std::fputs("Befehlsformat: \n", out);
  std::fputs("TABFETCH.EXE Sektionsname Terminalname Zieldatei 0/1 \n", out);
  std::fputs("\n", out);
  std::fputs("Sektionsname : Name der Sektion in der Ini-Datei     \n", out);
  std::fputs("Terminalname : Parameter fuer das SQL-Statement      \n", out);
  std::fputs("Zieldatei    : Dateiname der Ausgabedatei            \n", out);
  std::fputs("RepaceFlag   : 0= Anhaengen, 1= Ersetzen             \n", out);
  std::fputs("\n", out);
  std::fputs("Beispiel:\n", out);
  std::fputs("TABFETCH.EXE EXTRCT08 ZutCtrl extrct08.txt 1\n", out);
  std::fputs("\n", out);
}

std::string& StrToUpper(std::string& text) {
  // The legacy tool ran in the "C" locale: only a to z change.
  for (char& c : text) c = common::AsciiToUpper(c);
  return text;
}

int GetParameters(int argc, const char* const* argv, RunState& run) {
  if (argc <= 4) {
    RejectCommandLine(run.out, "Falsche Anzahl Parameter\n");
    return kTooFewArguments;
  }
  const char* flag = argv[4];
  if (std::strcmp(flag, "0") != 0 && std::strcmp(flag, "1") != 0) {
    RejectCommandLine(run.out, "Falsches ReplaceFlag, erlaubt: '0' oder '1'\n");
    return kBadReplaceFlag;
  }
  // The legacy fields held 31 characters and nothing checked the length;
  // refuse what would not fit instead of overrunning it. Lengths count bytes
  // (the texts are single-byte ANSI).
  if (std::strlen(argv[1]) > kMaxNameLength) {
    RejectCommandLine(run.out,
                      "Sektionsname zu lang, erlaubt: max. 31 Zeichen\n");
    return kNameTooLong;
  }
  if (std::strlen(argv[2]) > kMaxNameLength) {
    RejectCommandLine(run.out,
                      "Terminalname zu lang, erlaubt: max. 31 Zeichen\n");
    return kNameTooLong;
  }

  run.extract_path = argv[3];
  run.section = argv[1];
  run.terminal = argv[2];
  run.replace_flag = static_cast<int16_t>(flag[0] - '0');

  if (argc > 5) {
    std::string debug_switch = argv[5];
    if (StrToUpper(debug_switch) == "/D") {
      run.debug = true;
      std::fputs(" Aktiviert Debugger\n", run.out);
      return kUsable;
    }
  }
  run.debug = false;
  return kUsable;
}

}  // namespace run
