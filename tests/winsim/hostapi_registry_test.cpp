// The registry as tests fill and inspect it through winsim/host.h. Linux only.
#include <platform/tvplatform.h>

#include <winsim/host.h>

#include <gtest/gtest.h>

namespace {

const std::u16string kClientKey = u"SOFTWARE\\Tolvane\\Backup Client";

class HostRegistry : public testing::Test {
protected:
    void SetUp() override { winsim::ResetRegistry(); }
};

TEST_F(HostRegistry, ClientSettingsSetFromCppReadThroughAdvapi)
{
    ASSERT_TRUE(winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kClientKey, u"InstallDir", u"C:\\Program Files\\Tolvane"));
    ASSERT_TRUE(winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, kClientKey, u"DisabledWriters",
                                               {u"System Writer", u"ASR Writer"}));
    ASSERT_TRUE(winsim::SetRegistryDword(HKEY_LOCAL_MACHINE, kClientKey, u"ListCriticalVolumes", 1));

    HKEY key = NULL;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("software\\tolvane\\backup client"), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    WCHAR text[64];
    DWORD type = 0, size = sizeof text;
    ASSERT_EQ(RegQueryValueExW(key, W("InstallDir"), NULL, &type, reinterpret_cast<BYTE *>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, DWORD(25 * sizeof(WCHAR)));
    EXPECT_EQ(wstr(text), W("C:\\Program Files\\Tolvane"));

    size = sizeof text;
    ASSERT_EQ(RegQueryValueExW(key, W("DisabledWriters"), NULL, &type, reinterpret_cast<BYTE *>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(wstr(text, size / sizeof(WCHAR)), wstr(W("System Writer\0ASR Writer\0\0"), 26));

    DWORD flag = 0;
    size = sizeof flag;
    ASSERT_EQ(RegQueryValueExW(key, W("ListCriticalVolumes"), NULL, &type, reinterpret_cast<BYTE *>(&flag), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(flag, DWORD(1));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    // Open keys are counted until closed.
    const size_t before = winsim::OpenRegistryKeyCount();
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientKey.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(winsim::OpenRegistryKeyCount(), before + 1);
    RegCloseKey(key);
    EXPECT_EQ(winsim::OpenRegistryKeyCount(), before);
    ASSERT_TRUE(winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, kClientKey, u"SaveOptions", {}));
    std::vector<BYTE> data;
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kClientKey, u"SaveOptions", NULL, &data));
    EXPECT_EQ(data, std::vector<BYTE>(4, 0));
}

TEST_F(HostRegistry, WritesThroughAdvapiAndClassesRootAreVisibleToTheHost)
{
    HKEY key = NULL;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, W("Software\\Test"), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL),
              ERROR_SUCCESS);
    const DWORD value = 42;
    ASSERT_EQ(RegSetValueExW(key, W("Answer"), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), 4),
              ERROR_SUCCESS);
    RegCloseKey(key);
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_CURRENT_USER, u"SOFTWARE\\TEST", u"answer", &type, &data));
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(data, (std::vector<BYTE>{42, 0, 0, 0}));
    EXPECT_FALSE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\TEST", u"answer", &type, &data));
    // Classes root is the machine's classes key.
    ASSERT_TRUE(winsim::SetRegistryString(HKEY_CLASSES_ROOT, u"CLSID\\{0}", u"", u"Test Class"));
    EXPECT_TRUE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, u"Software\\Classes\\CLSID\\{0}"));
    WCHAR text[16];
    DWORD size = sizeof text;
    ASSERT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, W("CLSID\\{0}"), NULL, RRF_RT_REG_SZ, NULL, text, &size), ERROR_SUCCESS);
    EXPECT_EQ(wstr(text), W("Test Class"));
}

TEST_F(HostRegistry, ResetEmptiesTheHivesAndKeysAndValuesCanBeRemoved)
{
    ASSERT_TRUE(winsim::SetRegistryDword(HKEY_LOCAL_MACHINE, kClientKey, u"ListCriticalVolumes", 1));
    HKEY key = NULL;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientKey.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    winsim::ResetRegistry();
    EXPECT_FALSE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, kClientKey));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, W("ListCriticalVolumes"), NULL, NULL, NULL, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    HKEY again = NULL;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientKey.c_str(), 0, KEY_READ, &again), ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(winsim::SetRegistryDword(HKEY_LOCAL_MACHINE, kClientKey + u"\\Deep\\Deeper", u"X", 1));
    EXPECT_TRUE(winsim::DeleteRegistryKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Tolvane"));
    EXPECT_FALSE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, kClientKey + u"\\Deep"));
    EXPECT_TRUE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE"));
    EXPECT_FALSE(winsim::DeleteRegistryKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Tolvane"));
    ASSERT_TRUE(winsim::SetRegistryDword(HKEY_LOCAL_MACHINE, kClientKey, u"ListCriticalVolumes", 1));
    EXPECT_TRUE(winsim::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kClientKey, u"LISTCRITICALVOLUMES"));
    EXPECT_FALSE(winsim::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kClientKey, u"ListCriticalVolumes"));
    EXPECT_TRUE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, kClientKey));
}

} // namespace
