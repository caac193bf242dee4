#include "sila/FeatureDefinitions.h"

#include <cstring>
#include <filesystem>

#include "platform/profile_file.h"

namespace krb::sila {
namespace {

std::string attributeOf(const std::string& xml, const std::string& name) {
    const std::string key = " " + name + "=\"";
    const auto begin = xml.find(key);
    if (begin == std::string::npos) return {};
    const auto valueBegin = begin + key.size();
    return xml.substr(valueBegin, xml.find('"', valueBegin) - valueBegin);
}

}  // namespace

std::string fullyQualifiedIdentifier(const FeatureText& feature) {
    const std::string xml = feature.definition;
    const std::string version = attributeOf(xml, "FeatureVersion");
    return attributeOf(xml, "Originator") + "/" + attributeOf(xml, "Category") + "/" +
           feature.identifier + "/v" + version.substr(0, version.find('.'));
}

const FeatureText* findFeature(const std::string& identifier) {
    for (const auto& feature : embeddedFeatureTexts()) {
        if (identifier == feature.identifier) return &feature;
    }
    return nullptr;
}

bool writeFeatureDefinitions(const std::string& dir, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    for (const auto& feature : embeddedFeatureTexts()) {
        const auto path = (std::filesystem::path(dir) / feature.identifier).string() + ".sila.xml";
        if (!platform::replaceFileAtomically(path, feature.definition)) {
            error = "cannot write " + path;
            return false;
        }
    }
    return true;
}

}  // namespace krb::sila
