// winsim's own side of the environment, debugging output and the local heap: what a test
// sees through winsim/host.h. Linux only.
#include <platform/tvplatform.h>

#include <winsim/host.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

TEST(SimulatedEnvironment, IsSeededFromTheProcessWithTheHostsVariablesFirst)
{
    ASSERT_EQ(setenv("TLV_FROM_LINUX", "seeded", 1), 0);
    winsim::ResetEnvironment();
    WCHAR buffer[32];
    ASSERT_EQ(GetEnvironmentVariableW(W("tlv_from_linux"), buffer, 32), DWORD(6));
    EXPECT_EQ(wstr(buffer), W("seeded"));
    ASSERT_EQ(setenv("COMPUTERNAME", "BUILD-HOST", 1), 0);
    ASSERT_EQ(setenv("TLV_FROM_PROCESS", "kept", 1), 0);
    winsim::ResetEnvironment();
    ASSERT_GT(GetEnvironmentVariableW(W("COMPUTERNAME"), buffer, 32), DWORD(0));
    EXPECT_EQ(wstr(buffer), W("TVSRV01"));  // the default host's COMPUTERNAME
    ASSERT_GT(GetEnvironmentVariableW(W("TLV_FROM_PROCESS"), buffer, 32), DWORD(0));
    EXPECT_EQ(wstr(buffer), W("kept"));
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_ONLY_SIMULATED"), W("1")));
    EXPECT_EQ(getenv("TLV_ONLY_SIMULATED"), nullptr);

    // A reset without seeding keeps only the Windows defaults.
    winsim::ResetEnvironment(false);
    SetLastError(0);
    EXPECT_EQ(GetEnvironmentVariableW(W("TLV_FROM_LINUX"), NULL, 0), DWORD(0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ENVVAR_NOT_FOUND));

    std::vector<std::u16string> names;
    for (const auto &variable : winsim::EnvironmentVariables())
        names.push_back(variable.first);
    EXPECT_EQ(names.size(), size_t(9));
    EXPECT_NE(std::find(names.begin(), names.end(), u"windir"), names.end());  // case kept
    ASSERT_GT(GetEnvironmentVariableW(W("SYSTEMROOT"), buffer, 32), DWORD(0));
    EXPECT_EQ(wstr(buffer), W("C:\\Windows"));
}

TEST(DebugOutput, KeepsTheLastTextsInOrderAndGoesToStderrWhenAsked)
{
    winsim::ClearDebugOutput();
    OutputDebugStringW(W("caf\u00E9\n"));
    OutputDebugStringA("second\n");
    OutputDebugStringA(NULL);
    const std::vector<std::string> lines = winsim::DebugOutput();
    ASSERT_EQ(lines.size(), size_t(2));
    EXPECT_EQ(lines[0], "caf\xC3\xA9\n");
    EXPECT_EQ(lines[1], "second\n");
    // Beyond its capacity the oldest texts are forgotten.
    winsim::ClearDebugOutput();
    for (int i = 0; i < 600; ++i)
        OutputDebugStringA(std::to_string(i).c_str());
    const std::vector<std::string> kept = winsim::DebugOutput();
    ASSERT_EQ(kept.size(), size_t(512));
    EXPECT_EQ(kept.front(), "88");
    EXPECT_EQ(kept.back(), "599");
    ASSERT_EQ(setenv("WINSIM_DEBUG_OUTPUT", "1", 1), 0);
    testing::internal::CaptureStderr();
    OutputDebugStringA("to stderr");
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written, "[debug] to stderr\n");
}

TEST(LocalHeap, FreeingTwiceAndMoveableBlocksFail)
{
    const size_t before = winsim::LiveLocalAllocations();
    HLOCAL block = LocalAlloc(LMEM_FIXED, 16);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(winsim::LiveLocalAllocations(), before + 1);
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(winsim::LiveLocalAllocations(), before);
    SetLastError(0);
    EXPECT_EQ(LocalFree(block), block);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    // Moveable blocks are refused loudly.
    testing::internal::CaptureStderr();
    SetLastError(0);
    EXPECT_EQ(LocalAlloc(LMEM_MOVEABLE, 16), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("LMEM_MOVEABLE"), std::string::npos);
}

} // namespace
