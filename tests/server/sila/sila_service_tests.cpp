// SiLAService over real gRPC: the server's description, its features, and the name and UUID
// kept across restarts.
#include <regex>

#include "SiLAService.grpc.pb.h"
#include "sila/FeatureDefinitions.h"
#include "sila_test_support.h"

namespace krb::sila::test {
namespace {

namespace v1 = sila2::org::silastandard::core::silaservice::v1;

class SiLAServiceTest : public UnitServerTest {
  protected:
    std::unique_ptr<v1::SiLAService::Stub> stub() { return v1::SiLAService::NewStub(channel_); }

    std::string serverName() {
        grpc::ClientContext context;
        v1::Get_ServerName_Responses responses;
        EXPECT_TRUE(stub()->Get_ServerName(&context, {}, &responses).ok());
        return responses.servername().value();
    }
    std::string serverUuid() {
        grpc::ClientContext context;
        v1::Get_ServerUUID_Responses responses;
        EXPECT_TRUE(stub()->Get_ServerUUID(&context, {}, &responses).ok());
        return responses.serveruuid().value();
    }
    grpc::Status setServerName(const std::string& name) {
        grpc::ClientContext context;
        v1::SetServerName_Parameters parameters;
        parameters.mutable_servername()->set_value(name);
        v1::SetServerName_Responses responses;
        return stub()->SetServerName(&context, parameters, &responses);
    }
    std::vector<std::string> implementedFeatures() {
        grpc::ClientContext context;
        v1::Get_ImplementedFeatures_Responses responses;
        EXPECT_TRUE(stub()->Get_ImplementedFeatures(&context, {}, &responses).ok());
        std::vector<std::string> features;
        for (const auto& feature : responses.implementedfeatures())
            features.push_back(feature.value());
        return features;
    }
    grpc::Status featureDefinition(const std::string& identifier, std::string& definition) {
        grpc::ClientContext context;
        v1::GetFeatureDefinition_Parameters parameters;
        parameters.mutable_featureidentifier()->set_value(identifier);
        v1::GetFeatureDefinition_Responses responses;
        const auto status = stub()->GetFeatureDefinition(&context, parameters, &responses);
        definition = responses.featuredefinition().value();
        return status;
    }
};

TEST_F(SiLAServiceTest, DescribesTheUnitAsItsServer) {
    startServer();
    EXPECT_EQ(serverName(), "Base1");
    EXPECT_TRUE(std::regex_match(
        serverUuid(),
        std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")));
    grpc::ClientContext typeContext, versionContext, urlContext, descriptionContext;
    v1::Get_ServerType_Responses type;
    v1::Get_ServerVersion_Responses version;
    v1::Get_ServerVendorURL_Responses url;
    v1::Get_ServerDescription_Responses description;
    ASSERT_TRUE(stub()->Get_ServerType(&typeContext, {}, &type).ok());
    ASSERT_TRUE(stub()->Get_ServerVersion(&versionContext, {}, &version).ok());
    ASSERT_TRUE(stub()->Get_ServerVendorURL(&urlContext, {}, &url).ok());
    ASSERT_TRUE(stub()->Get_ServerDescription(&descriptionContext, {}, &description).ok());
    EXPECT_EQ(type.servertype().value(), "PlateStore");
    EXPECT_TRUE(
        std::regex_match(version.serverversion().value(), std::regex(R"(\d+\.\d+(\.\d+)?)")));
    EXPECT_TRUE(std::regex_match(url.servervendorurl().value(), std::regex("https?://.+")));
    EXPECT_EQ(description.serverdescription().value(), "A plate storage unit of the test lab");
}

TEST_F(SiLAServiceTest, ListsTheFeaturesOfTheUnitsKind) {
    const std::vector<std::string> common = {
        "org.silastandard/core/SiLAService/v1", "org.krb/storage/UnitStatusProvider/v1",
        "org.krb/storage/UnitController/v1", "org.krb/storage/PlateTransferController/v1",
        "org.krb/storage/InventoryController/v1"};
    startServer(plainUnit());
    EXPECT_EQ(implementedFeatures(), common);

    startServer(fullUnit());
    auto all = common;
    all.insert(all.end(), {"org.krb/storage/BarcodeReaderController/v1",
                           "org.krb/storage/ClimateController/v1",
                           "org.krb/storage/TubeTransferController/v1"});
    EXPECT_EQ(implementedFeatures(), all);
}

TEST_F(SiLAServiceTest, GivesTheDefinitionOfEachImplementedFeatureOnly) {
    startServer(plainUnit());
    for (const auto& identifier : implementedFeatures()) {
        std::string definition;
        ASSERT_TRUE(featureDefinition(identifier, definition).ok()) << identifier;
        const auto name = identifier.substr(0, identifier.rfind('/'));
        EXPECT_NE(
            definition.find("<Identifier>" + name.substr(name.rfind('/') + 1) + "</Identifier>"),
            std::string::npos);
    }
    for (const std::string unknown : {"org.krb/storage/ClimateController/v1",
                                      "org.krb/storage/UnitController/v2", "nonsense"}) {
        std::string definition;
        const auto error = siLAErrorOf(featureDefinition(unknown, definition));
        ASSERT_TRUE(error.has_definedexecutionerror()) << unknown;
        EXPECT_EQ(
            error.definedexecutionerror().erroridentifier(),
            "org.silastandard/core/SiLAService/v1/DefinedExecutionError/UnimplementedFeature");
    }
}

TEST_F(SiLAServiceTest, KeepsItsUuidAndAClientsNameAcrossRestarts) {
    startServer();
    const auto uuid = serverUuid();
    ASSERT_TRUE(setServerName("Left incubator").ok());
    EXPECT_EQ(serverName(), "Left incubator");

    restartServer();
    EXPECT_EQ(serverUuid(), uuid);
    EXPECT_EQ(serverName(), "Left incubator");
}

TEST_F(SiLAServiceTest, RefusesAServerNameBeyondTheLimitAndKeepsTheOldOne) {
    startServer();
    const auto error = siLAErrorOf(setServerName(std::string(256, 'x')));
    ASSERT_TRUE(error.has_validationerror());
    EXPECT_EQ(error.validationerror().parameter(),
              "org.silastandard/core/SiLAService/v1/Command/SetServerName/Parameter/ServerName");
    EXPECT_EQ(serverName(), "Base1");
    EXPECT_TRUE(setServerName(std::string(255, 'x')).ok());
}

TEST_F(SiLAServiceTest, UnitsOfOneLabGetDistinctUuids) {
    startServer(plainUnit("Base1"));
    const auto first = serverUuid();
    startServer(plainUnit("Ext1"));
    EXPECT_NE(serverUuid(), first);
}

TEST(FeatureDefinitions, AreWrittenToAFolder) {
    test_support::TempDir dir("krb-sila-fdl");
    std::string error;
    ASSERT_TRUE(writeFeatureDefinitions(dir.file("features"), error)) << error;
    for (const auto& feature : embeddedFeatureTexts()) {
        EXPECT_EQ(test_support::readWholeFile(
                      dir.file("features/" + std::string(feature.identifier) + ".sila.xml")),
                  feature.definition);
    }
    EXPECT_EQ(embeddedFeatureTexts().size(), 8u);
}

}  // namespace
}  // namespace krb::sila::test
