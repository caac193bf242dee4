#pragma once
// What the server needs to know of an FDL at run time, read from the embedded text itself so
// that checks and errors never drift from the definitions clients see.
#include <google/protobuf/message.h>
#include <grpcpp/support/status.h>

#include <optional>
#include <string>
#include <vector>

#include "sila/UnitBackend.h"

namespace krb::sila {

struct ParameterRule {
    std::string identifier;
    std::optional<double> minimum;  // MinimalInclusive
    std::optional<double> maximum;  // MaximalInclusive
    std::optional<size_t> maximalLength;
};

struct CommandModel {
    std::string identifier;
    std::vector<ParameterRule> parameters;
    std::vector<std::string> definedErrors;
};

struct FeatureModel {
    std::string identifier;
    std::string fullyQualified;  // "org.krb/storage/UnitController/v1"
    std::vector<CommandModel> commands;

    const CommandModel& command(const std::string& identifier) const;
};

// The model of an embedded feature, parsed once. An unknown identifier is a programming error
// and throws std::logic_error.
const FeatureModel& featureModel(const std::string& identifier);

// Each parameter present and within its constraints, before anything is called; else the
// validation error for the first one that is not.
std::optional<grpc::Status> checkParameters(const FeatureModel& feature,
                                            const CommandModel& command,
                                            const google::protobuf::Message& parameters);

// Done: OK. A kind the command declares: that defined execution error. Otherwise an undefined
// execution error with the outcome's message.
grpc::Status statusFor(const FeatureModel& feature, const CommandModel& command,
                       const Outcome& outcome);

std::string definedErrorIdentifier(const FeatureModel& feature, const std::string& error);
std::string outcomeKindName(Outcome::Kind kind);

}  // namespace krb::sila
