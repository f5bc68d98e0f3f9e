// tabfetch-admin: shows administrators what tabfetch will do with its
// settings file, its query definitions and its extract files.
#include <cstdio>

#include "admin/admin_main.h"

int main(int argc, char** argv) {
  return admin::AdminMain(argc, argv, stdout, stderr);
}
