// FormatMessageW from the system table, as Windows documents it. Portable: under Wine
// only the existence of a text is compared, since Wine's texts differ from Windows'.
#include <platform/tvplatform.h>

#include <gtest/gtest.h>

#include "support/wine.h"

#include <cstdint>

#include "support/markers.h"

namespace {

const DWORD kSystemFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
using tvtest::kMarker;

// The system text of a code, or "<none: error>" when FormatMessageW fails.
wstr SystemText(DWORD code, DWORD language = 0)
{
    WCHAR buffer[512];
    const DWORD length = FormatMessageW(kSystemFlags, NULL, code, language, buffer, 512, NULL);
    if (length == 0) {
        const DWORD error = GetLastError();
        wstr failure = W("<none: ");
        for (const char c : std::to_string(error))
            failure.push_back(WCHAR(c));
        return failure + W(">");
    }
    return wstr(buffer, length);
}

struct Expected {
    DWORD code;
    const WCHAR *text;
};

const Expected kTexts[] = {
    {2, W("The system cannot find the file specified.\r\n")},
    {3, W("The system cannot find the path specified.\r\n")},
    {5, W("Access is denied.\r\n")},
    {8, W("Not enough memory resources are available to process this command.\r\n")},
    {87, W("The parameter is incorrect.\r\n")},
    {122, W("The data area passed to a system call is too small.\r\n")},
    {234, W("More data is available.\r\n")},
    {1168, W("Element not found.\r\n")},
    {4390, W("The file or directory is not a reparse point.\r\n")},
    {1, W("Incorrect function.\r\n")},
    {6, W("The handle is invalid.\r\n")},
    {32, W("The process cannot access the file because it is being used by another process.\r\n")},
    {80, W("The file exists.\r\n")},
    {183, W("Cannot create a file when that file already exists.\r\n")},
    {259, W("No more data is available.\r\n")},
    {1113, W("No mapping for the Unicode character exists in the target multi-byte code page.\r\n")},
    {0x80004001, W("Not implemented\r\n")},
    {0x80004002, W("No such interface supported\r\n")},
    {0x80004003, W("Invalid pointer\r\n")},
    {0x80004004, W("Operation aborted\r\n")},
    {0x80004005, W("Unspecified error\r\n")},
    {0x8000FFFF, W("Catastrophic failure\r\n")},
    {0x80070057, W("The parameter is incorrect.\r\n")},
    {0x80070005, W("Access is denied.\r\n")},
    {0x8007000E, W("Not enough memory resources are available to complete this operation.\r\n")},
    {0x80010106, W("Cannot change thread mode after it is set.\r\n")},
    {0x80010119, W("Security must be initialized before any interfaces are marshalled or unmarshalled. It "
                   "cannot be changed once initialized.\r\n")},
    {0x800401F0, W("CoInitialize has not been called.\r\n")},
};

// Wine's system table lacks the COM texts and a few newer Win32 ones.
bool WineLacks(DWORD code)
{
    const DWORD high = code >> 16;
    return code == ERROR_NOT_A_REPARSE_POINT || high == 0x8000 || high == 0x8001 || high == 0x8004;
}

TEST(SystemMessages, EveryCodeTheClientReportsHasWindowsOwnEnglishText)
{
    for (const Expected &expected : kTexts) {
        const wstr text = SystemText(expected.code);
        if (!tvtest::UnderWine()) {
            EXPECT_EQ(text, wstr(expected.text)) << std::hex << expected.code;
        } else if (!WineLacks(expected.code)) {  // a text, ending as every system text does
            EXPECT_TRUE(text.size() >= 2 && text.substr(text.size() - 2) == W("\r\n")) << std::hex << expected.code;
        }
    }
    TV_SKIP_UNDER_WINE("Wine words its texts differently and has none for the COM HRESULTs nor for 4390");
}

TEST(SystemMessages, SameTextThroughEveryRouteWhateverTheBuffer)
{
    // A Win32 HRESULT has the text of its code; the neutral language and English are
    // accepted; texts without inserts need no FORMAT_MESSAGE_IGNORE_INSERTS.
    EXPECT_EQ(SystemText(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), SystemText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(SystemText(HRESULT_FROM_WIN32(ERROR_NOT_FOUND)), SystemText(ERROR_NOT_FOUND));
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)), SystemText(ERROR_ACCESS_DENIED));
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
              SystemText(ERROR_ACCESS_DENIED));
    WCHAR buffer[128];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, NULL, ERROR_INVALID_PARAMETER, 0, buffer, 128, NULL);
    EXPECT_EQ(wstr(buffer, length), SystemText(ERROR_INVALID_PARAMETER));
    {
        const DWORD length = DWORD(SystemText(ERROR_ACCESS_DENIED).size());
        WCHAR buffer[64] = {'m', 'a', 'r', 'k', 0};
        SetLastError(kMarker);
        EXPECT_EQ(FormatMessageW(kSystemFlags, NULL, ERROR_ACCESS_DENIED, 0, buffer, 4, NULL), DWORD(0));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
        // Room for the text and its terminator is enough.
        EXPECT_EQ(FormatMessageW(kSystemFlags, NULL, ERROR_ACCESS_DENIED, 0, buffer, length + 1, NULL), length);
        EXPECT_EQ(buffer[length], 0);

        LPWSTR allocated = reinterpret_cast<LPWSTR>(uintptr_t(0x1));
        const DWORD found = FormatMessageW(kSystemFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL, ERROR_FILE_NOT_FOUND, 0,
                                           reinterpret_cast<LPWSTR>(&allocated), 0, NULL);
        ASSERT_GT(found, DWORD(0));
        ASSERT_NE(allocated, nullptr);
        EXPECT_EQ(wstr(allocated, found), SystemText(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(allocated[found], 0);
        EXPECT_EQ(LocalFree(allocated), nullptr);
    }
}

TEST(SystemMessages, VssAndWbemCodesHaveNoSystemText)
{
    const DWORD outside[] = {0x80042301, 0x80042302, 0x80042306, 0x80042308, 0x80041001, 0x80041002, 0x8004100E};
    for (const DWORD code : outside) {
        WCHAR buffer[64] = {'m', 'a', 'r', 'k', 0};
        SetLastError(kMarker);
        EXPECT_EQ(FormatMessageW(kSystemFlags, NULL, code, 0, buffer, 64, NULL), DWORD(0)) << std::hex << code;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_MR_MID_NOT_FOUND)) << std::hex << code;
        EXPECT_EQ(wstr(buffer), W("mark"));
    }
    // Nor an allocated buffer: NULL.
    LPWSTR allocated = reinterpret_cast<LPWSTR>(uintptr_t(0x1));
    SetLastError(kMarker);
    EXPECT_EQ(FormatMessageW(kSystemFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL, 0x80042301, 0,
                             reinterpret_cast<LPWSTR>(&allocated), 0, NULL),
              DWORD(0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(allocated, nullptr);
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
