// The fetch floor: the least any client of this library has to do to get
// the rows of a result set. Connects like tabfetch (latin1), runs one
// statement, fetches every row and does nothing with it: with "store" the
// whole result is stored first (mysql_store_result), with "use" the rows are
// read as they arrive (mysql_use_result). With "hold" the rows are read as
// they arrive and the bytes of every row are kept, back to back, in newly
// allocated memory: a sorted extract keeps its records until the last row
// has arrived, and this is what keeping them costs a client that neither
// formats nor sorts them. The benchmark compares tabfetch against all three.
//
//   fetch_floor store|use|hold HOST USER PASSWORD DATABASE STATEMENT
//
// An empty HOST takes the library's default route (MYSQL_UNIX_PORT). Prints
// the number of rows (with "hold" also the bytes kept); exit code 0 on
// success, 1 with the error otherwise.
#include <mysql.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 7 ||
      (std::strcmp(argv[1], "store") != 0 && std::strcmp(argv[1], "use") != 0 &&
       std::strcmp(argv[1], "hold") != 0)) {
    std::printf(
        "usage: fetch_floor store|use|hold HOST USER PASSWORD DATABASE "
        "STATEMENT\n");
    return 2;
  }
  const bool store = std::strcmp(argv[1], "store") == 0;
  const bool hold = std::strcmp(argv[1], "hold") == 0;
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
  // hold: blocks of 8 MiB in huge pages where the system has them (as
  // tabfetch's chunks), each first touched by the copy of the rows.
  constexpr std::size_t kBlock = std::size_t{8} << 20;
  struct Free {
    void operator()(char* p) const { std::free(p); }
  };
  std::vector<std::unique_ptr<char, Free>> blocks;
  std::size_t used = kBlock;
  unsigned long long held = 0;
  const unsigned fields = mysql_num_fields(result);
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    ++rows;
    if (!hold) continue;
    const unsigned long* lengths = mysql_fetch_lengths(result);
    for (unsigned i = 0; i < fields; ++i) {
      if (row[i] == nullptr || lengths[i] > kBlock) continue;
      if (kBlock - used < lengths[i]) {
        std::unique_ptr<char, Free> block(static_cast<char*>(
            std::aligned_alloc(std::size_t{2} << 20, kBlock)));
        if (!block) {
          std::printf("error: no memory after %llu rows\n", rows);
          return 1;
        }
        ::madvise(block.get(), kBlock, MADV_HUGEPAGE);
        blocks.push_back(std::move(block));
        used = 0;
      }
      std::memcpy(blocks.back().get() + used, row[i], lengths[i]);
      used += lengths[i];
      held += lengths[i];
    }
  }
  if (mysql_errno(mysql) != 0) {
    std::printf("error %u: %s\n", mysql_errno(mysql), mysql_error(mysql));
    mysql_free_result(result);
    mysql_close(mysql);
    return 1;
  }
  mysql_free_result(result);
  mysql_close(mysql);
  std::printf("%llu\n", rows);
  if (hold) {
    // Reading the held bytes back keeps the compiler from dropping the copy.
    unsigned check = 0;
    for (const auto& block : blocks)
      check += static_cast<unsigned char>(*block);
    std::printf("%llu bytes held (%u)\n", held, check);
  }
  return 0;
}
