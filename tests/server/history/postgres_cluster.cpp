#include "postgres_cluster.h"

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace krb::server::history::testing {
namespace {

namespace fs = std::filesystem;

int FreeLoopbackPort() {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socket < 0 || bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (socket >= 0) close(socket);
        throw std::runtime_error("no free loopback port");
    }
    close(socket);
    return ntohs(address.sin_port);
}

}  // namespace

std::string PostgresCluster::BinariesFolder() {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
        if (fs::exists(entry.path() / "bin" / "initdb") &&
            fs::exists(entry.path() / "bin" / "pg_ctl")) {
            found.push_back(entry.path() / "bin");
        }
    }
    if (found.empty()) return "";
    std::sort(found.begin(), found.end());
    return found.back().string();
}

PostgresCluster::PostgresCluster() : bin_(BinariesFolder()) {
    if (bin_.empty()) throw std::runtime_error("PostgreSQL is not installed");
    std::string pattern = (fs::temp_directory_path() / "krb-postgres-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no temporary folder");
    folder_ = pattern;
    if (geteuid() == 0) {
        const passwd* owner = getpwnam("postgres");
        if (!owner || chown(folder_.c_str(), owner->pw_uid, owner->pw_gid) != 0) {
            throw std::runtime_error("cannot hand " + folder_.string() + " to user postgres");
        }
    }
    port_ = FreeLoopbackPort();
    Run(bin_ + "/initdb -D " + (folder_ / "data").string() +
        " -U krb --auth=trust -E UTF8 --no-sync > " + (folder_ / "initdb.log").string() + " 2>&1");
    Start();
}

PostgresCluster::~PostgresCluster() {
    try {
        Run(bin_ + "/pg_ctl -D " + (folder_ / "data").string() + " -m immediate -w stop" +
            " > /dev/null 2>&1");
    } catch (const std::runtime_error&) {
        // stopped already
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

std::string PostgresCluster::Uri() const {
    return "postgresql://krb@127.0.0.1:" + std::to_string(port_) + "/postgres";
}

void PostgresCluster::Start() {
    Run(bin_ + "/pg_ctl -D " + (folder_ / "data").string() + " -l " +
        (folder_ / "server.log").string() + " -w -o \"-p " + std::to_string(port_) + " -k " +
        folder_.string() + " -c listen_addresses=127.0.0.1 -c fsync=off\" start > /dev/null");
}

void PostgresCluster::Stop() {
    Run(bin_ + "/pg_ctl -D " + (folder_ / "data").string() + " -m fast -w stop > /dev/null");
}

void PostgresCluster::Run(const std::string& command) const {
    const std::string line =
        geteuid() == 0 ? "runuser -u postgres -- sh -c '" + command + "'" : command;
    if (std::system(line.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

}  // namespace krb::server::history::testing
