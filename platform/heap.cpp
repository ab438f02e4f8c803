#include "platform/heap.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

void ShareHeapArenas() {
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 2);
#endif
}

}  // namespace platform
