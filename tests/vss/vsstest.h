// Helpers of the requester suites: a scratch directory and whole files, through the
// Windows calls (on winsim, inside its sandbox), and the lookups and injected failures the
// session suites share.
#pragma once

#include <liblocal/testing.h>
#include <platform/tvplatform.h>
#include <vssrequester/vsscr.h>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace vsstest {

using tvtest::Wide;

inline std::string Narrow(const wstr &wide)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(size_t(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &narrow[0], bytes, nullptr, nullptr);
    return narrow;
}

// The whole content of a file; false when it cannot be read.
inline bool ReadFileBytes(const wstr &path, std::string *content)
{
    content->clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        content->append(chunk, got);
    CloseHandle(file);
    return true;
}

inline bool WriteFileBytes(const wstr &path, const std::string &content)
{
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, content.data(), DWORD(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

inline bool SameGuid(const GUID &left, const GUID &right) { return IsEqualGUID(left, right) != 0; }

inline std::shared_ptr<CVssCrWriter> WriterNamed(CVssCr *requester, const char *name)
{
    wstr wide = Wide(name);
    std::shared_ptr<CVssCrWriter> writer;
    EXPECT_EQ(requester->GetWriterByName(wide, writer), 0) << name;
    return writer;
}

inline std::shared_ptr<CVssWriterComp> ComponentNamed(const std::shared_ptr<CVssCrWriter> &writer, const char *name)
{
    std::shared_ptr<CVssWriterComp> component;
    EXPECT_EQ(writer->GetCompByName(Wide(name), component), 0) << name;
    return component;
}

// A VSS call that fails: IVssBackupComponents::<method>, for the argument (empty: any).
struct InjectedFailure {
    const char *method;
    const char16_t *argument;
    HRESULT hresult;
};
inline void PrintTo(const InjectedFailure &failure, std::ostream *out) { *out << failure.method; }
inline std::string FailureName(const testing::TestParamInfo<InjectedFailure> &info) { return info.param.method; }

inline bool FileExists(const wstr &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A directory of its own under the temporary directory, emptied and removed afterwards.
class ScratchDirectory {
public:
    ScratchDirectory()
    {
        WCHAR temp[MAX_PATH];
        const DWORD length = GetTempPathW(MAX_PATH, temp);
        static unsigned made = 0;
        std::string suffix = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made);
        directory_ = wstr(temp, length) + W("vsscr-") + Wide(suffix);
        created_ = CreateDirectoryW(directory_.c_str(), nullptr) != FALSE;
    }
    ~ScratchDirectory()
    {
        for (const wstr &path : made_)
            DeleteFileW(path.c_str());
        RemoveDirectoryW(directory_.c_str());
    }
    bool created() const { return created_; }
    wstr Path(const wstr &name)
    {
        wstr path = directory_ + W("\\") + name;
        made_.push_back(path);
        return path;
    }

private:
    wstr directory_;
    bool created_ = false;
    std::vector<wstr> made_;
};

} // namespace vsstest
