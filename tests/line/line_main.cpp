// The tests of the line database, against one private PostgreSQL server that this program
// starts before its first test and stops after its last (one CTest test: one server start).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "history/pg_connection.h"
#include "line_test_support.h"

namespace tr52test {
namespace {

std::unique_ptr<PgCluster> cluster;

class ClusterEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const auto start = std::chrono::steady_clock::now();
    cluster = std::make_unique<PgCluster>();
    std::printf("line tests: the server %s in %.1f s%s%s\n",
                cluster->Ready() ? "started" : "did not start",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                cluster->Ready() ? "" : ": ", cluster->Why().c_str());
  }
  void TearDown() override { cluster.reset(); }
};

constexpr std::chrono::seconds kWait(20);

}  // namespace

PgCluster& Cluster() {
  return *cluster;
}

std::vector<std::string> QueryRow(const std::string& url, const std::string& sql) {
  history::PgConnection conn(url, kWait);
  const history::PgResult result = conn.Exec(sql, {}, kWait);
  std::vector<std::string> row;
  for (int c = 0; result.Rows() > 0 && c < result.Columns(); ++c)
    row.push_back(result.OptText(0, c).value_or("NULL"));
  return row;
}

std::string FreshDatabase(const std::string& name) {
  history::PgConnection admin(Cluster().Url("postgres"), kWait);
  admin.ExecScript("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)", kWait);
  admin.ExecScript("CREATE DATABASE " + name, kWait);
  return Cluster().Url(name);
}

LineCount CountLine(const std::string& url) {
  history::PgConnection conn(url, kWait);
  const history::PgResult exists =
      conn.Exec("SELECT to_regclass('downloads') IS NOT NULL", {}, kWait);
  if (exists.Text(0, 0) != "t") return LineCount{0, 0, 0};
  const history::PgResult r =
      conn.Exec("SELECT count(*), count(DISTINCT uid), count(ended) FROM downloads", {}, kWait);
  return LineCount{std::stol(r.Text(0, 0)), std::stol(r.Text(0, 1)), std::stol(r.Text(0, 2))};
}

}  // namespace tr52test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new tr52test::ClusterEnvironment);
  return RUN_ALL_TESTS();
}
