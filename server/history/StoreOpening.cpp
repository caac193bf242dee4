#include "history/StoreOpening.h"

#include "history/PostgresStore.h"
#include "history/SqliteStore.h"

namespace krb::server::history {

std::unique_ptr<HistoryStore> OpenWritingStore(const HistorySettings& settings,
                                               WriterIdentity writer) {
    if (settings.IsPostgres()) {
        return std::make_unique<PostgresStore>(settings.Database, std::move(writer));
    }
    return std::make_unique<SqliteStore>(settings.Database, std::move(writer));
}

std::unique_ptr<HistoryStore> OpenReadingStore(const HistorySettings& settings) {
    if (settings.IsPostgres()) return std::make_unique<PostgresStore>(settings.Database);
    return std::make_unique<SqliteStore>(settings.Database);
}

}  // namespace krb::server::history
