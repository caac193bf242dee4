// krb-chaos [--cassette-scans] [--steps] SECONDS [SEED]: a chaos run on the demo lab for that
// long, then its counts. --cassette-scans makes every scan cover one cassette (the suite's
// short run does that); --steps prints a line per step. Exit status 0 when no invariant was
// violated, 1 when one was, 2 for a wrong command line.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "chaos_run.h"
#include "platform/clock.h"

namespace {

constexpr double kDefaultTimeScale = 0.05;

bool parse(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0' && value > 0;
}

}  // namespace

int main(int argc, char** argv) {
    krb::chaos::ChaosOptions options;
    std::vector<std::string> numbers;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--cassette-scans")
            options.cassetteScans = true;
        else if (argument == "--steps")
            options.progress = &std::cout;
        else
            numbers.push_back(argument);
    }
    double seconds = 0;
    double seed = 1;
    if (numbers.empty() || numbers.size() > 2 || !parse(numbers[0], seconds) ||
        (numbers.size() == 2 && !parse(numbers[1], seed))) {
        std::cerr << "usage: krb-chaos [--cassette-scans] [--steps] SECONDS [SEED]\n";
        return 2;
    }
    if (std::getenv("KRB_TIME_SCALE") == nullptr) krb::platform::setTimeScale(kDefaultTimeScale);
    options.seconds = seconds;
    options.seed = static_cast<std::uint64_t>(seed);
    const auto report = krb::chaos::runChaos(options);
    report.print(std::cout);
    return report.violations() == 0 ? 0 : 1;
}
