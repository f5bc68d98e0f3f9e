// The banner and usage text that every rejected command line shows, the
// debug trace and the writer's two messages, byte for byte as the callers in
// the field parse them.
#pragma once

#include <string>

namespace testsupport {

inline constexpr char kBanner[] =
    "\n"
    "******************************************************\n"
    "** Projekt     : PALVENTRA                          **\n"
    "** Tool        : TABFETCH                           **\n"
    "** Beschreibung:  Ausfuehren einer SQL-Anweisung    **\n"
    "**                und erstellen einer Downloaddatei **\n"
    "**                aus den Resultierenden Daten      **\n"
    "******************************************************\n"
    "\n";

inline constexpr char kUsage[] =
    "Befehlsformat: \n"
    "TABFETCH.EXE Sektionsname Terminalname Zieldatei 0/1 \n"
    "\n"
    "Sektionsname : Name der Sektion in der Ini-Datei     \n"
    "Terminalname : Parameter fuer das SQL-Statement      \n"
    "Zieldatei    : Dateiname der Ausgabedatei            \n"
    "RepaceFlag   : 0= Anhaengen, 1= Ersetzen             \n"
    "\n"
    "Beispiel:\n"
    "TABFETCH.EXE EXTRCT08 ZutCtrl extrct08.txt 1\n"
    "\n";

// What a run with /D prints up to the end of reading its configuration: the
// switch's line, then GetIniValues around the statement as sent.
inline std::string DebugTrace(const std::string& statement) {
  return " Aktiviert Debugger\nStr GetIniValues\n"
         "  >>>>> SQL-Statement <<<<<\n  '" +
         statement + "'\nEnd GetIniValues\n";
}

inline constexpr char kOpenFailed[] = "Ausgabedatei konnte nicht geoeffnet \n";
inline constexpr char kWriteFailed[] =
    "Ausgabedatei konnte nicht geschrieben werden \n";

}  // namespace testsupport
