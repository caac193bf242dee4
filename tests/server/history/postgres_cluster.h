#pragma once
// A PostgreSQL server of the test's own: a temporary cluster (initdb, pg_ctl) on a free
// loopback port, run as the postgres user when the test runs as root, removed at the end.
#include <filesystem>
#include <string>

namespace krb::server::history::testing {

class PostgresCluster {
  public:
    // The folder of initdb and pg_ctl, or "" when PostgreSQL is not installed.
    static std::string BinariesFolder();

    PostgresCluster();  // throws std::runtime_error when the cluster cannot be made or started
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    std::string Uri() const;  // postgresql://krb@127.0.0.1:PORT/postgres
    void Stop();              // fast shutdown: every connection is cut
    void Start();

  private:
    void Run(const std::string& command) const;  // as the cluster's owner; throws on failure

    std::string bin_;
    std::filesystem::path folder_;
    int port_ = 0;
};

}  // namespace krb::server::history::testing
