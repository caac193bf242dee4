// Command framing and argument splitting: how a client's text is routed, its unit ID, the
// row it matches and the fields that row reads; update commands' arguments.
#include "fuzz_input.h"
#include "lab/UnitDirectory.h"
#include "protocol/ServerCore.h"
#include "protocol/UnitCommandThread.h"
#include "text/CommandSyntax.h"
#include "updates/PlateUpdate.h"

using namespace krb::server;

namespace {

void readEveryField(const TUnitCommandRow& row, std::string_view command) {
    try {
        TCommandFields fields(command, row.Shape);
        for (std::size_t i = 0; i < row.Shape.size(); ++i) {
            if (row.Shape[i] == FieldKind::Integer) fields.Integer(i);
            if (row.Shape[i] == FieldKind::Text) fields.Text(i);
            if (row.Shape[i] == FieldKind::Flag) fields.Flag(i);
        }
    } catch (const TCommandArgumentError&) {
        // the command's "E3": a refusal, not a finding
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = krb::fuzz::textOf(data, size);
    SelectDispatchTarget(text);
    const std::string unitId = UnitIdOfCommand(text);
    krb::fuzz::require(unitId.size() <= text.size());
    const std::string_view list = ArgumentList(text);
    krb::fuzz::require(SplitFields(list, 12).size() <= list.size() + 12);
    krb::fuzz::require(list.size() <= text.size());
    if (const TUnitCommandRow* row = FindUnitCommandRow(text)) readEveryField(*row, text);
    if (auto update = SplitUpdateArguments(text)) {
        krb::fuzz::require(update->Value.size() <= text.size());
    }
    return 0;
}
