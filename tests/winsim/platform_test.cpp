// What Windows code takes for granted of its platform: the SDK's constants and macros, the
// tick count, and a system text for every error code the platform's calls set. Portable.
#include <platform/tvplatform.h>

#include <gtest/gtest.h>

#include "support/wine.h"

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

// The text of a system code, or empty when FormatMessageW has none.
wstr SystemText(DWORD code)
{
    WCHAR buffer[512];
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length = FormatMessageW(flags, NULL, code, 0, buffer, 512, NULL);
    return wstr(buffer, length);
}

TEST(PlatformMessages, EveryCodeThePlatformSetsHasItsSystemText)
{
    TV_SKIP_UNDER_WINE("Wine's system table words some texts differently and lacks the cluster ones");
    const DWORD codes[] = {
        ERROR_INVALID_FUNCTION, ERROR_TOO_MANY_OPEN_FILES, ERROR_INVALID_ACCESS, ERROR_INVALID_DATA,
        ERROR_OUTOFMEMORY, ERROR_INVALID_DRIVE, ERROR_CURRENT_DIRECTORY, ERROR_NOT_SAME_DEVICE,
        ERROR_NO_MORE_FILES, ERROR_WRITE_PROTECT, ERROR_NOT_READY, ERROR_BAD_LENGTH, ERROR_SEEK,
        ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_HANDLE_EOF, ERROR_HANDLE_DISK_FULL,
        ERROR_NOT_SUPPORTED, ERROR_BAD_NETPATH, ERROR_FILE_EXISTS, ERROR_BUFFER_OVERFLOW, ERROR_DISK_FULL,
        ERROR_CALL_NOT_IMPLEMENTED, ERROR_INSUFFICIENT_BUFFER, ERROR_NEGATIVE_SEEK, ERROR_DIR_NOT_ROOT,
        ERROR_DIR_NOT_EMPTY, ERROR_BAD_PATHNAME, ERROR_BUSY, ERROR_ALREADY_EXISTS, ERROR_ENVVAR_NOT_FOUND,
        ERROR_FILENAME_EXCED_RANGE, ERROR_FILE_TOO_LARGE, ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS, ERROR_DIRECTORY,
        ERROR_MR_MID_NOT_FOUND, ERROR_NOACCESS, ERROR_INVALID_FLAGS, ERROR_BADKEY, ERROR_KEY_DELETED,
        ERROR_NO_UNICODE_TRANSLATION, ERROR_NOT_FOUND, ERROR_DATATYPE_MISMATCH, ERROR_UNSUPPORTED_TYPE,
        ERROR_INVALID_USER_BUFFER, ERROR_RESOURCE_LANG_NOT_FOUND, ERROR_NOT_A_REPARSE_POINT,
        RPC_S_INVALID_STRING_UUID, RPC_S_UUID_NO_ADDRESS, RPC_S_UUID_LOCAL_ONLY,
        5007 /* ERROR_RESOURCE_NOT_FOUND, cluster */, 5042 /* ERROR_CLUSTER_NODE_NOT_FOUND */,
        DWORD(DISP_E_TYPEMISMATCH), DWORD(DISP_E_BADVARTYPE), DWORD(DISP_E_OVERFLOW), DWORD(DISP_E_BADINDEX),
        DWORD(DISP_E_ARRAYISLOCKED), DWORD(CO_E_CLASSSTRING), DWORD(CO_E_IIDSTRING), DWORD(CLASS_E_NOAGGREGATION),
        DWORD(REGDB_E_CLASSNOTREG), DWORD(E_UNEXPECTED)};
    for (const DWORD code : codes) {
        const wstr text = SystemText(code);
        EXPECT_GT(text.size(), size_t(2)) << code;
        EXPECT_EQ(text.substr(text.size() < 2 ? 0 : text.size() - 2), W("\r\n")) << code;
    }
    // Windows' own words, for the ones a user meets on a bad path or a missing key.
    EXPECT_EQ(SystemText(ERROR_INVALID_NAME), W("The filename, directory name, or volume label syntax is incorrect.\r\n"));
    EXPECT_EQ(SystemText(HRESULT_FROM_WIN32(ERROR_INVALID_NAME)), SystemText(ERROR_INVALID_NAME));
    EXPECT_EQ(SystemText(ERROR_WRITE_PROTECT), W("The media is write protected.\r\n"));
    EXPECT_EQ(SystemText(ERROR_KEY_DELETED),
              W("Illegal operation attempted on a registry key that has been marked for deletion.\r\n"));
    EXPECT_EQ(SystemText(ERROR_MR_MID_NOT_FOUND),
              W("The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"));
}

} // namespace
