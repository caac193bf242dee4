// Contents file lines: split into ten fields, read as a location, joined again.
#include "fuzz_input.h"
#include "lab/ContentsFile.h"
#include "text/DateTimeText.h"

using namespace krb::server;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (auto line : krb::fuzz::linesOf(krb::fuzz::textOf(data, size))) {
        const ContentsFields fields = SplitContentsLine(line);
        PlateFromContentsLine(fields);
        // Splitting a joined line gives the same fields back: rewrites never shift a field.
        krb::fuzz::require(SplitContentsLine(JoinContentsLine(fields)) == fields);
        TryParseDateTime(line);
    }
    return 0;
}
