// Helpers of the string suites: the views of a tv_str as comparable values, the platform's
// own UTF-8 encoding to check mirrors against, and a switch that makes allocations fail.
#pragma once

#include <libwinclass/winclass.h>

#include <string>

namespace tvtest {

// The wide view as a string; NULL reads as "".
inline wstr Wide(const tv_str &s)
{
    const WCHAR *text = s;
    return text != NULL ? wstr(text) : wstr();
}

inline std::string Utf8(const tv_str &s) { return s.get_utf8(); }

// The UTF-8 text the platform makes of wide text: what every mirror must hold.
std::string PlatformUtf8(const wstr &wide);
// The wide text the platform makes of UTF-8 bytes, ill-formed ones included.
wstr PlatformWide(const std::string &utf8);

// True when the mirror lives in the object's inline buffer.
inline bool MirrorIsInline(const tv_str &s)
{
    const char *mirror = s.get_utf8();
    const char *object = reinterpret_cast<const char *>(&s);
    return mirror >= object && mirror < object + sizeof(tv_str);
}

// While alive, every operator new of the test program fails (bad_alloc, or NULL for the
// nothrow forms). Allocations made inside a DLL on Windows do not pass through the test
// program's operator new; refused() tells whether any allocation was actually refused.
class FailingAllocations {
public:
    FailingAllocations();
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations &) = delete;
    FailingAllocations &operator=(const FailingAllocations &) = delete;
    int refused() const;
    void stop();
};

} // namespace tvtest
