// The registry calls of advapi32 as Windows documents them. Portable: on Windows (Wine)
// each test works in its own key under HKEY_CURRENT_USER and removes it afterwards.
#include <platform/tvplatform.h>

#include <gtest/gtest.h>

#include "support/wine.h"

#include <string>
#include <vector>

#include "support/markers.h"

namespace {

using tvtest::kMarker;
using tvtest::Number;

class Registry : public testing::Test {
protected:
    void SetUp() override
    {
        keyPath_ = wstr(W("Software\\TolvaneWinsimTest\\")) + Number(GetCurrentProcessId());
        DWORD disposition = 0;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key_,
                                  &disposition),
                  ERROR_SUCCESS);
        ASSERT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY)) << "left over from an earlier run";
    }
    void TearDown() override
    {
        if (key_ != NULL)
            RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, keyPath_.c_str());
    }

    static LSTATUS Set(HKEY key, const WCHAR *name, DWORD type, const void *data, size_t bytes)
    {
        return RegSetValueExW(key, name, 0, type, static_cast<const BYTE *>(data), DWORD(bytes));
    }
    LSTATUS SetString(const WCHAR *name, const wstr &text, DWORD type = REG_SZ)
    {
        return Set(key_, name, type, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    }

    wstr keyPath_;
    HKEY key_ = NULL;
};

