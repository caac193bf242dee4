// The HTTP request line of a view and the queries of the eight views.
#include "fuzz_input.h"
#include "protocol/ServerCore.h"
#include "views/LabViews.h"

using namespace krb::server;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = krb::fuzz::textOf(data, size);
    SelectDispatchTarget(text);
    const auto request = ViewRequestOf(text);
    const std::string_view query = request ? std::string_view(*request) : text;
    krb::fuzz::require(QueryId(query).size() <= query.size());
    const TUnitQuery unitQuery = QueryUnitAndId(query);
    krb::fuzz::require(unitQuery.UnitId.size() + unitQuery.Id.size() <= query.size());
    return 0;
}
