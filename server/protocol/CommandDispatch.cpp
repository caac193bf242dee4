// Routing of one received text by its first characters, and the handlers that answer on the
// event loop.
#include <array>

#include "platform/clock.h"
#include "protocol/CommandHistory.h"
#include "protocol/ServerCore.h"
#include "text/CommandSyntax.h"

namespace krb::server {
namespace {

struct DispatchRow {
    std::string_view Prefix;
    TDispatchTarget Target;
};

constexpr std::array<DispatchRow, 6> kDispatchTable{{
    {"GET", TDispatchTarget::GetRequest},
    {"KRB2", TDispatchTarget::UnitCommand},
    {"PlateExp", TDispatchTarget::PlateExp},
    {"UpdatePlate", TDispatchTarget::UpdatePlate},
    {"KRBService", TDispatchTarget::ServiceRegistration},
    {"UpdateSlot", TDispatchTarget::UpdateSlot},
}};

template <class Form>
struct FormRow {
    std::string_view Name;
    Form Value;
};

// After the name form, which is tested on its own.
constexpr std::array<FormRow<TPlateUpdate>, 5> kPlateForms{{
    {"UpdatePlatePP", TPlateUpdate::PP},
    {"UpdatePlateBCR", TPlateUpdate::BCR},
    {"UpdatePlateCheckDate", TPlateUpdate::CheckDate},
    {"UpdatePlateLoadDate", TPlateUpdate::LoadDate},
    {"UpdatePlateUnloadDate", TPlateUpdate::UnloadDate},
}};

constexpr std::array<FormRow<TSlotUpdate>, 2> kSlotForms{{
    {"UpdateSlotZPitch", TSlotUpdate::ZPitch},
    {"UpdateSlotLevels", TSlotUpdate::Levels},
}};

// An update form recognised while no updater is installed: nothing was changed.
constexpr int kUpdateNotApplied = -1;

// An update form the server recognised is recorded with its result, whatever it was.
template <class Apply>
int RecordedUpdate(const ClientLink& link, std::string_view form, const std::string& text,
                   Apply apply) {
    history::CommandScope scope(
        TextCommandOrigin(&link, std::string(form), UnitIdOfCommand(text), text));
    const int result = apply();
    scope.SetReply(std::to_string(result));
    return result;
}

constexpr std::int64_t kViewClosePauseMs = 100;
// Wall-clock time: the log is read by people, whatever the time scale.
constexpr auto kRefusalSummaryPeriod = std::chrono::seconds(1);

}  // namespace

TDispatchTarget SelectDispatchTarget(std::string_view text) {
    for (const auto& row : kDispatchTable) {
        if (text.starts_with(row.Prefix)) return row.Target;
    }
    return TDispatchTarget::None;
}

std::optional<std::string> ViewRequestOf(std::string_view text) {
    constexpr std::size_t kPathStart = 5;  // after "GET /"
    if (text.size() <= kPathStart) return std::nullopt;
    std::string_view path = text.substr(kPathStart);
    const auto blank = path.find(' ');
    if (blank == std::string_view::npos) return std::nullopt;
    path = path.substr(0, blank);
    const auto slash = path.find('/');
    if (slash == std::string_view::npos || path.substr(0, slash) != "PlateExp") return std::nullopt;
    return std::string(path.substr(slash + 1));
}

void ServerCore::DispatchCommand(const std::shared_ptr<ClientLink>& connection,
                                 const std::string& text) {
    switch (SelectDispatchTarget(text)) {
        case TDispatchTarget::GetRequest:
            HandleGetRequest(connection, text);
            break;
        case TDispatchTarget::UnitCommand:
            RouteUnitCommand(connection, text);
            break;
        case TDispatchTarget::PlateExp:
            SendView(connection, text);
            break;
        case TDispatchTarget::UpdatePlate:
            HandleUpdatePlate(connection, text);
            break;
        case TDispatchTarget::ServiceRegistration:
            RegisterServiceSocket(connection, text);
            break;
        case TDispatchTarget::UpdateSlot:
            HandleUpdateSlot(connection, text);
            break;
        case TDispatchTarget::None:
            break;
    }
}

void ServerCore::RouteUnitCommand(const std::shared_ptr<ClientLink>& connection,
                                  const std::string& text) {
    std::string unitId;
    const TCommandStart start = browser_.RouteCommand(connection, text, &unitId);
    if (start != TCommandStart::Started && refusals_.Count(unitId, start)) {
        ScheduleRefusalSummary();
    }
}

// Refused commands are logged together once the period that began with the first has passed.
void ServerCore::ScheduleRefusalSummary() {
    refusalSummary_.expires_after(kRefusalSummaryPeriod);
    refusalSummary_.async_wait([this](const asio::error_code& error) {
        if (error) return;
        if (auto summary = refusals_.TakeSummary()) WriteLog("Commands refused", *summary);
    });
}

void ServerCore::HandleGetRequest(const std::shared_ptr<ClientLink>& connection,
                                  const std::string& text) {
    if (auto view = ViewRequestOf(text)) SendView(connection, *view);
}

void ServerCore::AddView(std::string name, TViewBuilder builder) {
    views_.push_back({std::move(name), std::move(builder)});
}

void ServerCore::SendView(const std::shared_ptr<ClientLink>& connection, const std::string& text) {
    for (const auto& view : views_) {
        if (!text.starts_with(view.Name)) continue;
        TViewReply reply = view.Builder(text);  // built whole before anything is sent
        connection->Send(std::move(reply.Header));
        if (reply.DocumentPieces.empty()) {
            connection->Send(std::move(reply.Document));
        } else {
            connection->SendPieces(std::move(reply.DocumentPieces));
        }
        break;
    }
    // The pause starts once the whole document is out, so a large view is never cut short.
    connection->WhenSent([this, connection] {
        auto pause =
            std::make_shared<asio::steady_timer>(loop_, platform::scaled(kViewClosePauseMs));
        pause->async_wait(
            [connection, pause](const asio::error_code&) { connection->Close(false); });
    });
}

void ServerCore::SendAndClose(const std::shared_ptr<ClientLink>& connection,
                              const std::string& text) {
    connection->Send(text);
    connection->Close(false);
}

void ServerCore::HandleUpdatePlate(const std::shared_ptr<ClientLink>& connection,
                                   const std::string& text) {
    auto apply = [&](std::string_view name, TPlateUpdate form) {
        return RecordedUpdate(*connection, name, text, [&] {
            return plateUpdater_ ? plateUpdater_(form, text) : kUpdateNotApplied;
        });
    };
    constexpr std::string_view kNameForm = "UpdatePlateName";
    int result = 0;
    if (text.starts_with(kNameForm)) result = apply(kNameForm, TPlateUpdate::Name);
    for (const auto& form : kPlateForms) {
        if (text.starts_with(form.Name)) {
            result = apply(form.Name, form.Value);
            break;
        }
    }
    SendAndClose(connection, std::to_string(result) + "\r\n");
}

void ServerCore::HandleUpdateSlot(const std::shared_ptr<ClientLink>& connection,
                                  const std::string& text) {
    int result = 0;
    for (const auto& form : kSlotForms) {
        if (text.starts_with(form.Name)) {
            result = RecordedUpdate(*connection, form.Name, text, [&] {
                return slotUpdater_ ? slotUpdater_(form.Value, text) : kUpdateNotApplied;
            });
            break;
        }
    }
    SendAndClose(connection, std::to_string(result) + "\r\n");
}

// The registration itself (snapshot and notifications) is installed by the service notifier;
// until then a registration is ignored and the connection stays open.
void ServerCore::RegisterServiceSocket(const std::shared_ptr<ClientLink>& connection,
                                       const std::string& text) {
    if (serviceRegistration_) serviceRegistration_(connection, text);
}

}  // namespace krb::server
