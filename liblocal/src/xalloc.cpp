// Allocation that never returns NULL.
#include <liblocal/xalloc.h>

#include "internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void vo_out_of_memory(size_t bytes)
{
    // No allocation on this path: the message is fixed and printed directly.
    if (bytes != 0)
        std::fprintf(stderr, "liblocal: out of memory (allocating %llu bytes), aborting\n",
                     static_cast<unsigned long long>(bytes));
    else
        std::fputs("liblocal: out of memory, aborting\n", stderr);
    std::fflush(stderr);
    std::abort();
}

namespace vo {

char *MallocCopy(const std::string &text)
{
    char *copy = static_cast<char *>(xmalloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

} // namespace vo

void *xcalloc(size_t count, size_t size)
{
    if (count == 0 || size == 0)
        count = size = 1;
    if (count > SIZE_MAX / size)
        vo_out_of_memory(SIZE_MAX);
    void *block = std::calloc(count, size);
    if (block == nullptr)
        vo_out_of_memory(count * size);
    return block;
}

void *xmalloc(size_t size)
{
    void *block = std::malloc(size ? size : 1);
    if (block == nullptr)
        vo_out_of_memory(size);
    return block;
}

void *xrealloc(void *block, size_t size)
{
    void *moved = std::realloc(block, size ? size : 1);
    if (moved == nullptr)
        vo_out_of_memory(size);
    return moved;
}

char *xstrdup(const char *text)
{
    const char *source = text ? text : "";
    const size_t bytes = std::strlen(source) + 1;
    char *copy = static_cast<char *>(xmalloc(bytes));
    std::memcpy(copy, source, bytes);
    return copy;
}
