// kernel32 LocalAlloc/LocalFree and ole32 CoTaskMemAlloc/CoTaskMemFree; kernel32's
// VirtualAlloc, VirtualProtect and VirtualFree at the end. Local blocks are tracked so that
// freeing a block twice, or a pointer that never came from LocalAlloc, fails as Windows
// documents instead of corrupting the heap; tests can see leaks.
#include "internal.h"

#include <objbase.h>

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <map>
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

// kernel32 VirtualAlloc, VirtualProtect and VirtualFree, over the host's pages: whole
// regions reserved and committed at once (what the callers here need), their pages made
// read-write, read-only or inaccessible, and released whole.
namespace winsim {

namespace {

const SIZE_T kPageBytes = 4096;

struct VirtualRegions {
    std::mutex lock;
    std::map<uintptr_t, SIZE_T> sizes;         // base -> bytes, page-rounded
    std::map<uintptr_t, DWORD> pageProtection; // page -> PAGE_*
};

VirtualRegions &TheVirtualRegions()
{
    static VirtualRegions *regions = new VirtualRegions;
    return *regions;
}

int HostProtection(DWORD protect)
{
    switch (protect) {
    case PAGE_NOACCESS: return PROT_NONE;
    case PAGE_READONLY: return PROT_READ;
    case PAGE_READWRITE: return PROT_READ | PROT_WRITE;
    default: return -1;
    }
}

// The region holding [at, at + bytes), or sizes.end().
std::map<uintptr_t, SIZE_T>::iterator RegionHolding(VirtualRegions &regions, uintptr_t at, SIZE_T bytes)
{
    auto region = regions.sizes.upper_bound(at);
    if (region == regions.sizes.begin())
        return regions.sizes.end();
    --region;
    if (at + bytes < at || at + bytes > region->first + region->second)
        return regions.sizes.end();
    return region;
}

} // namespace

} // namespace winsim

EXTERN_C LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect)
{
    const int protection = HostProtection(flProtect);
    if (dwSize == 0 || protection < 0 || (flAllocationType & ~(MEM_COMMIT | MEM_RESERVE)) != 0 ||
        (flAllocationType & MEM_COMMIT) == 0)
        return Fail(ERROR_INVALID_PARAMETER, LPVOID(NULL));
    if (lpAddress != NULL || (flAllocationType & MEM_RESERVE) == 0) {
        // Committing within a region reserved before: nothing here needs it.
        LogNotImplemented("VirtualAlloc", "a commit in a reserved region");
        return Fail(ERROR_CALL_NOT_IMPLEMENTED, LPVOID(NULL));
    }
    const SIZE_T bytes = (dwSize + kPageBytes - 1) / kPageBytes * kPageBytes;
    void *base = mmap(NULL, bytes, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return Fail(ERROR_NOT_ENOUGH_MEMORY, LPVOID(NULL));
    VirtualRegions &regions = TheVirtualRegions();
    std::lock_guard<std::mutex> guard(regions.lock);
    const uintptr_t at = reinterpret_cast<uintptr_t>(base);
    regions.sizes[at] = bytes;
    for (SIZE_T page = 0; page < bytes; page += kPageBytes)
        regions.pageProtection[at + page] = flProtect;
    return base;
}

EXTERN_C BOOL WINAPI VirtualProtect(LPVOID lpAddress, SIZE_T dwSize, DWORD flNewProtect, PDWORD lpflOldProtect)
{
    const int protection = HostProtection(flNewProtect);
    if (protection < 0 || lpflOldProtect == NULL)
        return Fail(lpflOldProtect == NULL ? ERROR_NOACCESS : ERROR_INVALID_PARAMETER, FALSE);
    // Every page that holds a byte of the range.
    const uintptr_t first = reinterpret_cast<uintptr_t>(lpAddress) / kPageBytes * kPageBytes;
    const uintptr_t end = reinterpret_cast<uintptr_t>(lpAddress) + (dwSize == 0 ? 1 : dwSize);
    const SIZE_T bytes = (end - first + kPageBytes - 1) / kPageBytes * kPageBytes;
    VirtualRegions &regions = TheVirtualRegions();
    std::lock_guard<std::mutex> guard(regions.lock);
    if (RegionHolding(regions, first, bytes) == regions.sizes.end())
        return Fail(ERROR_INVALID_ADDRESS, FALSE);
    if (mprotect(reinterpret_cast<void *>(first), bytes, protection) != 0)
        return Fail(ERROR_INVALID_ADDRESS, FALSE);
    *lpflOldProtect = regions.pageProtection[first];
    for (SIZE_T page = 0; page < bytes; page += kPageBytes)
        regions.pageProtection[first + page] = flNewProtect;
    return TRUE;
}

EXTERN_C BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType)
{
    if (dwFreeType != MEM_RELEASE) {
        if (dwFreeType == MEM_DECOMMIT) {
            LogNotImplemented("VirtualFree", "MEM_DECOMMIT");
            return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
        }
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    // A release takes the whole region, named by its base, with a size of 0.
    if (dwSize != 0)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    VirtualRegions &regions = TheVirtualRegions();
    std::lock_guard<std::mutex> guard(regions.lock);
    const auto region = regions.sizes.find(reinterpret_cast<uintptr_t>(lpAddress));
    if (region == regions.sizes.end())
        return Fail(ERROR_INVALID_ADDRESS, FALSE);
    munmap(lpAddress, region->second);
    regions.pageProtection.erase(regions.pageProtection.lower_bound(region->first),
                                 regions.pageProtection.lower_bound(region->first + region->second));
    regions.sizes.erase(region);
    return TRUE;
}
