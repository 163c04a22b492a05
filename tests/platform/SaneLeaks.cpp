// Under the sanitizers: allocations that belong to SANE, not to the scanner port. The dll backend keeps memory for
// every device it opened and the test backend's per-page reader thread keeps its transfer buffer; both are reported
// once sane_exit has unloaded the backend, so their frames show as an unknown module started by a thread (the
// scanner port starts no thread of its own). Full stacks are needed to see the SANE frames.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libsane.so\nleak:start_thread\n";
}
