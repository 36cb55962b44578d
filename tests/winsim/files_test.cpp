// kernel32 files and the CRT's wide file calls, as Windows documents them. Portable: each
// test works in its own directory under the temporary directory and removes it again.
#include <platform/tvplatform.h>

#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <wchar.h>

#include <gtest/gtest.h>

#include "support/wine.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "support/markers.h"

namespace {

using tvtest::kMarker;
using tvtest::Number;

// Owns a file handle for the length of a test.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle()
    {
        if (valid())
            CloseHandle(handle_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    HANDLE release()
    {
        HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return h;
    }

private:
    HANDLE handle_;
};

// The error a failed call left (the marker when it set none); ERROR_SUCCESS when it succeeded.
template <class Call>
DWORD ErrorOf(Call call)
{
    SetLastError(kMarker);
    return call() ? DWORD(ERROR_SUCCESS) : GetLastError();
}

DWORD AttributesError(const wstr &path)
{
    return ErrorOf([&] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

// errno after a C runtime call that returned -1; 0 when it returned anything else.
template <class Call>
int ErrnoOf(Call call)
{
    errno = 0;
    return call() == -1 ? errno : 0;
}

// errno after _wfopen failed; 0 when it opened the file.
int OpenErrno(const wstr &path, const WCHAR *mode)
{
    errno = 0;
    FILE *file = _wfopen(path.c_str(), mode);
    if (file == nullptr)
        return errno;
    fclose(file);
    return 0;
}

class Files : public testing::Test {
protected:
    void SetUp() override
    {
        WCHAR temp[MAX_PATH];
        const DWORD length = GetTempPathW(MAX_PATH, temp);
        ASSERT_GT(length, DWORD(0));
        ASSERT_LT(length, DWORD(MAX_PATH));
        directory_ = wstr(temp, length) + W("tlvwinsim-") + Number(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(directory_.c_str(), NULL)) << "error " << GetLastError();
    }
    void TearDown() override
    {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            SetFileAttributesW(it->c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileW(it->c_str()))
                RemoveDirectoryW(it->c_str());
        }
        EXPECT_TRUE(RemoveDirectoryW(directory_.c_str())) << "error " << GetLastError();
    }

    // A path in the test's directory, removed after the test.
    wstr Path(const wstr &name)
    {
        const wstr path = directory_ + W("\\") + name;
        made_.push_back(path);
        return path;
    }

    HANDLE Create(const wstr &path, DWORD access, DWORD disposition, DWORD share = FILE_SHARE_READ,
                  DWORD flags = FILE_ATTRIBUTE_NORMAL)
    {
        return CreateFileW(path.c_str(), access, share, NULL, disposition, flags, NULL);
    }

    void WriteWhole(const wstr &path, const std::string &bytes)
    {
        Handle file(Create(path, GENERIC_WRITE, CREATE_ALWAYS));
        ASSERT_TRUE(file.valid()) << "error " << GetLastError();
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, NULL));
        ASSERT_EQ(written, DWORD(bytes.size()));
    }

    // The error a failed open left (the marker when it set none); ERROR_SUCCESS when it opened.
    DWORD OpenError(const wstr &path, DWORD access, DWORD disposition, DWORD share = FILE_SHARE_READ)
    {
        SetLastError(kMarker);
        Handle file(Create(path, access, disposition, share));
        return file.valid() ? DWORD(ERROR_SUCCESS) : GetLastError();
    }

    std::string ReadWhole(const wstr &path)
    {
        Handle file(Create(path, GENERIC_READ, OPEN_EXISTING));
        if (!file.valid())
            return "<cannot open>";
        char buffer[256];
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, NULL))
            return "<cannot read>";
        return std::string(buffer, got);
    }

    wstr directory_;
    std::vector<wstr> made_;
};

