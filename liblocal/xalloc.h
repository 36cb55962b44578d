// Allocation that never returns NULL: when memory runs out the process prints why on
// standard error and aborts. Everything is released with free.
#pragma once

#include <liblocal/localapi.h>

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Zero-filled. A count or size of 0 still gives a distinct allocation; a product that
// overflows size_t counts as running out of memory.
LOCAL_API void *xcalloc(size_t count, size_t size);
LOCAL_API void *xmalloc(size_t size);
LOCAL_API void *xrealloc(void *block, size_t size);

// A copy of the text; NULL gives a new empty text.
LOCAL_API char *xstrdup(const char *text);

// What the functions above do when memory runs out: print why (without allocating) and
// abort. For code that allocates by other means (a C++ std::bad_alloc, for instance);
// bytes may be 0 when the amount is not known.
VO_NORETURN LOCAL_API void vo_out_of_memory(size_t bytes);

#ifdef __cplusplus
}
#endif
