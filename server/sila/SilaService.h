#pragma once
// The mandatory SiLAService feature of one unit server.
#include "SiLAService.grpc.pb.h"
#include "sila/UnitContext.h"

namespace krb::sila {

class SiLAServiceFeature final
    : public sila2::org::silastandard::core::silaservice::v1::SiLAService::CallbackService {
  public:
    explicit SiLAServiceFeature(UnitContext& unit) : unit_(unit) {}

    using Cx = grpc::CallbackServerContext;
    grpc::ServerUnaryReactor* GetFeatureDefinition(
        Cx* context,
        const sila2::org::silastandard::core::silaservice::v1::GetFeatureDefinition_Parameters*
            request,
        sila2::org::silastandard::core::silaservice::v1::GetFeatureDefinition_Responses* response)
        override;
    grpc::ServerUnaryReactor* SetServerName(
        Cx* context,
        const sila2::org::silastandard::core::silaservice::v1::SetServerName_Parameters* request,
        sila2::org::silastandard::core::silaservice::v1::SetServerName_Responses* response)
        override;
    grpc::ServerUnaryReactor* Get_ServerName(
        Cx* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ServerName_Parameters*,
        sila2::org::silastandard::core::silaservice::v1::Get_ServerName_Responses* response)
        override;
    grpc::ServerUnaryReactor* Get_ServerType(
        Cx* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ServerType_Parameters*,
        sila2::org::silastandard::core::silaservice::v1::Get_ServerType_Responses* response)
        override;
    grpc::ServerUnaryReactor* Get_ServerUUID(
        Cx* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ServerUUID_Parameters*,
        sila2::org::silastandard::core::silaservice::v1::Get_ServerUUID_Responses* response)
        override;
    grpc::ServerUnaryReactor* Get_ServerDescription(
        Cx* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ServerDescription_Parameters*,
        sila2::org::silastandard::core::silaservice::v1::Get_ServerDescription_Responses* response)
        override;
    grpc::ServerUnaryReactor* Get_ServerVersion(
        Cx* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ServerVersion_Parameters*,
        sila2::org::silastandard::core::silaservice::v1::Get_ServerVersion_Responses* response)
        override;
    grpc::ServerUnaryReactor* Get_ServerVendorURL(
        Cx* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ServerVendorURL_Parameters*,
        sila2::org::silastandard::core::silaservice::v1::Get_ServerVendorURL_Responses* response)
        override;
    grpc::ServerUnaryReactor* Get_ImplementedFeatures(
        Cx* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ImplementedFeatures_Parameters*,
        sila2::org::silastandard::core::silaservice::v1::Get_ImplementedFeatures_Responses*
            response) override;

  private:
    UnitContext& unit_;
};

}  // namespace krb::sila
