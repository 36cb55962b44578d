// Environment variables, lstrlenW, debugging output and the Local and CoTaskMem
// allocators, as Windows documents them. Portable: runs on winsim and under Wine.
#include <platform/tvplatform.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include "support/wine.h"

namespace {

const DWORD kUntouched = 0xDEADBEEF;

wstr Variable(const WCHAR *name)
{
    WCHAR buffer[512];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 512);
    return length > 0 && length < 512 ? wstr(buffer, length) : wstr();
}

bool SameNoCase(const wstr &a, const wstr &b)
{
    return a.size() == b.size() && _wcsnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

TEST(EnvironmentVariable, AnswersTheLengthWithoutTheTerminator)
{
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_TEST_VALUE"), W("abcdef")));
    WCHAR buffer[16];
    EXPECT_EQ(GetEnvironmentVariableW(W("TLV_TEST_VALUE"), buffer, 16), DWORD(6));
    EXPECT_EQ(wstr(buffer), W("abcdef"));
    // Exactly the length plus one is enough.
    EXPECT_EQ(GetEnvironmentVariableW(W("TLV_TEST_VALUE"), buffer, 7), DWORD(6));
}

TEST(EnvironmentVariable, AnswersTheSizeNeededWhenTheBufferIsShort)
{
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_TEST_VALUE"), W("abcdef")));
    WCHAR buffer[6] = {'m', 'a', 'r', 'k', 0, 0};
    // The terminator is counted; the buffer is left as it was.
    EXPECT_EQ(GetEnvironmentVariableW(W("TLV_TEST_VALUE"), buffer, 6), DWORD(7));
    EXPECT_EQ(wstr(buffer), W("mark"));
    EXPECT_EQ(GetEnvironmentVariableW(W("TLV_TEST_VALUE"), NULL, 0), DWORD(7));
}

TEST(EnvironmentVariable, NamesCompareWithoutRegardToCase)
{
    ASSERT_TRUE(SetEnvironmentVariableW(W("Tlv_Mixed_Case"), W("one")));
    EXPECT_EQ(Variable(W("TLV_MIXED_CASE")), W("one"));
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_MIXED_CASE"), W("two")));
    EXPECT_EQ(Variable(W("tlv_mixed_case")), W("two"));
}

TEST(EnvironmentVariable, AMissingNameFailsWithEnvvarNotFound)
{
    WCHAR buffer[8] = {'m', 'a', 'r', 'k', 0};
    SetLastError(kUntouched);
    EXPECT_EQ(GetEnvironmentVariableW(W("TLV_TEST_SURELY_UNSET"), buffer, 8), DWORD(0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ENVVAR_NOT_FOUND));
    EXPECT_EQ(wstr(buffer), W("mark"));
    SetLastError(kUntouched);
    EXPECT_EQ(GetEnvironmentVariableW(W(""), buffer, 8), DWORD(0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ENVVAR_NOT_FOUND));
}

TEST(EnvironmentVariable, ANullValueDeletesTheVariable)
{
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_TEST_DOOMED"), W("x")));
    EXPECT_TRUE(SetEnvironmentVariableW(W("tlv_test_doomed"), NULL));
    SetLastError(kUntouched);
    EXPECT_EQ(GetEnvironmentVariableW(W("TLV_TEST_DOOMED"), NULL, 0), DWORD(0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ENVVAR_NOT_FOUND));
}

TEST(EnvironmentVariable, AnEmptyValueExistsAndReadsAsZeroWithoutAnError)
{
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_TEST_EMPTY"), W("")));
    WCHAR buffer[4] = {'m', 'a', 'r', 0};
    SetLastError(kUntouched);
    EXPECT_EQ(GetEnvironmentVariableW(W("TLV_TEST_EMPTY"), buffer, 4), DWORD(0));
    EXPECT_EQ(GetLastError(), kUntouched);
    EXPECT_EQ(buffer[0], 0);
}

TEST(EnvironmentVariable, RefusesNamesWithAnEqualsSign)
{
    SetLastError(kUntouched);
    EXPECT_FALSE(SetEnvironmentVariableW(W("TLV=BAD"), W("x")));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(EnvironmentVariable, TheSystemVariablesOfWindowsAreThere)
{
    EXPECT_EQ(Variable(W("SystemDrive")), W("C:"));
    EXPECT_TRUE(SameNoCase(Variable(W("SystemRoot")), W("C:\\Windows")));
    EXPECT_TRUE(SameNoCase(Variable(W("windir")), W("C:\\Windows")));
    EXPECT_FALSE(Variable(W("TEMP")).empty());
    EXPECT_FALSE(Variable(W("COMPUTERNAME")).empty());
}

TEST(ExpandEnvironmentStrings, ReplacesKnownNamesAndCountsTheTerminator)
{
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_DIR"), W("C:\\Tolvane")));
    WCHAR buffer[64];
    const DWORD stored = ExpandEnvironmentStringsW(W("%tlv_dir%\\bin\\%TLV_DIR%"), buffer, 64);
    EXPECT_EQ(wstr(buffer), W("C:\\Tolvane\\bin\\C:\\Tolvane"));
    EXPECT_EQ(stored, DWORD(wstr(buffer).size() + 1));
}

TEST(ExpandEnvironmentStrings, LeavesUnknownNamesAndLonePercentSignsAlone)
{
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_DIR"), W("D")));
    WCHAR buffer[64];
    ExpandEnvironmentStringsW(W("%TLV_NOT_SET%\\100%"), buffer, 64);
    EXPECT_EQ(wstr(buffer), W("%TLV_NOT_SET%\\100%"));
    ExpandEnvironmentStringsW(W("50%%TLV_DIR%"), buffer, 64);
    EXPECT_EQ(wstr(buffer), W("50%%TLV_DIR%"));
    ExpandEnvironmentStringsW(W("%TLV_NOT_SET%TLV_DIR%"), buffer, 64);
    EXPECT_EQ(wstr(buffer), W("%TLV_NOT_SET%TLV_DIR%"));
}

TEST(ExpandEnvironmentStrings, AnswersTheSizeNeededWhenTheBufferIsShort)
{
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_DIR"), W("C:\\Tolvane")));
    WCHAR buffer[4];
    EXPECT_EQ(ExpandEnvironmentStringsW(W("%TLV_DIR%\\x"), buffer, 4), DWORD(13));
    EXPECT_EQ(ExpandEnvironmentStringsW(W("%TLV_DIR%\\x"), NULL, 0), DWORD(13));
}

TEST(Lstrlen, CountsUnitsAndTakesNull)
{
    EXPECT_EQ(lstrlenW(W("Backup")), 6);
    EXPECT_EQ(lstrlenW(W("")), 0);
    EXPECT_EQ(lstrlenW(NULL), 0);
}

TEST(LocalAlloc, ZeroInitializesWhenAskedAndFreesToNull)
{
    BYTE *block = static_cast<BYTE *>(LocalAlloc(LPTR, 64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(block[i], 0) << i;
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalFree(NULL), nullptr);
}

TEST(LocalAlloc, AZeroSizeBlockIsStillABlock)
{
    HLOCAL block = LocalAlloc(LMEM_FIXED, 0);
    EXPECT_NE(block, nullptr);
    EXPECT_EQ(LocalFree(block), nullptr);
}

TEST(CoTaskMem, AllocatesReallocatesAndFrees)
{
    char *block = static_cast<char *>(CoTaskMemAlloc(4));
    ASSERT_NE(block, nullptr);
    memcpy(block, "abc", 4);
    block = static_cast<char *>(CoTaskMemRealloc(block, 4096));
    ASSERT_NE(block, nullptr);
    EXPECT_STREQ(block, "abc");
    CoTaskMemFree(block);
    CoTaskMemFree(NULL);
    void *empty = CoTaskMemAlloc(0);
    EXPECT_NE(empty, nullptr);
    CoTaskMemFree(empty);
}

} // namespace
