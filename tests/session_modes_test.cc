// The server reads the statement the way tabfetch checked it, whatever the
// server does with the handshake's character set, init_connect or sql_mode.
// Each case sets up a hostile server setting, shows that it is in force for
// the tool's user, and runs the real binary with a name that would carry SQL
// of its own: no row of SECRET may reach the extract.
//
// The settings are global, so the cases run on a server of their own (never
// the shared fixture server, which other tests use at the same time), one
// after the other in one test; the server goes when the test ends, passed or
// failed.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testsupport/fault_support.h"
#include "testsupport/workspace.h"

namespace {

using testsupport::SecondServer;
using testsupport::Summary;
using testsupport::ToolResult;
using testsupport::Workspace;

// sjis for the statement's literal '在庫表': its last byte is 0x5C.
const std::string kSjisArtikel = "\x8D\xDD\x8C\xC9\x95\x5C";

// The session a new connection of the tool's user gets when it asks for
// latin1 in the handshake, as tabfetch did: "<client>/<connection> <mode>".
std::string SessionSeenByUser(const SecondServer& server) {
  return server.FirstValue(
      "SELECT CONCAT(@@character_set_client, '/', "
      "@@character_set_connection, ' ', @@sql_mode)",
      true);
}

struct Case {
  const char* what;
  std::vector<std::string> globals;  // run as root before the case
  const char* session;               // SessionSeenByUser must contain this
  std::string statement;             // SQL001 of the section
  std::string name;                  // the terminal name
  int want_exit;
  std::string want_out;      // standard output
  std::string want_extract;  // "<missing>": no extract written
  const char* want_err;      // a part of the standard-error line
};

const char kRefused[] = "Terminalname im SQL-Statement nicht zulaessig\n";

TEST(SessionModesTest, HostileServerSettings) {
  SecondServer server(
      "--skip-character-set-client-handshake --character-set-server=sjis "
      "--collation-server=sjis_japanese_ci");
  ASSERT_EQ(server.error(), "");
  for (const char* sql : {
           "CREATE TABLE PALVDATA.BUCHUNG (TERMINAL VARBINARY(20), ARTIKEL "
           "VARBINARY(20), MENGE INT)",
           "INSERT INTO PALVDATA.BUCHUNG VALUES ('KASSE1', 'Apfel', 5), "
           "('KASSE1', 'Birne', 0), ('KASSE2', 'Kirsche', 7), "
           "('O''Brien', 'Dattel', 1), ('O''''Brien', 'Feige', 2)",
           "CREATE TABLE PALVDATA.SECRET (S VARBINARY(20))",
           "INSERT INTO PALVDATA.SECRET VALUES ('GEHEIM')",
       }) {
    ASSERT_EQ(server.AdminSql(sql), "") << sql;
  }

  Workspace ws;
  ws.WriteSettings({"localhost", server.user(), server.password(), "MARIADB"});

  const std::vector<std::string> kLatin1 = {
      "SET GLOBAL character_set_client = 'latin1', "
      "character_set_connection = 'latin1'",
      "SET GLOBAL init_connect = ''", "SET GLOBAL sql_mode = DEFAULT"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> all = kLatin1;
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  };
  const std::string kByTerminal =
      "SELECT TERMINAL, ARTIKEL FROM BUCHUNG WHERE TERMINAL = '$parm01'";
  const std::string kMssql =
      "SELECT ARTIKEL AS [Artikel's Name], MENGE FROM BUCHUNG WHERE MENGE > "
      "$parm01 AND TERMINAL = 'KASSE1'";
  const std::string kUnion = "0 UNION SELECT S,1 FROM SECRET#";
  // 0x95 is a lead byte in sjis and gbk, and 0x5C a trail byte: the
  // backslash that escapes the quote would become part of a character.
  const std::string kLeadByteQuote = "\x95'UNION SELECT S,S FROM SECRET#";

  const Case kCases[] = {
      {"handshake ignored, sjis",
       with({"SET GLOBAL character_set_client = 'sjis', "
             "character_set_connection = 'sjis'"}),
       "sjis/sjis", kByTerminal, kLeadByteQuote, 0, Summary(0, "x.txt"),
       "<missing>", ""},
      {"handshake ignored, gbk",
       with({"SET GLOBAL character_set_client = 'gbk', "
             "character_set_connection = 'gbk'"}),
       "gbk/gbk", kByTerminal, kLeadByteQuote, 0, Summary(0, "x.txt"),
       "<missing>", ""},
      // Read as latin1 the literal does not end; the server must read it so
      // too (and reject the statement) instead of running the UNION.
      {"init_connect SET NAMES sjis",
       with({"SET GLOBAL init_connect = 'SET NAMES sjis'"}), "sjis/sjis",
       "SELECT TERMINAL, ARTIKEL FROM BUCHUNG WHERE ARTIKEL = '" +
           kSjisArtikel + "' AND MENGE > $parm01",
       kUnion, 0, Summary(0, "x.txt"), "<missing>",
       "the server rejected the statement: error 1064: "},
      {"sql_mode MSSQL: the placeholder is code",
       with({"SET GLOBAL sql_mode = 'MSSQL'"}), "MSSQL", kMssql, kUnion, 1,
       kRefused, "<missing>",
       "terminal name refused at $parm01 no. 1 (byte 70 of the statement): "
       "not a plain name"},
      {"sql_mode MSSQL: a plain name", with({"SET GLOBAL sql_mode = 'MSSQL'"}),
       "MSSQL", kMssql, "0", 0, Summary(1, "x.txt"), "Apfel     5         ",
       ""},
      {"NO_BACKSLASH_ESCAPES: a quote in a double-quoted literal",
       with({"SET GLOBAL sql_mode = 'NO_BACKSLASH_ESCAPES'"}),
       "NO_BACKSLASH_ESCAPES",
       "SELECT TERMINAL, ARTIKEL FROM BUCHUNG WHERE TERMINAL = \"$parm01\"",
       "O'Brien", 0, Summary(1, "x.txt"), "O'Brien   Dattel    ", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    for (const std::string& sql : c.globals) {
      ASSERT_EQ(server.AdminSql(sql), "") << sql;
    }
    // The hostile setting is in force for the tool's user.
    ASSERT_NE(SessionSeenByUser(server).find(c.session), std::string::npos)
        << SessionSeenByUser(server);

    ws.WriteQueryDefinition("MARIADB", "[Q]\nSQL001=" + c.statement +
                                           "\nFELD01=A\nFTYP01=CHAR\n"
                                           "FLEN01=10\nFELD02=B\n"
                                           "FTYP02=CHAR\nFLEN02=10\n");
    std::remove(ws.At("x.txt").c_str());
    const ToolResult r = ws.Run({"Q", c.name, "x.txt", "1"}, server.Env());
    EXPECT_EQ(r.exit_code, c.want_exit);
    EXPECT_EQ(r.out, c.want_out);
    const std::string extract = ws.ReadFile("x.txt");
    EXPECT_EQ(extract.find("GEHEIM"), std::string::npos);
    EXPECT_EQ(extract, c.want_extract);
    EXPECT_NE(r.err.find(c.want_err), std::string::npos) << r.err;
  }
}

}  // namespace
