// Counts the heap allocations of a benchmark program, and the bytes live on the heap with
// their peak: malloc, calloc, realloc, the aligned allocations, free and operator new are
// replaced, so include this header in exactly one source file of the program. The
// sanitizers' own allocators do not allow the replacement: build without TV_SANITIZE.
#pragma once

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

namespace tvbench {
inline std::atomic<long long> allocations{0};
// Usable sizes of the blocks allocated and not yet freed, and the most there were since
// the last ResetPeak.
inline std::atomic<long long> liveBytes{0};
inline std::atomic<long long> peakBytes{0};

inline void ResetPeak() { peakBytes.store(liveBytes.load()); }

inline void *Counted(void *block)
{
    if (block == nullptr)
        return nullptr;
    const long long now = liveBytes.fetch_add((long long)malloc_usable_size(block)) +
                          (long long)malloc_usable_size(block);
    long long peak = peakBytes.load(std::memory_order_relaxed);
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now))
        ;
    return block;
}

inline void Uncounted(void *block)
{
    if (block != nullptr)
        liveBytes.fetch_sub((long long)malloc_usable_size(block));
}
} // namespace tvbench

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void *__libc_memalign(size_t, size_t);
extern "C" void __libc_free(void *);

extern "C" void *malloc(size_t size)
{
    tvbench::allocations.fetch_add(1, std::memory_order_relaxed);
    return tvbench::Counted(__libc_malloc(size));
}

extern "C" void *calloc(size_t count, size_t size)
{
    tvbench::allocations.fetch_add(1, std::memory_order_relaxed);
    return tvbench::Counted(__libc_calloc(count, size));
}

extern "C" void *realloc(void *block, size_t size)
{
    tvbench::allocations.fetch_add(1, std::memory_order_relaxed);
    // The old size goes first: realloc may free the block.
    const long long before = block != nullptr ? (long long)malloc_usable_size(block) : 0;
    void *moved = __libc_realloc(block, size);
    // A failed realloc keeps the block, except for size 0, where it is freed.
    if (moved != nullptr || size == 0)
        tvbench::liveBytes.fetch_sub(before);
    return tvbench::Counted(moved);
}

extern "C" void *memalign(size_t alignment, size_t size)
{
    tvbench::allocations.fetch_add(1, std::memory_order_relaxed);
    return tvbench::Counted(__libc_memalign(alignment, size));
}

extern "C" void *aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

extern "C" int posix_memalign(void **block, size_t alignment, size_t size)
{
    *block = memalign(alignment, size);
    return *block != nullptr || size == 0 ? 0 : ENOMEM;
}

extern "C" void free(void *block)
{
    tvbench::Uncounted(block);
    __libc_free(block);
}

void *operator new(size_t size)
{
    if (void *block = malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

void *operator new[](size_t size) { return operator new(size); }
// The blocks come from malloc above, so free is their match.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void *block) noexcept { free(block); }
void operator delete[](void *block) noexcept { free(block); }
void operator delete(void *block, size_t) noexcept { free(block); }
void operator delete[](void *block, size_t) noexcept { free(block); }
#pragma GCC diagnostic pop
