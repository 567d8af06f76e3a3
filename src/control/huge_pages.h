// Transparent huge pages for the large arrays of a run.
#pragma once

#include <cstddef>

// Asks the kernel to back the whole 2 MiB pages inside [p, p + bytes) with huge pages
// (madvise MADV_HUGEPAGE), so that first touching them costs one fault per 2 MiB rather than one
// per 4 KiB. Blocks under 4 MiB are left alone. Returns nothing: where the kernel gives no huge
// pages on request (or refuses), the memory stays as it is and only the speed differs.
void advise_huge_pages(void* p, std::size_t bytes);

// Makes the heap hold at least bytes free at its top, advised as advise_huge_pages does, so that
// memory a library takes from it piece by piece (the miniSEED reader's growing blocks) gets huge
// pages too. Does nothing where large blocks do not come from the heap's top (the program's main
// keeps them there). Returns nothing, as advise_huge_pages.
void reserve_heap(std::size_t bytes);
