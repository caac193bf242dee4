// Tube move files: the whole list or nothing.
#include "TubeMoveList.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = krb::fuzz::textOf(data, size);
    if (auto list = krb::ParseMoveList(text)) {
        for (const auto& command : *list) {
            for (const auto* rack : {&command.Source, &command.Target}) {
                for (const auto& tube : rack->Tubes) {
                    krb::fuzz::require(tube.Text.size() <= text.size());
                }
            }
        }
    }
    for (auto line : krb::fuzz::linesOf(text)) {
        if (line.size() > 6) continue;
        krb::HexDigitsWord(line);
    }
    return 0;
}
