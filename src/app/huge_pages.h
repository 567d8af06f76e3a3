// Huge pages for the day-length arrays.
#pragma once

// A run allocates and touches hundreds of megabytes of day-length arrays, and on virtual
// machines each first touch of a 4 KiB page is expensive. Where the kernel gives transparent huge
// pages on request (its usual "madvise" mode), the C library asks for them when its tunable
// glibc.malloc.hugetlb is 1, but it reads that only at start-up. So, unless GLIBC_TUNABLES already
// names that tunable, this sets it and starts the program again with the same arguments. Call it
// first thing in main, before any output. Returns only when the program was not started again
// (the tunable was set already, or the new start failed: the run then goes on without).
void restart_with_huge_pages(char** argv);
