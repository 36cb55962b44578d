// kernel32: OutputDebugString. No debugger listens here: the text goes to stderr when
// WINSIM_DEBUG_OUTPUT is set, and is always kept in a ring that tests read.
#include "internal.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>

namespace winsim {

namespace {

const size_t kRingCapacity = 512;

struct DebugRing {
    std::mutex lock;
    std::deque<std::string> lines;
};

DebugRing &TheRing()
{
    static DebugRing *ring = new DebugRing;
    return *ring;
}

void Emit(const std::string &text)
{
    if (getenv("WINSIM_DEBUG_OUTPUT") != NULL) {
        const bool endsLine = !text.empty() && text.back() == '\n';
        fprintf(stderr, "[debug] %s%s", text.c_str(), endsLine ? "" : "\n");
    }
    DebugRing &ring = TheRing();
    std::lock_guard<std::mutex> guard(ring.lock);
    if (ring.lines.size() == kRingCapacity)
        ring.lines.pop_front();
    ring.lines.push_back(text);
}

} // namespace

std::vector<std::string> DebugOutput()
{
    DebugRing &ring = TheRing();
    std::lock_guard<std::mutex> guard(ring.lock);
    return std::vector<std::string>(ring.lines.begin(), ring.lines.end());
}

void ClearDebugOutput()
{
    DebugRing &ring = TheRing();
    std::lock_guard<std::mutex> guard(ring.lock);
    ring.lines.clear();
}

} // namespace winsim

EXTERN_C void WINAPI OutputDebugStringW(LPCWSTR lpOutputString)
{
    if (lpOutputString != NULL)
        winsim::Emit(winsim::ToUtf8(lpOutputString));
}

EXTERN_C void WINAPI OutputDebugStringA(LPCSTR lpOutputString)
{
    if (lpOutputString != NULL)
        winsim::Emit(lpOutputString);
}
