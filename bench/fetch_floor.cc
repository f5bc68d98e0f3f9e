// The fetch floor: the least any client of this library has to do to get a
// result set into its memory and walk it. Connects like tabfetch (latin1),
// runs one statement, stores the whole result, fetches every row and does
// nothing with it. The benchmark compares tabfetch against this.
//
//   fetch_floor HOST USER PASSWORD DATABASE STATEMENT
//
// An empty HOST takes the library's default route (MYSQL_UNIX_PORT). Prints
// the number of rows; exit code 0 on success, 1 with the error otherwise.
#include <mysql.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 6) {
    std::printf("usage: fetch_floor HOST USER PASSWORD DATABASE STATEMENT\n");
    return 2;
  }
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
  MYSQL_RES* result = mysql_store_result(mysql);
  if (result == nullptr) {
    std::printf("error %u: %s\n", mysql_errno(mysql), mysql_error(mysql));
    mysql_close(mysql);
    return 1;
  }
  unsigned long long rows = 0;
  while (mysql_fetch_row(result) != nullptr) ++rows;
  mysql_free_result(result);
  mysql_close(mysql);
  std::printf("%llu\n", rows);
  return 0;
}
