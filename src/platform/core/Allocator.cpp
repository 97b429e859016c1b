#include "platform/core/Allocator.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace lumra {

void keepLargeBuffersOutOfHeaps()
{
#ifdef __GLIBC__
    // Setting the bound at all keeps the library from raising it.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
#endif
}

void releaseFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace lumra
