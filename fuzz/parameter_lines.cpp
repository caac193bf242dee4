// Parameter files: every line becomes a controller command or is left out.
#include "fuzz_input.h"
#include "lab/ConfigurationLoader.h"

using namespace krb::server;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (auto line : krb::fuzz::linesOf(krb::fuzz::textOf(data, size))) {
        if (auto command = ParseParameterLine(line)) {
            // One command per line: a line break would put a second command on the wire.
            krb::fuzz::require(command->Command.find_first_of("\r\n") == std::string::npos);
        }
    }
    return 0;
}
