// Allocation settings.
#include "platform/memory_bounds.h"

#include <cstdlib>  // defines __GLIBC__ when the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace dittix::platform {

void keepLargeBlocksMapped() {
#if defined(__GLIBC__)
    // By default glibc raises this threshold after the first large block is freed. Every
    // recomposed tone bank then lands in the heap, whose holes are never returned: the resident
    // memory grew by about 1 MB per recomposition at 20 CPM. Fresh mappings cost page faults
    // instead (a composition at 20 CPM takes about 4 ms rather than 0.6 ms).
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

}  // namespace dittix::platform
