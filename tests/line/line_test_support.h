// What the tests of the line database share: the one private server of the test program, fresh
// databases on it, and counts of what arrived.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "pg_cluster.h"

namespace tr52test {

// The program's server, started once before the first test and stopped after the last.
PgCluster& Cluster();

// Skips the test where the server programs are not installed; fails it where the server did
// not start.
#define REQUIRE_SERVER()                                                              \
  do {                                                                                \
    if (::tr52test::Cluster().Missing()) GTEST_SKIP() << ::tr52test::Cluster().Why(); \
    ASSERT_TRUE(::tr52test::Cluster().Ready()) << ::tr52test::Cluster().Why();        \
  } while (0)

// A new, empty database `name` (an older one of that name is dropped); its connection string.
std::string FreshDatabase(const std::string& name);

// Runs SQL on the database at `url` (as the server's superuser); the first row's values.
std::vector<std::string> QueryRow(const std::string& url, const std::string& sql);

// Rows of `downloads`, how many distinct uids, how many completed.
struct LineCount {
  long rows = -1, uids = -1, complete = -1;
  bool operator==(const LineCount&) const = default;
};
LineCount CountLine(const std::string& url);

}  // namespace tr52test
