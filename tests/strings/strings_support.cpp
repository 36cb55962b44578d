#include "strings/strings_support.h"

#include <atomic>
#include <cstdlib>
#include <new>

// The replacements must be visible to the libraries for the switch to reach them.
#if defined(__ELF__)
#define TV_TEST_VISIBLE __attribute__((visibility("default")))
#else
#define TV_TEST_VISIBLE
#endif

namespace {

std::atomic<bool> g_failing(false);
std::atomic<int> g_refused(0);

void *Allocate(size_t size)
{
    if (g_failing.load()) {
        ++g_refused;
        return NULL;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void *AllocateOrThrow(size_t size)
{
    void *block = Allocate(size);
    if (block == NULL)
        throw std::bad_alloc();
    return block;
}

} // namespace

TV_TEST_VISIBLE void *operator new(size_t size) { return AllocateOrThrow(size); }
TV_TEST_VISIBLE void *operator new[](size_t size) { return AllocateOrThrow(size); }
TV_TEST_VISIBLE void *operator new(size_t size, const std::nothrow_t &) noexcept { return Allocate(size); }
TV_TEST_VISIBLE void *operator new[](size_t size, const std::nothrow_t &) noexcept { return Allocate(size); }
TV_TEST_VISIBLE void operator delete(void *block) noexcept { std::free(block); }
TV_TEST_VISIBLE void operator delete[](void *block) noexcept { std::free(block); }
TV_TEST_VISIBLE void operator delete(void *block, size_t) noexcept { std::free(block); }
TV_TEST_VISIBLE void operator delete[](void *block, size_t) noexcept { std::free(block); }
TV_TEST_VISIBLE void operator delete(void *block, const std::nothrow_t &) noexcept { std::free(block); }
TV_TEST_VISIBLE void operator delete[](void *block, const std::nothrow_t &) noexcept { std::free(block); }

namespace tvtest {

std::string PlatformUtf8(const wstr &wide)
{
    if (wide.empty())
        return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), NULL, 0, NULL, NULL);
    std::string utf8(size_t(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &utf8[0], bytes, NULL, NULL);
    return utf8;
}

wstr PlatformWide(const std::string &utf8)
{
    if (utf8.empty())
        return wstr();
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), NULL, 0);
    wstr wide(size_t(units > 0 ? units : 0), 0);
    if (units > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], units);
    return wide;
}

FailingAllocations::FailingAllocations()
{
    g_refused = 0;
    g_failing = true;
}

FailingAllocations::~FailingAllocations() { stop(); }

void FailingAllocations::stop() { g_failing = false; }

int FailingAllocations::refused() const { return g_refused.load(); }

} // namespace tvtest
