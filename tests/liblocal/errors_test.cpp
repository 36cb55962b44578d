// The runtime's last-error slot, error texts and errno mapping.
#include <liblocal/local.h>

#include <gtest/gtest.h>

#include "support/wine.h"

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <thread>

namespace {

std::string LastErrorText()
{
    char buffer[1024];
    EXPECT_EQ(vo_error_get_message(buffer, sizeof buffer), buffer);
    return buffer;
}

TEST(LastError, KeepsCodeAndKindPerThreadAndGivesTheirText)
{
    vo_error_set_last(int(0x80042306), VO_ERR_HRESULT);
    int otherCode = -1, otherKind = -1;
    std::thread other([&] {
        otherCode = vo_error_get_last();
        otherKind = vo_error_get_last_kind();
        vo_error_set_last(ERROR_ACCESS_DENIED, VO_ERR_WIN32);
    });
    other.join();
    EXPECT_EQ(otherCode, 0);
    EXPECT_EQ(otherKind, VO_ERR_NONE);
    EXPECT_EQ(vo_error_get_last(), int(0x80042306));
    EXPECT_EQ(vo_error_get_last_kind(), VO_ERR_HRESULT);
    for (const int code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER}) {
        vo_error_set_last(code, VO_ERR_WIN32);
        const std::string text = LastErrorText();
        EXPECT_FALSE(text.empty());
        EXPECT_NE(text, "Unknown error") << code;
        EXPECT_NE(text.back(), '\n');
        EXPECT_NE(text.back(), '\r');
    }
    vo_error_set_last(int(E_INVALIDARG), VO_ERR_HRESULT);
    EXPECT_NE(LastErrorText(), "Unknown error");
    // The system's message table has no VSS codes (facility 4).
    vo_error_set_last(int(0x80042301), VO_ERR_HRESULT);
    EXPECT_EQ(LastErrorText(), "Unknown error");
    vo_error_set_last(5, 42);
    EXPECT_EQ(LastErrorText(), "Unknown error") << "a kind the runtime does not know";
    vo_error_set_last(0, VO_ERR_NONE);
    EXPECT_EQ(LastErrorText(), "No error");
    vo_error_set_last(ENOENT, VO_ERR_ERRNO);
    const std::string text = LastErrorText();
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text, "Unknown error");
    vo_error_set_last(int(0x80042301), VO_ERR_HRESULT);
    char small[8];
    EXPECT_EQ(vo_error_get_message(small, sizeof small), small);
    EXPECT_STREQ(small, "Unknown");
    char untouched[4] = {'x', 'x', 'x', 'x'};
    vo_error_get_message(untouched, 0);
    EXPECT_EQ(untouched[0], 'x');
    EXPECT_EQ(vo_error_get_message(nullptr, 100), nullptr);
}

TEST(LastError, SystemTextsAreTheOnesWindowsGives)
{
    TV_SKIP_UNDER_WINE("Wine words several system texts differently");
    vo_error_set_last(ERROR_FILE_NOT_FOUND, VO_ERR_WIN32);
    EXPECT_EQ(LastErrorText(), "The system cannot find the file specified.");
    vo_error_set_last(int(E_FAIL), VO_ERR_HRESULT);
    EXPECT_EQ(LastErrorText(), "Unspecified error");
}

TEST(SystemErrorText, TextOfGetLastErrorRecordedUsableTogetherAndMappedToErrno)
{
    SetLastError(ERROR_ACCESS_DENIED);
    const std::string text = nt_syserror();
    const DWORD error = GetLastError();
    EXPECT_EQ(error, DWORD(ERROR_ACCESS_DENIED)) << "reading the text keeps the code";
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text, "Unknown error");
    EXPECT_EQ(vo_error_get_last(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(vo_error_get_last_kind(), VO_ERR_WIN32);
    EXPECT_EQ(LastErrorText(), text);
    const DWORD codes[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER,
                           ERROR_NOT_ENOUGH_MEMORY};
    const char *texts[4];
    std::string copies[4];
    for (int i = 0; i < 4; ++i) {
        SetLastError(codes[i]);
        texts[i] = nt_syserror();
        copies[i] = texts[i];
    }
    std::set<std::string> distinct;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(std::string(texts[i]), copies[i]);
        distinct.insert(copies[i]);
    }
    EXPECT_EQ(distinct.size(), 4u);
    EXPECT_EQ(vo_error_to_errno(0, VO_ERR_NONE), 0);
    EXPECT_EQ(vo_error_to_errno(ERROR_SUCCESS, VO_ERR_WIN32), 0);
    EXPECT_EQ(vo_error_to_errno(ERROR_FILE_NOT_FOUND, VO_ERR_WIN32), ENOENT);
    EXPECT_EQ(vo_error_to_errno(ERROR_PATH_NOT_FOUND, VO_ERR_WIN32), ENOENT);
    EXPECT_EQ(vo_error_to_errno(ERROR_ACCESS_DENIED, VO_ERR_WIN32), EACCES);
    EXPECT_EQ(vo_error_to_errno(ERROR_ALREADY_EXISTS, VO_ERR_WIN32), EEXIST);
    EXPECT_EQ(vo_error_to_errno(ERROR_NOT_ENOUGH_MEMORY, VO_ERR_WIN32), ENOMEM);
    EXPECT_EQ(vo_error_to_errno(ERROR_INVALID_PARAMETER, VO_ERR_WIN32), EINVAL);
    EXPECT_EQ(vo_error_to_errno(ERROR_DISK_FULL, VO_ERR_WIN32), ENOSPC);
    EXPECT_EQ(vo_error_to_errno(ERROR_INSUFFICIENT_BUFFER, VO_ERR_WIN32), ERANGE);
    EXPECT_EQ(vo_error_to_errno(1359 /* ERROR_INTERNAL_ERROR */, VO_ERR_WIN32), EIO);
    EXPECT_EQ(vo_error_to_errno(int(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)), VO_ERR_HRESULT), EACCES);
    EXPECT_EQ(vo_error_to_errno(int(E_OUTOFMEMORY), VO_ERR_HRESULT), ENOMEM);
    EXPECT_EQ(vo_error_to_errno(int(E_INVALIDARG), VO_ERR_HRESULT), EINVAL);
    EXPECT_EQ(vo_error_to_errno(int(0x80042301), VO_ERR_HRESULT), EIO);
    EXPECT_EQ(vo_error_to_errno(S_FALSE, VO_ERR_HRESULT), 0);
    EXPECT_EQ(vo_error_to_errno(EEXIST, VO_ERR_ERRNO), EEXIST);
    EXPECT_EQ(vo_error_to_errno(1, 99), EIO);
}

} // namespace
