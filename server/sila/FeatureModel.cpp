#include "sila/FeatureModel.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>

#include "sila/FeatureDefinitions.h"
#include "sila/SilaErrors.h"

namespace krb::sila {
namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

bool named(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::vector<const xmlNode*> children(const xmlNode* node, const char* name) {
    std::vector<const xmlNode*> found;
    for (const xmlNode* child = node->children; child; child = child->next) {
        if (named(child, name)) found.push_back(child);
    }
    return found;
}

const xmlNode* child(const xmlNode* node, const char* name) {
    const auto found = children(node, name);
    return found.empty() ? nullptr : found.front();
}

std::string text(const xmlNode* node) {
    if (!node) return {};
    xmlChar* content = xmlNodeGetContent(node);
    std::string value = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    const auto begin = value.find_first_not_of(" \t\r\n");
    const auto end = value.find_last_not_of(" \t\r\n");
    return begin == std::string::npos ? "" : value.substr(begin, end - begin + 1);
}

ParameterRule ruleOf(const xmlNode* parameter) {
    ParameterRule rule{text(child(parameter, "Identifier")), {}, {}, {}};
    const xmlNode* type = child(parameter, "DataType");
    const xmlNode* constrained = type ? child(type, "Constrained") : nullptr;
    const xmlNode* constraints = constrained ? child(constrained, "Constraints") : nullptr;
    if (!constraints) return rule;
    if (const auto* node = child(constraints, "MinimalInclusive"))
        rule.minimum = std::stod(text(node));
    if (const auto* node = child(constraints, "MaximalInclusive"))
        rule.maximum = std::stod(text(node));
    if (const auto* node = child(constraints, "MaximalLength"))
        rule.maximalLength = std::stoul(text(node));
    return rule;
}

CommandModel commandOf(const xmlNode* command) {
    CommandModel model{text(child(command, "Identifier")), {}, {}};
    for (const auto* parameter : children(command, "Parameter")) {
        model.parameters.push_back(ruleOf(parameter));
    }
    if (const auto* errors = child(command, "DefinedExecutionErrors")) {
        for (const auto* error : children(errors, "Identifier")) {
            model.definedErrors.push_back(text(error));
        }
    }
    return model;
}

FeatureModel parseFeature(const FeatureText& feature) {
    FeatureModel model{feature.identifier, fullyQualifiedIdentifier(feature), {}};
    xmlDoc* document = xmlReadMemory(feature.definition, int(std::strlen(feature.definition)),
                                     "feature.xml", nullptr, XML_PARSE_NONET);
    if (!document) throw std::logic_error(std::string("unreadable FDL ") + feature.identifier);
    for (const auto* command : children(xmlDocGetRootElement(document), "Command")) {
        model.commands.push_back(commandOf(command));
    }
    xmlFreeDoc(document);
    return model;
}

size_t characterCount(const std::string& text) {
    size_t count = 0;
    for (const unsigned char byte : text) count += (byte & 0xC0) != 0x80;
    return count;
}

std::optional<std::string> violation(const ParameterRule& rule, const Message& value) {
    const auto* field = value.GetDescriptor()->FindFieldByName("value");
    if (!field) return std::nullopt;
    const auto* reflection = value.GetReflection();
    double number = 0;
    switch (field->cpp_type()) {
        case FieldDescriptor::CPPTYPE_INT64:
            number = double(reflection->GetInt64(value, field));
            break;
        case FieldDescriptor::CPPTYPE_DOUBLE:
            number = reflection->GetDouble(value, field);
            break;
        case FieldDescriptor::CPPTYPE_STRING: {
            const auto length = characterCount(reflection->GetString(value, field));
            if (rule.maximalLength && length > *rule.maximalLength) {
                return "longer than " + std::to_string(*rule.maximalLength) + " characters";
            }
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
    if ((rule.minimum && number < *rule.minimum) || (rule.maximum && number > *rule.maximum)) {
        return "out of range " + std::to_string(long(rule.minimum.value_or(number))) + ".." +
               std::to_string(long(rule.maximum.value_or(number)));
    }
    return std::nullopt;
}

}  // namespace

const CommandModel& FeatureModel::command(const std::string& name) const {
    for (const auto& model : commands) {
        if (model.identifier == name) return model;
    }
    throw std::logic_error("no command " + name + " in " + identifier);
}

const FeatureModel& featureModel(const std::string& identifier) {
    static std::mutex mutex;
    static std::map<std::string, FeatureModel> models;
    std::lock_guard lock(mutex);
    if (const auto it = models.find(identifier); it != models.end()) return it->second;
    const FeatureText* feature = findFeature(identifier);
    if (!feature) throw std::logic_error("no feature " + identifier);
    return models.emplace(identifier, parseFeature(*feature)).first->second;
}

std::optional<grpc::Status> checkParameters(const FeatureModel& feature,
                                            const CommandModel& command,
                                            const Message& parameters) {
    const auto* descriptor = parameters.GetDescriptor();
    const auto* reflection = parameters.GetReflection();
    for (const auto& rule : command.parameters) {
        const std::string qualified = feature.fullyQualified + "/Command/" + command.identifier +
                                      "/Parameter/" + rule.identifier;
        const auto* field = descriptor->FindFieldByName(rule.identifier);
        if (!field || !reflection->HasField(parameters, field)) {
            return validationError(qualified, "The parameter " + rule.identifier + " is missing.");
        }
        if (const auto problem = violation(rule, reflection->GetMessage(parameters, field))) {
            return validationError(qualified,
                                   "The parameter " + rule.identifier + " is " + *problem + ".");
        }
    }
    return std::nullopt;
}

std::string definedErrorIdentifier(const FeatureModel& feature, const std::string& error) {
    return feature.fullyQualified + "/DefinedExecutionError/" + error;
}

std::string outcomeKindName(Outcome::Kind kind) {
    using K = Outcome::Kind;
    static const std::map<K, std::string> names = {
        {K::Done, "Done"},
        {K::UnitNotActivated, "UnitNotActivated"},
        {K::UnitBusy, "UnitBusy"},
        {K::TargetOccupied, "TargetOccupied"},
        {K::SourceEmpty, "SourceEmpty"},
        {K::MotionFailed, "MotionFailed"},
        {K::UnknownUnit, "UnknownUnit"},
        {K::UnknownPartition, "UnknownPartition"},
        {K::ActivationFailed, "ActivationFailed"},
        {K::NoBarcode, "NoBarcode"},
        {K::ReaderFailed, "ReaderFailed"},
        {K::ClimateFailed, "ClimateFailed"},
        {K::GetFailed, "GetFailed"},
        {K::PutFailed, "PutFailed"},
        {K::TransferFailed, "TransferFailed"},
        {K::Failed, "Failed"},
    };
    return names.at(kind);
}

grpc::Status statusFor(const FeatureModel& feature, const CommandModel& command,
                       const Outcome& outcome) {
    if (outcome.ok()) return grpc::Status::OK;
    const std::string name = outcomeKindName(outcome.kind);
    const std::string message = outcome.message.empty() ? name : outcome.message;
    for (const auto& declared : command.definedErrors) {
        if (declared == name)
            return definedExecutionError(definedErrorIdentifier(feature, name), message);
    }
    return undefinedExecutionError(message);
}

}  // namespace krb::sila
