// Test helper: connects once with the given values and prints the status.
// The client library reads MYSQL_UNIX_PORT and MYSQL_TCP_PORT only once per
// process, so tests that steer them run this in a process of its own.
//
//   db_connect_probe USER PASSWORD HOST DATABASE
#include <cstdio>

#include "db/db_connection.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::printf("usage: db_connect_probe USER PASSWORD HOST DATABASE\n");
    return 2;
  }
  db::Connection conn;
  const int status = conn.Connect(argv[1], argv[2], argv[3], argv[4]);
  std::printf("%d\n", status);
  return 0;
}
