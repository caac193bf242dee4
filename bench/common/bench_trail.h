#pragma once
// The audit trail as a server runs it (the bounded queue, its writer thread, a SQLite file in
// WAL mode), installed as the process's sink while it lives, for comparing a run with the
// trail against one without. The server's own trail stays off ([History] Enabled=0), so
// that both runs load the same configuration.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "history/AuditTrail.h"
#include "history/SqliteStore.h"

namespace krb::bench {

// Appends [History] Enabled=0 to a configuration file.
inline void TurnOffTheServersTrail(const std::string& configPath) {
    std::ofstream(configPath, std::ios::app) << "\r\n[History]\r\nEnabled=0\r\n";
}

class BenchTrail {
  public:
    explicit BenchTrail(const std::string& name)
        : folder_(std::filesystem::temp_directory_path() / name) {
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        trail_ = std::make_unique<server::history::AuditTrail>(
            std::make_unique<server::history::SqliteStore>(
                (folder_ / "History.sqlite").string(), server::history::WriterIdentity{"bench", 1}),
            server::history::AuditTrail::Options{},
            [](const std::string& line) { std::printf("trail: %s\n", line.c_str()); });
        server::history::InstallSink(trail_.get());
    }
    ~BenchTrail() {
        Stop();
        std::filesystem::remove_all(folder_);
    }
    BenchTrail(const BenchTrail&) = delete;
    BenchTrail& operator=(const BenchTrail&) = delete;

    // Uninstalls the trail and writes what it queued.
    void Stop() {
        server::history::InstallSink(nullptr);
        if (trail_) trail_->Stop();
    }
    std::uint64_t Written() const { return trail_->Written(); }
    std::uint64_t Lost() const { return trail_->Lost(); }

  private:
    std::filesystem::path folder_;
    std::unique_ptr<server::history::AuditTrail> trail_;
};

}  // namespace krb::bench
