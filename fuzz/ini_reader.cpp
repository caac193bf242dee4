// The INI reader and writer: the bytes are a configuration file; every section named in it is
// read whole and a key of it is looked up, then one value is written and read back.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fuzz_input.h"
#include "platform/profile_file.h"

namespace {

const std::string& scratchFile() {
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("krb-fuzz-ini-" + std::to_string(::getpid()) + ".lni"))
                                        .string();
    return path;
}

std::vector<std::string> sectionNames(std::string_view text) {
    std::vector<std::string> names;
    for (auto line : krb::fuzz::linesOf(text)) {
        auto open = line.find('[');
        auto close = line.find(']');
        if (open != std::string_view::npos && close != std::string_view::npos && open < close)
            names.emplace_back(line.substr(open + 1, close - open - 1));
        if (names.size() == 8) break;
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = krb::fuzz::textOf(data, size);
    {
        std::ofstream out(scratchFile(), std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    krb::platform::ProfileFile file(scratchFile());
    for (const auto& name : sectionNames(text)) {
        auto entries = file.readSection(name);
        if (!entries.empty()) {
            const std::string& first = entries.front();
            file.findString(name, first.substr(0, first.find('=')));
        }
        file.sectionExists(name);
    }
    if (file.writeString("Fuzz", "Key", "Value")) {
        krb::fuzz::require(file.readString("Fuzz", "Key") == "Value");
    }
    file.eraseSection("Fuzz");
    return 0;
}
