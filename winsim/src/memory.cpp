// kernel32 LocalAlloc/LocalFree and ole32 CoTaskMemAlloc/CoTaskMemFree. Local blocks are
// tracked so that freeing a block twice, or a pointer that never came from LocalAlloc,
// fails as Windows documents instead of corrupting the heap; tests can see leaks.
#include "internal.h"

#include <objbase.h>

#include <cstdlib>
#include <mutex>
#include <unordered_set>

namespace winsim {

namespace {

struct LocalHeap {
    std::mutex lock;
    std::unordered_set<void *> live;
};

LocalHeap &TheLocalHeap()
{
    static LocalHeap *heap = new LocalHeap;
    return *heap;
}

const UINT kKnownLocalFlags = LMEM_MOVEABLE | LMEM_NOCOMPACT | LMEM_NODISCARD | LMEM_ZEROINIT |
                              LMEM_MODIFY | LMEM_DISCARDABLE;

} // namespace

size_t LiveLocalAllocations()
{
    LocalHeap &heap = TheLocalHeap();
    std::lock_guard<std::mutex> guard(heap.lock);
    return heap.live.size();
}

} // namespace winsim

using namespace winsim;

EXTERN_C HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
    if ((uFlags & ~kKnownLocalFlags) != 0)
        return Fail(ERROR_INVALID_PARAMETER, HLOCAL(NULL));
    if ((uFlags & LMEM_MOVEABLE) != 0) {
        // A moveable block is a handle to be locked with LocalLock; nothing here needs one.
        LogNotImplemented("LocalAlloc", "LMEM_MOVEABLE");
        return Fail(ERROR_CALL_NOT_IMPLEMENTED, HLOCAL(NULL));
    }
    void *block = (uFlags & LMEM_ZEROINIT) ? calloc(1, uBytes ? uBytes : 1) : malloc(uBytes ? uBytes : 1);
    if (block == NULL)
        return Fail(ERROR_NOT_ENOUGH_MEMORY, HLOCAL(NULL));
    LocalHeap &heap = TheLocalHeap();
    std::lock_guard<std::mutex> guard(heap.lock);
    heap.live.insert(block);
    return block;
}

EXTERN_C HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    if (hMem == NULL)
        return NULL;
    LocalHeap &heap = TheLocalHeap();
    {
        std::lock_guard<std::mutex> guard(heap.lock);
        if (heap.live.erase(hMem) == 0)
            return Fail(ERROR_INVALID_HANDLE, hMem);
    }
    free(hMem);
    return NULL;
}

EXTERN_C LPVOID CoTaskMemAlloc(SIZE_T cb)
{
    HRESULT faultHr;
    if (winsim::FaultFor("CoTaskMemAlloc", faultHr))
        return NULL;
    // A zero-byte request still gets a distinct, valid pointer.
    return malloc(cb ? cb : 1);
}

EXTERN_C LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb)
{
    if (cb == 0 && pv != NULL) {
        free(pv);
        return NULL;
    }
    return realloc(pv, cb ? cb : 1);
}

EXTERN_C void CoTaskMemFree(LPVOID pv) { free(pv); }
