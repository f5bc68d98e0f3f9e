// The fetch floor: the least any client of this library has to do to get
// the rows of a result set. Connects like tabfetch (latin1), runs one
// statement, fetches every row and does nothing with it: with "store" the
// whole result is stored first (mysql_store_result), with "use" the rows are
// read as they arrive (mysql_use_result). The benchmark compares tabfetch
// against both.
//
//   fetch_floor store|use HOST USER PASSWORD DATABASE STATEMENT
//
// An empty HOST takes the library's default route (MYSQL_UNIX_PORT). Prints
// the number of rows; exit code 0 on success, 1 with the error otherwise.
#include <mysql.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 7 || (std::strcmp(argv[1], "store") != 0 &&
                    std::strcmp(argv[1], "use") != 0)) {
    std::printf(
        "usage: fetch_floor store|use HOST USER PASSWORD DATABASE "
        "STATEMENT\n");
    return 2;
  }
  const bool store = std::strcmp(argv[1], "store") == 0;
  ++argv;
  MYSQL* mysql = mysql_init(nullptr);
  if (mysql == nullptr) return 1;
  mysql_options(mysql, MYSQL_SET_CHARSET_NAME, "latin1");
  if (mysql_real_connect(mysql, argv[1], argv[2], argv[3], argv[4], 0, nullptr,
                         0) == nullptr ||
      mysql_real_query(mysql, argv[5],
                       static_cast<unsigned long>(std::strlen(argv[5]))) != 0) {
    std::printf("error %u: %s\n", mysql_errno(mysql), mysql_error(mysql));
    mysql_close(mysql);
    return 1;
  }
  MYSQL_RES* result =
      store ? mysql_store_result(mysql) : mysql_use_result(mysql);
  if (result == nullptr) {
    std::printf("error %u: %s\n", mysql_errno(mysql), mysql_error(mysql));
    mysql_close(mysql);
    return 1;
  }
  unsigned long long rows = 0;
  while (mysql_fetch_row(result) != nullptr) ++rows;
  if (mysql_errno(mysql) != 0) {
    std::printf("error %u: %s\n", mysql_errno(mysql), mysql_error(mysql));
    mysql_free_result(result);
    mysql_close(mysql);
    return 1;
  }
  mysql_free_result(result);
  mysql_close(mysql);
  std::printf("%llu\n", rows);
  return 0;
}
