// What Windows code takes for granted of its platform: the SDK's constants and macros, the
// tick count. Portable.
#include <platform/tvplatform.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

static_assert(INFINITE == 0xFFFFFFFF, "synchapi.h");
static_assert(ERROR_FILE_TOO_LARGE == 223, "winerror.h");
static_assert(RPC_S_UUID_NO_ADDRESS == 1739, "winerror.h");

TEST(PlatformBasics, ZeroMemoryClearsExactlyTheBlockGiven)
{
    unsigned char bytes[16];
    memset(bytes, 0xA5, sizeof bytes);
    ZeroMemory(bytes + 4, 8);
    for (size_t i = 0; i < sizeof bytes; ++i)
        EXPECT_EQ(bytes[i], i >= 4 && i < 12 ? 0 : 0xA5) << i;
}

TEST(PlatformBasics, TheTickCountFollowsTheClock)
{
    const auto started = std::chrono::steady_clock::now();
    const DWORD first = GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    const DWORD second = GetTickCount();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    // Unsigned difference: right across the wrap at 49.7 days too. The tick resolution
    // on Windows is 10 to 16 ms.
    const DWORD ticks = second - first;
    EXPECT_GE(ticks + 20, DWORD(120));
    EXPECT_LE(ticks, DWORD(elapsed + 20));
}

} // namespace
