#pragma once
// KRBServer --check: the lab loaded as a start loads it, without opening a serial port,
// listening or writing a file; every problem of the configuration as one line.
#include <ostream>
#include <string>
#include <vector>

#include "lab/ConfigurationLoader.h"

namespace krb::server {

struct ConfigurationCheck {
    std::vector<std::string> Problems;  // "file: [Section] key: what is wrong"
    std::vector<std::string> Warnings;  // what loads but the operator should know of
    int Systems = 0;
    int Units = 0;
};

ConfigurationCheck CheckConfiguration(const std::string& driverConfigPath);

// The problem lines, the warnings ("warning: " and the line) and a summary line; returns the
// exit status (0: no problem; warnings alone do not fail).
int ReportConfigurationCheck(const ConfigurationCheck& check, const std::string& driverConfigPath,
                             std::ostream& out);

// The line that stands for a lab of no unit at all, which is not worth serving.
std::string NoUnitLoaded(const std::string& driverConfigPath);

int UnitCount(const TKRBLab& lab);

}  // namespace krb::server