// CREATE_NEW makes a file once; CREATE_ALWAYS and OPEN_ALWAYS say when the file existed,
// the one emptying it, the other keeping its contents.
TEST_F(Files, DispositionsSayWhetherTheFileExisted)
{
    const wstr path = Path(W("new.txt"));
    SetLastError(kMarker);
    {
        Handle first(Create(path, GENERIC_WRITE, CREATE_NEW));
        ASSERT_TRUE(first.valid());
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
        EXPECT_EQ(OpenError(path, GENERIC_WRITE, CREATE_NEW, FILE_SHARE_READ | FILE_SHARE_WRITE),
                  DWORD(ERROR_FILE_EXISTS));
    }
    WriteWhole(path, "kept");
    SetLastError(kMarker);
    {
        Handle file(Create(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS));
        ASSERT_TRUE(file.valid());
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    }
    EXPECT_EQ(ReadWhole(path), "kept");
    SetLastError(kMarker);
    {
        Handle file(Create(path, GENERIC_WRITE, CREATE_ALWAYS));
        ASSERT_TRUE(file.valid());
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
        LARGE_INTEGER size;
        ASSERT_TRUE(GetFileSizeEx(file.get(), &size));
        EXPECT_EQ(size.QuadPart, 0);
    }
    SetLastError(kMarker);
    Handle fresh(Create(Path(W("fresh.txt")), GENERIC_WRITE, CREATE_ALWAYS));
    ASSERT_TRUE(fresh.valid());
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
}

TEST_F(Files, FailedOpensSayWhatWasWrong)
{
    const wstr dir = Path(W("dir"));
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), NULL));
    const struct {
        const char *what;
        wstr path;
        DWORD access, disposition, error;
    } cases[] = {
        {"a missing file", directory_ + W("\\absent.txt"), GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"a file in a missing directory", directory_ + W("\\no-dir\\absent.txt"), GENERIC_READ, OPEN_EXISTING,
         ERROR_PATH_NOT_FOUND},
        {"a new file in a missing directory", directory_ + W("\\no-dir\\new.txt"), GENERIC_WRITE, CREATE_ALWAYS,
         ERROR_PATH_NOT_FOUND},
        {"truncating a missing file", directory_ + W("\\none.txt"), GENERIC_WRITE, TRUNCATE_EXISTING,
         ERROR_FILE_NOT_FOUND},
        // A directory opens only with backup semantics.
        {"a directory", dir, GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"a directory made anew", dir, GENERIC_READ, CREATE_NEW, ERROR_FILE_EXISTS},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OpenError(c.path, c.access, c.disposition), c.error) << c.what;
}

TEST_F(Files, TruncateExistingNeedsWriteAccess)
{
    const wstr path = Path(W("trunc.txt"));
    WriteWhole(path, "data");
    if (!tvtest::UnderWine()) {  // Wine truncates through a handle opened only for reading
        EXPECT_EQ(OpenError(path, GENERIC_READ, TRUNCATE_EXISTING), DWORD(ERROR_INVALID_PARAMETER));
        // The check is on the GENERIC_WRITE bit itself, not on the rights it stands for.
        EXPECT_EQ(OpenError(path, FILE_GENERIC_WRITE, TRUNCATE_EXISTING), DWORD(ERROR_INVALID_PARAMETER));
    }
    {
        Handle writable(Create(path, GENERIC_WRITE, TRUNCATE_EXISTING));
        ASSERT_TRUE(writable.valid());
    }
    EXPECT_EQ(ReadWhole(path), "");
}

