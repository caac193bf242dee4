#pragma once
// The platform's API is exported from its shared library; everything else stays inside, so
// the library, the server and the simulator of one process share one platform state.
#define KRB_PLATFORM_API __attribute__((visibility("default")))
