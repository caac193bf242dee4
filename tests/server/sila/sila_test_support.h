#pragma once
// One unit server over real gRPC on 127.0.0.1 with a fake unit, and what the tests ask of
// its answers.
#include <grpcpp/create_channel.h>
#include <grpcpp/security/credentials.h>
#include <grpcpp/security/server_credentials.h>
#include <gtest/gtest.h>

#include <memory>

#include "fake_unit_backend.h"
#include "sila/SilaErrors.h"
#include "sila/UnitServer.h"
#include "support/temp_dir.h"

namespace krb::sila::test {

inline UnitIdentity plainUnit(const std::string& unitId = "Base1") {
    return {unitId, "PlateStore", "A plate storage unit of the test lab", false, false, false};
}

inline UnitIdentity fullUnit(const std::string& unitId = "Store4") {
    return {unitId, "TubeStore", "A unit with every option", true, true, true};
}

class UnitServerTest : public ::testing::Test {
  protected:
    void startServer(UnitIdentity identity = plainUnit()) {
        backend_ = std::make_shared<FakeUnitBackend>(std::move(identity));
        restartServer();
    }
    // A new server for the same unit, the same identity file.
    void restartServer() {
        server_.reset();
        store_ = std::make_unique<ServerIdentityStore>(dir_.file("sila-servers.lni"));
        server_ = std::make_unique<UnitServer>(backend_, *store_, settings_);
        std::string error;
        ASSERT_TRUE(server_->start("127.0.0.1:0", grpc::InsecureServerCredentials(), error))
            << error;
        channel_ = grpc::CreateChannel("127.0.0.1:" + std::to_string(server_->port()),
                                       grpc::InsecureChannelCredentials());
    }

    UnitServerSettings settings_;
    test_support::TempDir dir_{"krb-sila"};
    std::shared_ptr<FakeUnitBackend> backend_;
    std::unique_ptr<ServerIdentityStore> store_;
    std::unique_ptr<UnitServer> server_;
    std::shared_ptr<grpc::Channel> channel_;
};

inline sila2::org::silastandard::SiLAError siLAErrorOf(const grpc::Status& status) {
    const auto error = decodeSiLAError(status);
    EXPECT_TRUE(error) << "not a SiLA error: " << status.error_code() << " "
                       << status.error_message();
    return error.value_or(sila2::org::silastandard::SiLAError{});
}

}  // namespace krb::sila::test
