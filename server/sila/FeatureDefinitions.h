#pragma once
// The FDLs this server implements, embedded at build time.
#include <string>
#include <vector>

namespace krb::sila {

struct FeatureText {
    const char* identifier;  // e.g. "UnitStatusProvider"
    const char* definition;  // the FDL, XML
};

const std::vector<FeatureText>& embeddedFeatureTexts();

// "org.krb/storage/UnitStatusProvider/v1", from the FDL's own attributes.
std::string fullyQualifiedIdentifier(const FeatureText& feature);
const FeatureText* findFeature(const std::string& identifier);

// Writes every FDL to `dir` as <Identifier>.sila.xml; false with `error` set on failure.
bool writeFeatureDefinitions(const std::string& dir, std::string& error);

}  // namespace krb::sila
