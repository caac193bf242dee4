#include "sila/SilaService.h"

#include "sila/FeatureDefinitions.h"

namespace krb::sila {
namespace {

namespace v1 = sila2::org::silastandard::core::silaservice::v1;

const FeatureModel& model() { return featureModel("SiLAService"); }

}  // namespace

grpc::ServerUnaryReactor* SiLAServiceFeature::GetFeatureDefinition(
    Cx* context, const v1::GetFeatureDefinition_Parameters* request,
    v1::GetFeatureDefinition_Responses* response) {
    const auto& command = model().command("GetFeatureDefinition");
    if (auto invalid = checkParameters(model(), command, *request))
        return answer(context, *invalid);
    const std::string& wanted = request->featureidentifier().value();
    for (const auto& identifier : unit_.features()) {
        const FeatureText* feature = findFeature(identifier);
        if (feature && fullyQualifiedIdentifier(*feature) == wanted) {
            response->mutable_featuredefinition()->set_value(feature->definition);
            return answer(context, grpc::Status::OK);
        }
    }
    return answer(context, definedExecutionError(
                               definedErrorIdentifier(model(), "UnimplementedFeature"),
                               "The feature " + wanted + " is not implemented by this server."));
}

grpc::ServerUnaryReactor* SiLAServiceFeature::SetServerName(
    Cx* context, const v1::SetServerName_Parameters* request, v1::SetServerName_Responses*) {
    const auto& command = model().command("SetServerName");
    if (auto invalid = checkParameters(model(), command, *request))
        return answer(context, *invalid);
    const std::string name = request->servername().value();
    return answerFromWorker(unit_, context, [this, name] {
        return unit_.setServerName(name)
                   ? grpc::Status::OK
                   : undefinedExecutionError("The server name could not be stored.");
    });
}

grpc::ServerUnaryReactor* SiLAServiceFeature::Get_ServerName(
    Cx* context, const v1::Get_ServerName_Parameters*, v1::Get_ServerName_Responses* response) {
    response->mutable_servername()->set_value(unit_.serverName());
    return answer(context, grpc::Status::OK);
}

grpc::ServerUnaryReactor* SiLAServiceFeature::Get_ServerType(
    Cx* context, const v1::Get_ServerType_Parameters*, v1::Get_ServerType_Responses* response) {
    response->mutable_servertype()->set_value(unit_.identity().serverType);
    return answer(context, grpc::Status::OK);
}

grpc::ServerUnaryReactor* SiLAServiceFeature::Get_ServerUUID(
    Cx* context, const v1::Get_ServerUUID_Parameters*, v1::Get_ServerUUID_Responses* response) {
    response->mutable_serveruuid()->set_value(unit_.uuid());
    return answer(context, grpc::Status::OK);
}

grpc::ServerUnaryReactor* SiLAServiceFeature::Get_ServerDescription(
    Cx* context, const v1::Get_ServerDescription_Parameters*,
    v1::Get_ServerDescription_Responses* response) {
    response->mutable_serverdescription()->set_value(unit_.identity().description);
    return answer(context, grpc::Status::OK);
}

grpc::ServerUnaryReactor* SiLAServiceFeature::Get_ServerVersion(
    Cx* context, const v1::Get_ServerVersion_Parameters*,
    v1::Get_ServerVersion_Responses* response) {
    response->mutable_serverversion()->set_value(unit_.settings().serverVersion);
    return answer(context, grpc::Status::OK);
}

grpc::ServerUnaryReactor* SiLAServiceFeature::Get_ServerVendorURL(
    Cx* context, const v1::Get_ServerVendorURL_Parameters*,
    v1::Get_ServerVendorURL_Responses* response) {
    response->mutable_servervendorurl()->set_value(unit_.settings().vendorUrl);
    return answer(context, grpc::Status::OK);
}

grpc::ServerUnaryReactor* SiLAServiceFeature::Get_ImplementedFeatures(
    Cx* context, const v1::Get_ImplementedFeatures_Parameters*,
    v1::Get_ImplementedFeatures_Responses* response) {
    for (const auto& identifier : unit_.features()) {
        response->add_implementedfeatures()->set_value(
            fullyQualifiedIdentifier(*findFeature(identifier)));
    }
    return answer(context, grpc::Status::OK);
}

}  // namespace krb::sila
