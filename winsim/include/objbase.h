// winsim: COM base (ole32): apartments, process security, object creation, GUID text.
#pragma once

#include "windows.h"
#include "oleauto.h"

typedef enum tagCOINIT {
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_MULTITHREADED = 0x0,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8
} COINIT;

// The COM task allocator: blocks that cross an interface and are freed by the receiver.
WINOLEAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb);
WINOLEAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
WINOLEAPI_(void) CoTaskMemFree(LPVOID pv);

// The braced registry form of a GUID, upper-case digits; the count written including the
// terminator (39), or 0 when the buffer is smaller than that.
WINOLEAPI_(int) StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// Parses the braced registry form; CO_E_CLASSSTRING when malformed.
WINOLEAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
