// A client installation directory for the requester tests: the settings key's InstallDir
// pointing at a folder of this process, with or without bin\writerlist.txt.
//
// Under Wine the registry is shared by every process of the prefix and the suites run in
// parallel: a test holds a lock (a file opened without sharing) while it owns the value.
#pragma once

#include <platform/tvplatform.h>
#include <support/markers.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace tvtest {

class InstallDirFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryW(W("C:\\tvtest"), nullptr);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            lock_ = CreateFileW(W("C:\\tvtest\\libtlv-settings.lock"), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
            if (lock_ != INVALID_HANDLE_VALUE || std::chrono::steady_clock::now() > deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_NE(lock_, INVALID_HANDLE_VALUE) << "another test kept the settings key for a minute";
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, W("SOFTWARE\\Tolvane\\Backup Client"), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                                  nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
        RegDeleteValueW(key_, W("InstallDir"));

        installDir_ = W("C:\\tvtest\\install-") + Number(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(installDir_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        const wstr bin = installDir_ + W("\\bin");
        ASSERT_TRUE(CreateDirectoryW(bin.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        DeleteFileW(UserListPath().c_str());
    }

    void TearDown() override
    {
        if (key_ != nullptr) {
            RegDeleteValueW(key_, W("InstallDir"));
            RegCloseKey(key_);
        }
        if (lock_ != INVALID_HANDLE_VALUE)
            CloseHandle(lock_);
    }

    // Points InstallDir at this process's folder.
    void UseInstallDir()
    {
        const DWORD bytes = DWORD((installDir_.size() + 1) * sizeof(WCHAR));
        ASSERT_EQ(RegSetValueExW(key_, W("InstallDir"), 0, REG_SZ, reinterpret_cast<const BYTE *>(installDir_.c_str()),
                                 bytes),
                  ERROR_SUCCESS);
    }

    wstr UserListPath() const { return installDir_ + W("\\bin\\writerlist.txt"); }

    std::string UserListPathUtf8() const
    {
        std::string narrow;
        for (WCHAR c : UserListPath())
            narrow += static_cast<char>(c);  // the folder names are ASCII
        return narrow;
    }

    // Writes the user list file byte for byte.
    void WriteUserList(const std::string &bytes)
    {
        HANDLE file = CreateFileW(UserListPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        const BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
        CloseHandle(file);
        ASSERT_TRUE(ok);
        ASSERT_EQ(written, DWORD(bytes.size()));
    }

    wstr installDir_;
    HKEY key_ = nullptr;
    HANDLE lock_ = INVALID_HANDLE_VALUE;
};

} // namespace tvtest
