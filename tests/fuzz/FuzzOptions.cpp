// Sanitizer settings every fuzzer starts with.

// A smaller quarantine for freed memory: the decoder frees large buffers for
// every input, and handing them back to the system dominated the run time.
// An allocation beyond 2 GiB fails as it does in the decoder process, whose
// address space is limited to that.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=16:thread_local_quarantine_size_kb=64:allocator_release_to_os_interval_ms=-1"
           ":allocator_may_return_null=1:max_allocation_size_mb=2048";
}

extern "C" const char *__ubsan_default_options()
{
    return "print_stacktrace=1";
}
