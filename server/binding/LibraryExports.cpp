// The entry points of the linked KRB_lib. Kept in a file of its own so that programs that
// bind other entry points (the tests) do not need every export at link time.
#include "binding/LibraryBinding.h"

namespace krb::server {

const KRBExports& LibraryExports() {
    static const KRBExports exports = [] {
        KRBExports table;
#define KRB_EXPORT_ENTRY(name) table.name = &::name;
        KRB_BOUND_EXPORTS(KRB_EXPORT_ENTRY)
#undef KRB_EXPORT_ENTRY
        return table;
    }();
    return exports;
}

}  // namespace krb::server
