// Transparent huge pages for the large arrays of a run.
#pragma once

#include <cstddef>

// Asks the kernel to back the whole 2 MiB pages inside [p, p + bytes) with huge pages
// (madvise MADV_HUGEPAGE), so that first touching them costs one fault per 2 MiB rather than one
// per 4 KiB. Blocks under 4 MiB are left alone. Returns nothing: where the kernel gives no huge
// pages on request (or refuses), the memory stays as it is and only the speed differs.
void advise_huge_pages(void* p, std::size_t bytes);
