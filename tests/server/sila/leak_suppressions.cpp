// LeakSanitizer: c-ares, gRPC's DNS resolver (Debian, uninstrumented), keeps a few bytes of
// its resolver state for the life of the process; nothing else is suppressed.
extern "C" const char* __lsan_default_suppressions() { return "leak:libcares.so\n"; }
