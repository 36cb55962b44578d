// Counts heap allocations for a benchmark program: malloc, calloc, realloc and operator new
// are replaced by versions that count and then call the C library's own. Include it in
// exactly one source file of a program, and read allocations before and after the work.
// The sanitizers' allocators do not allow the replacement: build without TV_SANITIZE.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long long> allocations{0};
} // namespace

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);

extern "C" void *malloc(size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

extern "C" void *calloc(size_t count, size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

extern "C" void *realloc(void *block, size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
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
