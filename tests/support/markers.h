// Small helpers shared by the portable platform tests.
#pragma once

#include <platform/tvplatform.h>

namespace tvtest {

// Pre-filled into an output argument to prove that a call wrote it (or did not).
const DWORD kMarker = 0xDEADBEEF;

// The decimal text of a number as wide text, for names that must differ per process or case.
inline wstr Number(DWORD value)
{
    wstr text;
    do {
        text.insert(text.begin(), WCHAR(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return text;
}

} // namespace tvtest
