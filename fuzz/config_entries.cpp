// Cassette and partition entries of a unit file, one per line.
#include "fuzz_input.h"
#include "lab/ConfigurationLoader.h"

using namespace krb::server;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (auto line : krb::fuzz::linesOf(krb::fuzz::textOf(data, size))) {
        if (auto cassette = ParseCassetteEntry(line)) {
            krb::fuzz::require(cassette->Numbers.size() <= 100000);
        }
        PartitionEntry partition = ParsePartitionEntry(line);
        krb::fuzz::require(partition.Ranges.size() + partition.BadTokens.size() <= line.size());
    }
    return 0;
}
