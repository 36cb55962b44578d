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

TEST(EnvironmentVariable, LengthsBufferSizesAndExpansion)
{
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_TEST_VALUE"), W("abcdef")));
    WCHAR buffer[16];
    EXPECT_EQ(GetEnvironmentVariableW(W("TLV_TEST_VALUE"), buffer, 16), DWORD(6)) << "without the terminator";
    EXPECT_EQ(wstr(buffer), W("abcdef"));
    // Exactly the length plus one is enough.
    EXPECT_EQ(GetEnvironmentVariableW(W("TLV_TEST_VALUE"), buffer, 7), DWORD(6));
    // One less: the size needed, terminator counted, and the buffer left as it was.
    WCHAR shortBuffer[6] = {'m', 'a', 'r', 'k', 0, 0};
    EXPECT_EQ(GetEnvironmentVariableW(W("TLV_TEST_VALUE"), shortBuffer, 6), DWORD(7));
    EXPECT_EQ(wstr(shortBuffer), W("mark"));
    EXPECT_EQ(GetEnvironmentVariableW(W("TLV_TEST_VALUE"), NULL, 0), DWORD(7));

    // An empty value exists and reads as zero without an error.
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_TEST_EMPTY"), W("")));
    WCHAR empty[4] = {'m', 'a', 'r', 0};
    SetLastError(kUntouched);
    EXPECT_EQ(GetEnvironmentVariableW(W("TLV_TEST_EMPTY"), empty, 4), DWORD(0));
    EXPECT_EQ(GetLastError(), kUntouched);
    EXPECT_EQ(empty[0], 0);
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_DIR"), W("C:\\Tolvane")));
    const struct {
        const WCHAR *text;
        const WCHAR *expanded;
    } cases[] = {
        {W("%tlv_dir%\\bin\\%TLV_DIR%"), W("C:\\Tolvane\\bin\\C:\\Tolvane")},
        {W("%TLV_NOT_SET%\\100%"), W("%TLV_NOT_SET%\\100%")},
        {W("50%%TLV_DIR%"), W("50%%TLV_DIR%")},
        {W("%TLV_NOT_SET%TLV_DIR%"), W("%TLV_NOT_SET%TLV_DIR%")},
    };
    for (const auto &c : cases) {
        WCHAR out[64];
        EXPECT_EQ(ExpandEnvironmentStringsW(c.text, out, 64), DWORD(wstr(c.expanded).size() + 1));
        EXPECT_EQ(wstr(out), c.expanded);
    }
    // A short buffer or none: the size needed.
    EXPECT_EQ(ExpandEnvironmentStringsW(W("%TLV_DIR%\\x"), buffer, 4), DWORD(13));
    EXPECT_EQ(ExpandEnvironmentStringsW(W("%TLV_DIR%\\x"), NULL, 0), DWORD(13));
}

TEST(EnvironmentVariable, NamesIgnoreCaseAndMissingOnesAreNotFound)
{
    ASSERT_TRUE(SetEnvironmentVariableW(W("Tlv_Mixed_Case"), W("one")));
    EXPECT_EQ(Variable(W("TLV_MIXED_CASE")), W("one"));
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_MIXED_CASE"), W("two")));
    EXPECT_EQ(Variable(W("tlv_mixed_case")), W("two"));

    // A NULL value deletes, whatever the case of the name.
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_TEST_DOOMED"), W("x")));
    EXPECT_TRUE(SetEnvironmentVariableW(W("tlv_test_doomed"), NULL));
    for (const WCHAR *missing : {W("TLV_TEST_SURELY_UNSET"), W(""), W("TLV_TEST_DOOMED")}) {
        WCHAR buffer[8] = {'m', 'a', 'r', 'k', 0};
        SetLastError(kUntouched);
        EXPECT_EQ(GetEnvironmentVariableW(missing, buffer, 8), DWORD(0));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ENVVAR_NOT_FOUND));
        EXPECT_EQ(wstr(buffer), W("mark"));
    }

    SetLastError(kUntouched);
    EXPECT_FALSE(SetEnvironmentVariableW(W("TLV=BAD"), W("x")));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    // The system variables of Windows are there.
    EXPECT_EQ(Variable(W("SystemDrive")), W("C:"));
    EXPECT_TRUE(SameNoCase(Variable(W("SystemRoot")), W("C:\\Windows")));
    EXPECT_TRUE(SameNoCase(Variable(W("windir")), W("C:\\Windows")));
    EXPECT_FALSE(Variable(W("TEMP")).empty());
    EXPECT_FALSE(Variable(W("COMPUTERNAME")).empty());
}

TEST(Memory, LstrlenLocalAllocAndCoTaskMem)
{
    EXPECT_EQ(lstrlenW(W("Backup")), 6);
    EXPECT_EQ(lstrlenW(W("")), 0);
    EXPECT_EQ(lstrlenW(NULL), 0);

    BYTE *block = static_cast<BYTE *>(LocalAlloc(LPTR, 64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(block[i], 0) << i;
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalFree(NULL), nullptr);
    HLOCAL zeroSize = LocalAlloc(LMEM_FIXED, 0);
    EXPECT_NE(zeroSize, nullptr) << "a zero-size block is still a block";
    EXPECT_EQ(LocalFree(zeroSize), nullptr);

    char *task = static_cast<char *>(CoTaskMemAlloc(4));
    ASSERT_NE(task, nullptr);
    memcpy(task, "abc", 4);
    task = static_cast<char *>(CoTaskMemRealloc(task, 4096));
    ASSERT_NE(task, nullptr);
    EXPECT_STREQ(task, "abc");
    CoTaskMemFree(task);
    CoTaskMemFree(NULL);
    void *empty = CoTaskMemAlloc(0);
    EXPECT_NE(empty, nullptr);
    CoTaskMemFree(empty);
}

} // namespace
