// The gRPC services the server registers are exactly what the standard XSLT makes of the FDLs
// it serves: each FDL fetched from the running server goes through xsltproc and protoc here,
// at test time, and its descriptors must equal those built into the server; each method of
// them must be answered by the server.
#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/util/message_differencer.h>
#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/impl/codegen/client_unary_call.h>
#include <grpcpp/support/byte_buffer.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "SiLAService.grpc.pb.h"
#include "sila_test_support.h"

namespace krb::sila::test {
namespace {

namespace v1 = sila2::org::silastandard::core::silaservice::v1;
using google::protobuf::FileDescriptorProto;
using google::protobuf::FileDescriptorSet;

class GeneratedServicesTest : public UnitServerTest {
  protected:
    std::string fetchDefinition(const std::string& identifier) {
        grpc::ClientContext context;
        v1::GetFeatureDefinition_Parameters parameters;
        parameters.mutable_featureidentifier()->set_value(identifier);
        v1::GetFeatureDefinition_Responses responses;
        EXPECT_TRUE(v1::SiLAService::NewStub(channel_)
                        ->GetFeatureDefinition(&context, parameters, &responses)
                        .ok());
        return responses.featuredefinition().value();
    }
    std::vector<std::string> implementedFeatures() {
        grpc::ClientContext context;
        v1::Get_ImplementedFeatures_Responses responses;
        EXPECT_TRUE(v1::SiLAService::NewStub(channel_)
                        ->Get_ImplementedFeatures(&context, {}, &responses)
                        .ok());
        std::vector<std::string> features;
        for (const auto& feature : responses.implementedfeatures())
            features.push_back(feature.value());
        return features;
    }
    // The feature's .proto as the standard XSLT makes it, compiled to descriptors by protoc.
    std::optional<FileDescriptorProto> descriptorsFromXslt(const std::string& name,
                                                           const std::string& definition) {
        const auto folder = dir_.path() / "xslt";
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(std::string(KRB_SILA_STANDARD_DIR) + "/SiLAFramework.proto",
                                   folder / "SiLAFramework.proto",
                                   std::filesystem::copy_options::overwrite_existing);
        test_support::writeWholeFile((folder / (name + ".sila.xml")).string(), definition);
        const std::string command =
            "cd '" + folder.string() + "' && xsltproc '" + KRB_SILA_STANDARD_DIR +
            "/fdl2proto.xsl' " + name + ".sila.xml > " + name + ".proto && protoc -I. " +
            "--include_imports --descriptor_set_out=" + name + ".set " + name + ".proto";
        if (std::system(command.c_str()) != 0) return std::nullopt;
        FileDescriptorSet set;
        std::ifstream in(folder / (name + ".set"), std::ios::binary);
        if (!set.ParseFromIstream(&in)) return std::nullopt;
        // Through a pool of its own, so that both sides are written out the same way.
        google::protobuf::DescriptorPool pool;
        const google::protobuf::FileDescriptor* file = nullptr;
        for (const auto& proto : set.file()) file = pool.BuildFile(proto);
        if (!file || file->name() != name + ".proto") return std::nullopt;
        FileDescriptorProto copy;
        file->CopyTo(&copy);
        return copy;
    }
    grpc::Status call(const std::string& path) {
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(1));
        grpc::ByteBuffer request, response;
        grpc::Slice empty;
        request = grpc::ByteBuffer(&empty, 1);
        const grpc::internal::RpcMethod method(path.c_str(), grpc::internal::RpcMethod::NORMAL_RPC);
        return grpc::internal::BlockingUnaryCall<grpc::ByteBuffer, grpc::ByteBuffer>(
            channel_.get(), method, &context, request, &response);
    }
};

TEST_F(GeneratedServicesTest, RegisteredServicesAreWhatTheStandardXsltMakesOfEachServedFdl) {
    startServer(fullUnit());
    const auto features = implementedFeatures();
    ASSERT_EQ(features.size(), 8u);
    for (const auto& identifier : features) {
        const auto withoutVersion = identifier.substr(0, identifier.rfind('/'));
        const auto name = withoutVersion.substr(withoutVersion.rfind('/') + 1);
        const auto fromXslt = descriptorsFromXslt(name, fetchDefinition(identifier));
        ASSERT_TRUE(fromXslt) << name << ": xsltproc or protoc failed";

        const auto* built =
            google::protobuf::DescriptorPool::generated_pool()->FindFileByName(name + ".proto");
        ASSERT_NE(built, nullptr) << name;
        FileDescriptorProto inServer;
        built->CopyTo(&inServer);
        std::string differences;
        google::protobuf::util::MessageDifferencer differencer;
        differencer.ReportDifferencesToString(&differences);
        // Built-in descriptors carry the JSON names protoc derives; the set written does not.
        differencer.IgnoreField(
            google::protobuf::FieldDescriptorProto::descriptor()->FindFieldByName("json_name"));
        EXPECT_TRUE(differencer.Compare(*fromXslt, inServer)) << name << ":\n" << differences;

        ASSERT_EQ(fromXslt->service_size(), 1) << name;
        const auto& service = fromXslt->service(0);
        for (const auto& method : service.method()) {
            const auto path =
                "/" + fromXslt->package() + "." + service.name() + "/" + method.name();
            EXPECT_NE(call(path).error_code(), grpc::StatusCode::UNIMPLEMENTED) << path;
        }
    }
}

TEST_F(GeneratedServicesTest, AFeatureTheUnitLacksIsNotServed) {
    startServer(plainUnit());
    EXPECT_EQ(call("/sila2.org.krb.storage.climatecontroller.v1.ClimateController/Get_CurrentCO2")
                  .error_code(),
              grpc::StatusCode::UNIMPLEMENTED);
    EXPECT_NE(
        call("/sila2.org.krb.storage.unitcontroller.v1.UnitController/Deactivate").error_code(),
        grpc::StatusCode::UNIMPLEMENTED);
}

}  // namespace
}  // namespace krb::sila::test
