// Wraps glibc's allocator to count heap bytes in use and their peak.
#include "allocpeak.h"

#include <atomic>
#include <cerrno>
#include <malloc.h>

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
}

namespace {
std::atomic<size_t> inUse{0};
std::atomic<size_t> highest{0};

void *counted(void *p)
{
    if (p) {
        const size_t now = inUse += malloc_usable_size(p);
        size_t seen = highest.load();
        while (now > seen && !highest.compare_exchange_weak(seen, now)) {
        }
    }
    return p;
}

void uncount(void *p)
{
    if (p)
        inUse -= malloc_usable_size(p);
}
} // namespace

extern "C" {
void *malloc(size_t size)
{
    return counted(__libc_malloc(size));
}
void *calloc(size_t n, size_t size)
{
    return counted(__libc_calloc(n, size));
}
void *realloc(void *p, size_t size)
{
    uncount(p);
    void *moved = __libc_realloc(p, size);
    if (!moved && size != 0) {
        counted(p); // the old block stays
        return nullptr;
    }
    return counted(moved);
}
void free(void *p)
{
    uncount(p);
    __libc_free(p);
}
void *memalign(size_t alignment, size_t size)
{
    return counted(__libc_memalign(alignment, size));
}
void *aligned_alloc(size_t alignment, size_t size)
{
    return counted(__libc_memalign(alignment, size));
}
int posix_memalign(void **out, size_t alignment, size_t size)
{
    void *p = counted(__libc_memalign(alignment, size));
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}
}

namespace AllocPeak {
size_t current()
{
    return inUse.load();
}
void reset()
{
    highest = inUse.load();
}
size_t peak()
{
    return highest.load();
}
} // namespace AllocPeak
