// The client's product settings as the registry holds them.
#include <libtlv/tlv.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const WCHAR kKey[] = W("SOFTWARE\\Tolvane\\Backup Client");

// Under Wine the registry is shared by every process of the prefix, and the suite's tests
// run in parallel processes: each test holds this lock (a file opened without sharing)
// while it owns the settings key.
class SettingsKeyLock {
public:
    SettingsKeyLock()
    {
        CreateDirectoryW(W("C:\\tvtest"), nullptr);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            file_ = CreateFileW(W("C:\\tvtest\\libtlv-settings.lock"), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file_ != INVALID_HANDLE_VALUE || std::chrono::steady_clock::now() > deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~SettingsKeyLock()
    {
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
    }
    SettingsKeyLock(const SettingsKeyLock &) = delete;
    SettingsKeyLock &operator=(const SettingsKeyLock &) = delete;
    bool held() const { return file_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

// Writes the values of the settings key through the registry API, and removes the ones
// the tests use before and after each test (the registry outlives the test process).
class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lock_.held()) << "another test kept the settings key for a minute";
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_WOW64_64KEY, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
        RemoveValues();
    }
    void TearDown() override
    {
        RemoveValues();
        RegCloseKey(key_);
    }

    void RemoveValues()
    {
        for (const WCHAR *name : {W("InstallDir"), W("DisabledWriters"), W("ListCriticalVolumes"), W("SaveOptions")})
            RegDeleteValueW(key_, name);
    }

    void SetBytes(const WCHAR *name, DWORD type, const void *data, size_t bytes)
    {
        ASSERT_EQ(RegSetValueExW(key_, name, 0, type, static_cast<const BYTE *>(data), DWORD(bytes)), ERROR_SUCCESS);
    }

    // A string with its terminator, as RegSetValueExW callers store it.
    void SetString(const WCHAR *name, const wstr &text, DWORD type = REG_SZ)
    {
        SetBytes(name, type, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    }

    void SetMultiString(const WCHAR *name, const std::vector<wstr> &texts)
    {
        wstr data;
        for (const wstr &text : texts) {
            data += text;
            data += WCHAR(0);
        }
        data += WCHAR(0);
        SetBytes(name, REG_MULTI_SZ, data.data(), data.size() * sizeof(WCHAR));
    }

    void SetDword(const WCHAR *name, DWORD value) { SetBytes(name, REG_DWORD, &value, sizeof value); }

    SettingsKeyLock lock_;
    HKEY key_ = nullptr;
};

std::string InstallDir()
{
    std::unique_ptr<char, decltype(&std::free)> directory(find_tlvdir_from_install_key_in_registry(), &std::free);
    return directory ? directory.get() : "<null>";
}

TEST_F(Settings, InstallDirAsUtf8ExpandedOrAbsent)
{
    EXPECT_EQ(InstallDir(), "<null>") << "absent";
    SetString(W("InstallDir"), W("C:\\Program Files\\Tolvane\\Backup Client"));
    EXPECT_EQ(InstallDir(), "C:\\Program Files\\Tolvane\\Backup Client");
    SetString(W("InstallDir"), W("D:\\Logiciels\\Sauvegarde \u00E0 chaud"));
    EXPECT_EQ(InstallDir(), "D:\\Logiciels\\Sauvegarde \xC3\xA0 chaud");
    const wstr text = W("C:\\Tolvane");
    SetBytes(W("InstallDir"), REG_SZ, text.data(), text.size() * sizeof(WCHAR));
    EXPECT_EQ(InstallDir(), "C:\\Tolvane") << "no terminator stored";

    SetEnvironmentVariableW(W("TVTEST_DRIVE"), W("E:"));
    SetString(W("InstallDir"), W("%TVTEST_DRIVE%\\Tolvane"), REG_EXPAND_SZ);
    EXPECT_EQ(InstallDir(), "E:\\Tolvane");
    SetDword(W("InstallDir"), 1);
    EXPECT_EQ(InstallDir(), "<null>");
    SetString(W("InstallDir"), W(""));
    EXPECT_EQ(InstallDir(), "<null>");
}

TEST_F(Settings, DisabledWritersMatchWithoutRegardToCase)
{
    EXPECT_EQ(is_writer_disabled("System Writer"), 0) << "absent";
    SetMultiString(W("DisabledWriters"), {W("System Writer"), W("  SqlServerWriter "), W(""), W("Dfs\u00C9crivain")});
    EXPECT_EQ(is_writer_disabled("System Writer"), 1);
    EXPECT_EQ(is_writer_disabled("SYSTEM WRITER"), 1);
    EXPECT_EQ(is_writer_disabled("sqlserverwriter"), 1) << "white space around an entry is ignored";
    EXPECT_EQ(is_writer_disabled("dfs\xC3\xA9" "crivain"), 1);
    EXPECT_EQ(is_writer_disabled("Registry Writer"), 0);
    EXPECT_EQ(is_writer_disabled("System"), 0) << "whole names only";
    EXPECT_EQ(is_writer_disabled(""), 0) << "an empty entry disables nothing";
    EXPECT_EQ(is_writer_disabled(nullptr), 0);
    SetString(W("DisabledWriters"), W("WMI Writer"));
    EXPECT_EQ(is_writer_disabled("wmi writer"), 1);
    EXPECT_EQ(is_writer_disabled("System Writer"), 0);
}

TEST_F(Settings, ListCriticalVolumesIsANonZeroDword)
{
    EXPECT_EQ(list_critical_volumes(), 0) << "absent";
    SetDword(W("ListCriticalVolumes"), 1);
    EXPECT_EQ(list_critical_volumes(), 1);
    SetDword(W("ListCriticalVolumes"), 0x100);
    EXPECT_EQ(list_critical_volumes(), 1);
    SetDword(W("ListCriticalVolumes"), 0);
    EXPECT_EQ(list_critical_volumes(), 0);
    SetString(W("ListCriticalVolumes"), W("1"));
    EXPECT_EQ(list_critical_volumes(), 0) << "a string is not the flag";
}

TEST_F(Settings, SystemWriterServiceOptionAmongTheSaveOptions)
{
    EXPECT_EQ(syswriter_win32_sys_sercomp_userdef(), 0) << "absent";
    SetMultiString(W("SaveOptions"), {W("VSS:*=off"), W("VSS:TLV_SYS_WRITER_WIN32_SERVCOMP_USER=no")});
    EXPECT_EQ(syswriter_win32_sys_sercomp_userdef(), 0);
    SetMultiString(W("SaveOptions"), {W("VSS:*=off"), W("vss:tlv_sys_writer_win32_servcomp_user=YES")});
    EXPECT_EQ(syswriter_win32_sys_sercomp_userdef(), 1);
    SetString(W("SaveOptions"), W("VSS:TLV_SYS_WRITER_WIN32_SERVCOMP_USER=yes"));
    EXPECT_EQ(syswriter_win32_sys_sercomp_userdef(), 1);
    SetMultiString(W("SaveOptions"), {W("XVSS:TLV_SYS_WRITER_WIN32_SERVCOMP_USER=yes")});
    EXPECT_EQ(syswriter_win32_sys_sercomp_userdef(), 0) << "the whole option, not a part of an entry";
}

TEST_F(Settings, SettingsDoNotLeakOpenKeys)
{
    // Many reads in a row: a key left open on any path would pile up (winsim counts them;
    // here the reads must simply keep answering).
    SetMultiString(W("DisabledWriters"), {W("System Writer")});
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(is_writer_disabled("System Writer"), 1);
        ASSERT_EQ(list_critical_volumes(), 0);
    }
}

} // namespace
