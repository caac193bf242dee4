// Barcode texts relayed by the controller: the code between the markers, after the "OK".
#include "BarcodeText.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(krb::fuzz::textOf(data, size));
    const std::string relayed = krb::barcode::withoutAcknowledgement(text);
    const std::string code = krb::barcode::codeBetweenMarkers(relayed);
    krb::fuzz::require(code.size() <= relayed.size());
    // A code never carries a marker of its own.
    krb::fuzz::require(code.find(krb::barcode::kEndOfText) == std::string::npos);
    if (!krb::barcode::hasMarker(relayed)) krb::fuzz::require(code.empty());
    return 0;
}