TEST_F(Files, ReadsAndWritesMoveTheFilePointer)
{
    const wstr path = Path(W("rw.bin"));
    Handle file(Create(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW));
    ASSERT_TRUE(file.valid());
    DWORD count = kMarker;
    ASSERT_TRUE(WriteFile(file.get(), "0123456789", 10, &count, NULL));
    EXPECT_EQ(count, DWORD(10));

    LARGE_INTEGER move, position;
    move.QuadPart = -4;
    ASSERT_TRUE(SetFilePointerEx(file.get(), move, &position, FILE_END));
    EXPECT_EQ(position.QuadPart, 6);
    char buffer[8] = {};
    ASSERT_TRUE(ReadFile(file.get(), buffer, 8, &count, NULL));
    EXPECT_EQ(count, DWORD(4));
    EXPECT_EQ(std::string(buffer, count), "6789");

    // At the end a read succeeds with nothing.
    count = kMarker;
    ASSERT_TRUE(ReadFile(file.get(), buffer, 8, &count, NULL));
    EXPECT_EQ(count, DWORD(0));

    move.QuadPart = -11;
    EXPECT_EQ(ErrorOf([&] { return SetFilePointerEx(file.get(), move, NULL, FILE_END); }), DWORD(ERROR_NEGATIVE_SEEK));

    move.QuadPart = 2;
    ASSERT_TRUE(SetFilePointerEx(file.get(), move, NULL, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.get()));
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(file.get(), &size));
    EXPECT_EQ(size.QuadPart, 2);
    // An overlapped offset positions a synchronous handle.
    ASSERT_TRUE(WriteFile(file.get(), "cdefgh", 6, &count, NULL));
    OVERLAPPED at = {};
    at.Offset = 5;
    ASSERT_TRUE(ReadFile(file.get(), buffer, 4, &count, &at));
    EXPECT_EQ(std::string(buffer, count), "fgh");
}

