// Faults injected at the calls a client makes before any other: COM security, UUIDs and
// environment expansion fail as Windows answers, and leave nothing behind. Linux only.
#include <platform/tvplatform.h>

#include <winsim/host.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

class PlatformFaults : public ::testing::Test {
protected:
    void TearDown() override { winsim::ClearFaults(); }
};

TEST_F(PlatformFaults, CoInitializeSecurityAnswersTheFaultAndRecordsNothing)
{
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    winsim::InjectHresult("CoInitializeSecurity", u"", E_ACCESSDENIED);
    const auto initialize = [] {
        return CoInitializeSecurity(NULL, -1, NULL, NULL, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                    NULL, EOAC_NONE, NULL);
    };
    EXPECT_EQ(initialize(), E_ACCESSDENIED);
    // Had the failed call set the process's security, this one would be RPC_E_TOO_LATE.
    EXPECT_EQ(initialize(), S_OK);
    CoUninitialize();
}

TEST_F(PlatformFaults, UuidCreateGivesALocalUuidOrNone)
{
    struct Case {
        RPC_STATUS status;
        bool filled;  // RPC_S_UUID_LOCAL_ONLY still gives a UUID
    } const cases[] = {{RPC_S_UUID_LOCAL_ONLY, true}, {RPC_S_UUID_NO_ADDRESS, false}, {RPC_S_OUT_OF_MEMORY, false}};
    for (const Case &c : cases) {
        winsim::InjectError("UuidCreate", u"", DWORD(c.status));
        UUID uuid;
        memset(&uuid, 0x5A, sizeof uuid);
        UUID marker = uuid;
        EXPECT_EQ(UuidCreate(&uuid), c.status);
        EXPECT_EQ(memcmp(&uuid, &marker, sizeof uuid) != 0, c.filled) << c.status;
        EXPECT_EQ(UuidCreate(&uuid), RPC_S_OK) << "a fault given once is used up";
    }
}

TEST_F(PlatformFaults, ExpandEnvironmentStringsFailsForTheSourceNamed)
{
    winsim::InjectError("ExpandEnvironmentStringsW", u"%SystemRoot%\\Temp", ERROR_NOT_ENOUGH_MEMORY, false);
    WCHAR buffer[64] = {'m', 'a', 'r', 'k', 0};
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(ExpandEnvironmentStringsW(W("%systemroot%\\temp"), buffer, 64), DWORD(0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(wstr(buffer), W("mark"));
    // Another source expands as ever.
    EXPECT_EQ(ExpandEnvironmentStringsW(W("plain"), buffer, 64), DWORD(6));
    EXPECT_EQ(wstr(buffer), W("plain"));
}

} // namespace
