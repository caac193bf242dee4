#include "history/HistoryCommand.h"

#include <cctype>
#include <optional>
#include <ostream>

#include "history/HistoryQuery.h"
#include "history/HistorySettings.h"
#include "history/StoreOpening.h"

namespace krb::server::history {
namespace {

constexpr int kUsageStatus = 2;
constexpr const char* kFilterOptions[] = {"plate", "unit", "client", "since", "until", "limit"};

std::string PercentEncoded(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '_' || c == '.' || c == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 15];
        }
    }
    return encoded;
}

bool IsFilterOption(const std::string& name) {
    for (const char* option : kFilterOptions) {
        if (name == option) return true;
    }
    return false;
}

struct CommandLine {
    std::string ConfigPath;
    std::string Query;  // the filter as GET /history takes it
    bool Json = false;
};

// nullopt with `problem` set for a wrong command line.
std::optional<CommandLine> Parse(const std::vector<std::string>& arguments, std::string& problem) {
    if (arguments.size() < 2 || arguments[1].rfind("--", 0) == 0) {
        problem = "usage: " + std::string(kHistoryUsage);
        return std::nullopt;
    }
    CommandLine line{arguments[1], "", false};
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--json") {
            line.Json = true;
            continue;
        }
        const std::string name = argument.rfind("--", 0) == 0 ? argument.substr(2) : "";
        if (!IsFilterOption(name) || i + 1 >= arguments.size()) {
            problem = "\"" + argument + "\": usage: " + kHistoryUsage;
            return std::nullopt;
        }
        if (!line.Query.empty()) line.Query += '&';
        line.Query += name + '=' + PercentEncoded(arguments[++i]);
    }
    return line;
}

}  // namespace

int RunHistoryCommand(const std::vector<std::string>& arguments, std::ostream& out,
                      std::ostream& err) {
    std::string problem;
    const auto line = Parse(arguments, problem);
    if (!line) {
        err << "KRBServer: " << problem << std::endl;
        return kUsageStatus;
    }
    const auto filter = FilterFromQueryString(line->Query, &problem);
    if (!filter) {
        err << "KRBServer: --" << problem << std::endl;
        return kUsageStatus;
    }
    const HistorySettings settings = ReadHistorySettings(line->ConfigPath);
    try {
        const auto entries = OpenReadingStore(settings)->Entries(*filter);
        out << (line->Json ? EntriesJson(entries) + "\n" : EntriesTable(entries));
        return 0;
    } catch (const StoreError& error) {
        err << "KRBServer: history: " << error.what() << std::endl;
        return 1;
    }
}

}  // namespace krb::server::history