TEST_F(Files, AHandleDoesOnlyWhatItWasOpenedForAndNothingOnceClosed)
{
    const wstr path = Path(W("access.txt"));
    WriteWhole(path, "x");
    Handle reader(Create(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE));
    ASSERT_TRUE(reader.valid());
    DWORD count = 0;
    EXPECT_EQ(ErrorOf([&] { return WriteFile(reader.get(), "y", 1, &count, NULL); }), DWORD(ERROR_ACCESS_DENIED));

    Handle writer(Create(path, GENERIC_WRITE, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE));
    ASSERT_TRUE(writer.valid());
    char buffer[2];
    EXPECT_EQ(ErrorOf([&] { return ReadFile(writer.get(), buffer, 1, &count, NULL); }), DWORD(ERROR_ACCESS_DENIED));

    // Closing twice is an invalid handle, and so is any use after closing.
    HANDLE raw = writer.release();
    EXPECT_TRUE(CloseHandle(raw));
    EXPECT_EQ(ErrorOf([&] { return CloseHandle(raw); }), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(ErrorOf([&] { return WriteFile(raw, "x", 1, &count, NULL); }), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(Files, AppendOnlyHandlesWriteAtTheEndAndDeleteOnCloseRemovesTheFile)
{
    const wstr path = Path(W("log.txt")), scratch = Path(W("scratch.tmp"));
    WriteWhole(path, "first\n");
    {
        Handle log(Create(path, FILE_APPEND_DATA, OPEN_ALWAYS, FILE_SHARE_READ | FILE_SHARE_WRITE));
        ASSERT_TRUE(log.valid());
        DWORD count = 0;
        ASSERT_TRUE(WriteFile(log.get(), "second\n", 7, &count, NULL));
        Handle file(Create(scratch, GENERIC_WRITE | DELETE, CREATE_NEW, 0, FILE_FLAG_DELETE_ON_CLOSE));
        ASSERT_TRUE(file.valid());
    }
    EXPECT_EQ(ReadWhole(path), "first\nsecond\n");
    EXPECT_EQ(GetFileAttributesW(scratch.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Files, NamesMatchWithoutRegardToCaseOrSlashDirection)
{
    const wstr path = Path(W("MixedCase.TXT"));
    WriteWhole(path, "case");
    EXPECT_EQ(ReadWhole(directory_ + W("\\mixedcase.txt")), "case");
    wstr forward = directory_ + W("/MIXEDCASE.txt");
    EXPECT_NE(GetFileAttributesW(forward.c_str()), INVALID_FILE_ATTRIBUTES);
    const wstr prefixed = W("\\\\?\\") + directory_ + W("\\mixedCASE.txt");
    EXPECT_NE(GetFileAttributesW(prefixed.c_str()), INVALID_FILE_ATTRIBUTES);
    // Win32 drops trailing dots and spaces of a name.
    const wstr dotted = directory_ + W("\\MixedCase.TXT. ");
    EXPECT_NE(GetFileAttributesW(dotted.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Files, ANewOrWrittenFileHasTheArchiveAttribute)
{
    const wstr changed = Path(W("changed.txt"));
    WriteWhole(changed, "x");
    ASSERT_TRUE(SetFileAttributesW(changed.c_str(), FILE_ATTRIBUTE_NORMAL));
    {
        Handle file(Create(changed, GENERIC_WRITE, OPEN_EXISTING));
        DWORD count = 0;
        ASSERT_TRUE(WriteFile(file.get(), "y", 1, &count, NULL));
    }
    EXPECT_EQ(GetFileAttributesW(changed.c_str()), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    TV_SKIP_UNDER_WINE("Wine reports the archive attribute on every file and cannot clear it");
    const wstr path = Path(W("attr.txt"));
    WriteWhole(path, "x");
    EXPECT_EQ(GetFileAttributesW(path.c_str()), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), DWORD(FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(Files, AReadOnlyFileRefusesWritingAndDeletion)
{
    TV_SKIP_UNDER_WINE("Wine keeps read-only as a Unix permission, which does not stop root");
    const wstr path = Path(W("ro.txt"));
    WriteWhole(path, "x");
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), DWORD(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(OpenError(path, GENERIC_WRITE, OPEN_EXISTING), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ErrorOf([&] { return DeleteFileW(path.c_str()); }), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(OpenErrno(path, W("a")), EACCES);
    EXPECT_EQ(OpenError(path, GENERIC_READ, OPEN_EXISTING), DWORD(ERROR_SUCCESS));
}

TEST_F(Files, MissingPathsAndForbiddenCharactersHaveNoAttributes)
{
    EXPECT_EQ(AttributesError(directory_ + W("\\absent")), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(AttributesError(directory_ + W("\\absent\\deeper")), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(AttributesError(directory_ + W("\\a<b.txt")), DWORD(ERROR_INVALID_NAME));
    EXPECT_EQ(ErrorOf([&] { return SetFileAttributesW((directory_ + W("\\absent")).c_str(), FILE_ATTRIBUTE_HIDDEN); }),
              DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(Files, DirectoriesAreMadeAndRemovedWithTheDocumentedErrors)
{
    const wstr sub = Path(W("sub"));
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), NULL));
    EXPECT_EQ(GetFileAttributesW(sub.c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD(FILE_ATTRIBUTE_DIRECTORY));
    const wstr deeper = sub + W("\\a\\b");
    EXPECT_EQ(ErrorOf([&] { return CreateDirectoryW(sub.c_str(), NULL); }), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ErrorOf([&] { return CreateDirectoryW(deeper.c_str(), NULL); }), DWORD(ERROR_PATH_NOT_FOUND));

    const wstr inner = Path(W("sub\\inner.txt"));
    WriteWhole(inner, "x");
    EXPECT_EQ(ErrorOf([&] { return RemoveDirectoryW(sub.c_str()); }), DWORD(ERROR_DIR_NOT_EMPTY));
    EXPECT_EQ(ErrorOf([&] { return RemoveDirectoryW(inner.c_str()); }), DWORD(ERROR_DIRECTORY));
    EXPECT_EQ(ErrorOf([&] { return DeleteFileW(sub.c_str()); }), DWORD(ERROR_ACCESS_DENIED));

    ASSERT_TRUE(DeleteFileW(inner.c_str()));
    EXPECT_EQ(ErrorOf([&] { return DeleteFileW(inner.c_str()); }), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(RemoveDirectoryW(sub.c_str()));
    EXPECT_EQ(ErrorOf([&] { return RemoveDirectoryW(sub.c_str()); }), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(Files, SharingModesAreEnforcedBetweenHandles)
{
    const wstr path = Path(W("shared.txt"));
    WriteWhole(path, "x");
    {
        Handle exclusive(Create(path, GENERIC_READ, OPEN_EXISTING, 0));
        ASSERT_TRUE(exclusive.valid());
        EXPECT_EQ(OpenError(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE),
                  DWORD(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(ErrorOf([&] { return DeleteFileW(path.c_str()); }), DWORD(ERROR_SHARING_VIOLATION));
    }
    // Readers that share reading coexist and keep a writer out.
    Handle first(Create(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ));
    Handle second(Create(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ));
    EXPECT_TRUE(first.valid());
    EXPECT_TRUE(second.valid());
    EXPECT_EQ(OpenError(path, GENERIC_WRITE, OPEN_EXISTING), DWORD(ERROR_SHARING_VIOLATION));
}

TEST_F(Files, TheCurrentDirectoryAnchorsRelativePaths)
{
    WCHAR saved[MAX_PATH];
    const DWORD savedLength = GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_GT(savedLength, DWORD(0));
    ASSERT_TRUE(SetCurrentDirectoryW(directory_.c_str()));
    WCHAR current[MAX_PATH];
    EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, current), DWORD(directory_.size()));
    EXPECT_EQ(_wcsicmp(current, directory_.c_str()), 0);
    // Too small a buffer: the size needed, terminator included.
    EXPECT_EQ(GetCurrentDirectoryW(4, current), DWORD(directory_.size() + 1));

    const wstr path = Path(W("relative.txt"));
    WriteWhole(W("relative.txt"), "here");
    EXPECT_EQ(ReadWhole(path), "here");
    EXPECT_EQ(ReadWhole(W(".\\sub\\..\\relative.txt")), "here");
    ASSERT_TRUE(SetCurrentDirectoryW(saved));
    EXPECT_EQ(ErrorOf([&] { return SetCurrentDirectoryW(path.c_str()); }), DWORD(ERROR_DIRECTORY));
}

TEST_F(Files, FullPathNamesResolveDotsAgainstTheCurrentDirectory)
{
    WCHAR full[MAX_PATH];
    LPWSTR filePart = NULL;
    const DWORD length = GetFullPathNameW(W("C:\\a\\b\\..\\.\\c.txt"), MAX_PATH, full, &filePart);
    EXPECT_EQ(wstr(full), W("C:\\a\\c.txt"));
    EXPECT_EQ(length, DWORD(10));
    ASSERT_NE(filePart, nullptr);
    EXPECT_EQ(wstr(filePart), W("c.txt"));
    EXPECT_EQ(GetFullPathNameW(W("C:\\a\\b"), 4, full, NULL), DWORD(7));
    // The temporary path ends in a backslash.
    const DWORD tempLength = GetTempPathW(MAX_PATH, full);
    ASSERT_GT(tempLength, DWORD(0));
    EXPECT_EQ(full[tempLength - 1], u'\\');
    EXPECT_EQ(GetTempPathW(1, full), tempLength + 1);
}

TEST_F(Files, CrtTextModeWritesCrLfAndReadsItBack)
{
    const wstr path = Path(W("text.txt"));
    FILE *out = _wfopen(path.c_str(), W("w"));
    ASSERT_NE(out, nullptr);
    fputs("one\ntwo\n", out);
    fclose(out);
    EXPECT_EQ(ReadWhole(path), "one\r\ntwo\r\n");

    FILE *in = _wfopen(path.c_str(), W("r"));
    ASSERT_NE(in, nullptr);
    char line[32];
    ASSERT_NE(fgets(line, sizeof line, in), nullptr);
    EXPECT_STREQ(line, "one\n");
    ASSERT_NE(fgets(line, sizeof line, in), nullptr);
    EXPECT_STREQ(line, "two\n");
    EXPECT_EQ(fgets(line, sizeof line, in), nullptr);
    fclose(in);

    FILE *raw = _wfopen(path.c_str(), W("rb"));
    ASSERT_NE(raw, nullptr);
    const size_t got = fread(line, 1, sizeof line, raw);
    fclose(raw);
    EXPECT_EQ(std::string(line, got), "one\r\ntwo\r\n");

    // Reading text stops at a Ctrl+Z.
    WriteWhole(path, "ab\x1A" "cd");
    FILE *stopped = _wfopen(path.c_str(), W("rt"));
    ASSERT_NE(stopped, nullptr);
    const size_t before = fread(line, 1, sizeof line, stopped);
    fclose(stopped);
    EXPECT_EQ(std::string(line, before), "ab");
}

TEST_F(Files, CrtStatDescribesFilesAndDirectories)
{
    const wstr path = Path(W("stat.txt"));
    WriteWhole(path, "12345");
    struct _stat64 status;
    memset(&status, 0xCC, sizeof status);
    ASSERT_EQ(_wstat64(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_size, 5);
    EXPECT_EQ(status.st_mode & _S_IFMT, _S_IFREG);
    EXPECT_NE(status.st_mode & _S_IWRITE, 0);
    EXPECT_NE(status.st_mtime, 0);

    ASSERT_EQ(_wstat64(directory_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & _S_IFMT, _S_IFDIR);

    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(_wstat64(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & _S_IWRITE, 0);

    const wstr absent = Path(W("absent")), trailing = directory_ + W("\\");
    EXPECT_EQ(ErrnoOf([&] { return _wstat64(absent.c_str(), &status); }), ENOENT);
    // A trailing separator is refused except on a root.
    EXPECT_EQ(ErrnoOf([&] { return _wstat64(trailing.c_str(), &status); }), ENOENT);
    EXPECT_EQ(_wstat64(W("C:\\"), &status), 0);
}

TEST_F(Files, CrtOpenDirectoryAndRemovalCallsFailWithTheDocumentedErrno)
{
    EXPECT_EQ(OpenErrno(Path(W("absent.txt")), W("r")), ENOENT);
    EXPECT_EQ(OpenErrno(directory_ + W("\\no\\x.txt"), W("w")), ENOENT);
    EXPECT_EQ(OpenErrno(directory_, W("r")), EACCES);
    EXPECT_EQ(OpenErrno(Path(W("x.txt")), W("q")), EINVAL);
    const wstr sub = Path(W("crtdir"));
    const wstr deeper = sub + W("\\a\\b");
    EXPECT_EQ(_wmkdir(sub.c_str()), 0);
    EXPECT_EQ(ErrnoOf([&] { return _wmkdir(sub.c_str()); }), EEXIST);
    EXPECT_EQ(ErrnoOf([&] { return _wmkdir(deeper.c_str()); }), ENOENT);

    const wstr file = Path(W("crtdir\\f.txt"));
    WriteWhole(file, "x");
    EXPECT_EQ(_waccess(file.c_str(), 0), 0);
    EXPECT_EQ(_waccess(file.c_str(), 6), 0);
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ErrnoOf([&] { return _waccess(file.c_str(), 2); }), EACCES);
    EXPECT_EQ(ErrnoOf([&] { return _wunlink(file.c_str()); }), EACCES);
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(_wremove(file.c_str()), 0);
    EXPECT_EQ(ErrnoOf([&] { return _waccess(file.c_str(), 0); }), ENOENT);
    EXPECT_EQ(ErrnoOf([&] { return _wunlink(file.c_str()); }), ENOENT);
}

TEST_F(Files, ComputerNamesFollowTheBufferRules)
{
    DWORD size = 0;
    EXPECT_EQ(ErrorOf([&] { return GetComputerNameExW(ComputerNameDnsHostname, NULL, &size); }),
              DWORD(ERROR_MORE_DATA));
    ASSERT_GT(size, DWORD(1));
    std::vector<WCHAR> name(size);
    DWORD length = size;
    ASSERT_TRUE(GetComputerNameExW(ComputerNameDnsHostname, name.data(), &length));
    EXPECT_EQ(length, size - 1);
    EXPECT_EQ(name[length], 0);

    WCHAR netbios[MAX_COMPUTERNAME_LENGTH + 1];
    length = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(netbios, &length));
    EXPECT_LE(length, DWORD(MAX_COMPUTERNAME_LENGTH));
    length = 1;
    EXPECT_EQ(ErrorOf([&] { return GetComputerNameW(netbios, &length); }), DWORD(ERROR_BUFFER_OVERFLOW));
}

} // namespace