TEST_F(Registry, AStringReadsBackWithItsTerminatorCountedInBytesAndAShortBufferGetsMoreData)
{
    ASSERT_EQ(SetString(W("InstallDir"), W("C:\\Program Files\\Tolvane")), ERROR_SUCCESS);
    WCHAR buffer[64];
    DWORD type = kMarker;
    DWORD size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExW(key_, W("InstallDir"), NULL, &type, reinterpret_cast<BYTE *>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, DWORD((24 + 1) * sizeof(WCHAR)));
    EXPECT_EQ(wstr(buffer), W("C:\\Program Files\\Tolvane"));
    // A short buffer gets more data and the size needed.
    ASSERT_EQ(SetString(W("InstallDir"), W("C:\\Tolvane")), ERROR_SUCCESS);
    type = kMarker;
    size = 8;
    EXPECT_EQ(RegQueryValueExW(key_, W("installdir"), NULL, &type, reinterpret_cast<BYTE *>(buffer), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, DWORD(11 * sizeof(WCHAR)));
    EXPECT_EQ(type, DWORD(REG_SZ));
    // With no buffer the size alone is the answer.
    size = kMarker;
    EXPECT_EQ(RegQueryValueExW(key_, W("InstallDir"), NULL, NULL, NULL, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, DWORD(11 * sizeof(WCHAR)));
}

TEST_F(Registry, AStringStoredWithoutTerminatorComesBackWithout)
{
    TV_SKIP_UNDER_WINE("Wine counts a terminator that the stored string lacks");
    const wstr text = W("abc");
    ASSERT_EQ(Set(key_, W("Bare"), REG_SZ, text.data(), text.size() * sizeof(WCHAR)), ERROR_SUCCESS);
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExW(key_, W("Bare"), NULL, NULL, NULL, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, DWORD(3 * sizeof(WCHAR)));
}

TEST_F(Registry, DwordAndMultiStringValuesKeepTheirTypesAndKeyNamesIgnoreCase)
{
    const DWORD flag = 1;
    ASSERT_EQ(Set(key_, W("ListCriticalVolumes"), REG_DWORD, &flag, sizeof flag), ERROR_SUCCESS);
    const WCHAR writers[] = W("System Writer\0ASR Writer\0");
    ASSERT_EQ(Set(key_, W("DisabledWriters"), REG_MULTI_SZ, writers, sizeof writers), ERROR_SUCCESS);

    DWORD value = kMarker, type = kMarker, size = sizeof value;
    ASSERT_EQ(RegQueryValueExW(key_, W("ListCriticalVolumes"), NULL, &type, reinterpret_cast<BYTE *>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(value, DWORD(1));
    EXPECT_EQ(size, DWORD(4));

    WCHAR list[64];
    size = sizeof list;
    ASSERT_EQ(RegQueryValueExW(key_, W("DisabledWriters"), NULL, &type, reinterpret_cast<BYTE *>(list), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(size, DWORD(sizeof writers));
    EXPECT_EQ(wstr(list, size / sizeof(WCHAR)), wstr(writers, sizeof writers / sizeof(WCHAR)));
    HKEY created = NULL;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(key_, W("Backup Client\\Options"), 0, NULL, 0, KEY_WRITE, NULL, &created,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    RegCloseKey(created);

    ASSERT_EQ(RegCreateKeyExW(key_, W("BACKUP CLIENT\\options\\"), 0, NULL, 0, KEY_READ, NULL, &created,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    RegCloseKey(created);

    HKEY opened = NULL;
    const wstr full = keyPath_ + W("\\backup client\\OPTIONS");
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, full.c_str(), 0, KEY_READ, &opened), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
}

TEST_F(Registry, MissingValuesAndKeysAreFileNotFoundAndValuesCanBeDeleted)
{
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key_, W("Absent"), NULL, NULL, NULL, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(key_, NULL, NULL, NULL, NULL, &size), ERROR_FILE_NOT_FOUND);  // no default value
    HKEY sub = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExW(key_, W("No\\Such\\Key"), 0, KEY_READ, &sub), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(key_, W("Absent")), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(SetString(W("Doomed"), W("x")), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key_, W("DOOMED")), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key_, W("Doomed"), NULL, NULL, NULL, NULL), ERROR_FILE_NOT_FOUND);
    // A key with subkeys is refused; an open key whose key was deleted answers so.
    sub = NULL;
    ASSERT_EQ(RegCreateKeyExW(key_, W("A\\B"), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &sub, NULL), ERROR_SUCCESS);
    RegCloseKey(sub);
    EXPECT_EQ(RegDeleteKeyW(key_, W("A")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(key_, W("a\\b")), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(key_, W("A")), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(key_, W("A")), ERROR_FILE_NOT_FOUND);
    sub = NULL;
    ASSERT_EQ(RegCreateKeyExW(key_, W("Gone"), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &sub, NULL), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeW(key_, W("Gone")), ERROR_SUCCESS);
    const DWORD value = 1;
    EXPECT_EQ(Set(sub, W("X"), REG_DWORD, &value, sizeof value), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(sub), ERROR_SUCCESS);
}

TEST_F(Registry, AccessRightsClosedHandlesAndBadArgumentsAreChecked)
{
    HKEY readOnly = NULL;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_READ, &readOnly), ERROR_SUCCESS);
    const DWORD value = 7;
    EXPECT_EQ(Set(readOnly, W("X"), REG_DWORD, &value, sizeof value), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(readOnly, W("X")), ERROR_ACCESS_DENIED);
    RegCloseKey(readOnly);
    ASSERT_EQ(SetString(W("Value"), W("x")), ERROR_SUCCESS);
    HKEY writeOnly = NULL;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_SET_VALUE, &writeOnly), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(writeOnly, W("Value"), NULL, NULL, NULL, &size), ERROR_ACCESS_DENIED);
    RegCloseKey(writeOnly);
    // Closing twice is an invalid handle.
    HKEY opened = NULL;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_READ, &opened), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(opened), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(opened, W("Value"), NULL, NULL, NULL, &size), ERROR_INVALID_HANDLE);
    {
        BYTE data[4];
        DWORD reserved = 0;
        EXPECT_EQ(RegOpenKeyExW(key_, W("x"), 0, KEY_READ, NULL), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(RegQueryValueExW(key_, W("x"), &reserved, NULL, NULL, NULL), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(RegQueryValueExW(key_, W("x"), NULL, NULL, data, NULL), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(RegSetValueExW(key_, W("x"), 0, REG_BINARY, NULL, 4), ERROR_NOACCESS);
        HKEY opened = NULL;
        const wstr path = W("\\") + keyPath_;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &opened), ERROR_BAD_PATHNAME);
    }
}

TEST_F(Registry, GetValueChecksTheTypeTerminatesAndZeroesWhenAsked)
{
    const wstr text = W("abc");  // stored without its terminator
    ASSERT_EQ(Set(key_, W("Bare"), REG_SZ, text.data(), text.size() * sizeof(WCHAR)), ERROR_SUCCESS);
    WCHAR buffer[8] = {'m', 'a', 'r', 'k', 'm', 'a', 'r', 'k'};
    DWORD size = sizeof buffer;
    DWORD type = kMarker;
    ASSERT_EQ(RegGetValueW(key_, NULL, W("Bare"), RRF_RT_REG_SZ, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, DWORD(4 * sizeof(WCHAR)));
    EXPECT_EQ(wstr(buffer), W("abc"));

    DWORD number = 0;
    size = sizeof number;
    EXPECT_EQ(RegGetValueW(key_, NULL, W("Bare"), RRF_RT_REG_DWORD, NULL, &number, &size), ERROR_UNSUPPORTED_TYPE);
    ASSERT_EQ(SetString(W("Long"), W("0123456789")), ERROR_SUCCESS);
    size = 4 * sizeof(WCHAR);
    EXPECT_EQ(RegGetValueW(key_, NULL, W("Long"), RRF_RT_REG_SZ | RRF_ZEROONFAILURE, NULL, buffer, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, DWORD(11 * sizeof(WCHAR)));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(buffer[i], 0) << i;
    EXPECT_EQ(buffer[4], WCHAR('m')) << "only the size given is zeroed";
}

TEST_F(Registry, GetValueReadsThroughASubkeyAndExpands)
{
    HKEY sub = NULL;
    ASSERT_EQ(RegCreateKeyExW(key_, W("Sub"), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &sub, NULL), ERROR_SUCCESS);
    ASSERT_TRUE(SetEnvironmentVariableW(W("TLV_REG_ROOT"), W("D:\\Data")));
    const wstr text = W("%TLV_REG_ROOT%\\logs");
    ASSERT_EQ(Set(sub, W("LogDir"), REG_EXPAND_SZ, text.c_str(), (text.size() + 1) * sizeof(WCHAR)), ERROR_SUCCESS);
    RegCloseKey(sub);

    WCHAR buffer[64];
    DWORD size = sizeof buffer;
    DWORD type = kMarker;
    ASSERT_EQ(RegGetValueW(key_, W("Sub"), W("LogDir"), RRF_RT_REG_SZ, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(wstr(buffer), W("D:\\Data\\logs"));

    size = sizeof buffer;
    ASSERT_EQ(RegGetValueW(key_, W("Sub"), W("LogDir"), RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, buffer, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_EXPAND_SZ));
    EXPECT_EQ(wstr(buffer), text);

    size = sizeof buffer;
    EXPECT_EQ(RegGetValueW(key_, W("Sub"), W("Missing"), RRF_RT_ANY, NULL, buffer, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegGetValueW(key_, W("NoSub"), W("LogDir"), RRF_RT_ANY, NULL, buffer, &size), ERROR_FILE_NOT_FOUND);
}

} // namespace
