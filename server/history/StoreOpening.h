#pragma once
// The store the settings name: a SQLite file or a PostgreSQL database.
#include <memory>

#include "history/HistorySettings.h"
#include "history/HistoryStore.h"

namespace krb::server::history {

// Throw StoreError with a one-line reason.
std::unique_ptr<HistoryStore> OpenWritingStore(const HistorySettings& settings,
                                               WriterIdentity writer);
std::unique_ptr<HistoryStore> OpenReadingStore(const HistorySettings& settings);

}  // namespace krb::server::history
