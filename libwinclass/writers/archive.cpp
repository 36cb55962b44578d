// Archive marking of the files that one folder-and-pattern entry of a writer names.
#include <libwinclass/writers/filedesc.h>

#include <liblocal/local.h>

#include <platform/tvplatform.h>

#include <vector>

namespace {

// Paths are built in buffers of this many characters.
constexpr size_t kPathChars = 13312;
// Names are matched against the pattern on UTF-8 copies of this many bytes.
constexpr size_t kMatchBytes = 260;

void MarkOne(const wstr &file)
{
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesW(file.c_str(), attributes | FILE_ATTRIBUTE_ARCHIVE);
}

bool HasWildcard(const WCHAR *text)
{
    for (; *text != 0; ++text) {
        if (*text == '*' || *text == '?')
            return true;
    }
    return false;
}

bool IsDotOrDotDot(const WCHAR *name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

struct FindCloser {
    HANDLE handle;
    ~FindCloser()
    {
        if (handle != INVALID_HANDLE_VALUE)
            FindClose(handle);
    }
};

// A recursive walk searches every entry and matches names itself; a flat one lets the
// search match. Folders still to walk are kept in a list, so that a deep tree costs no
// stack.
void Walk(const wstr &top, const WCHAR *fileSpec, bool recursive)
{
    char pattern[kMatchBytes] = {};
    vo_wcs_to_utf8s(pattern, fileSpec, sizeof pattern, 0);
    std::vector<wstr> folders{top};
    while (!folders.empty()) {
        const wstr folder = std::move(folders.back());
        folders.pop_back();
        const wstr search = folder + W("\\") + (recursive ? wstr(W("*")) : wstr(fileSpec));
        if (search.size() >= kPathChars)
            continue;
        WIN32_FIND_DATAW found = {};
        FindCloser find{FindFirstFileW(search.c_str(), &found)};
        if (find.handle == INVALID_HANDLE_VALUE)
            continue;
        do {
            if (IsDotOrDotDot(found.cFileName))
                continue;
            const wstr entry = folder + W("\\") + found.cFileName;
            if (entry.size() >= kPathChars)
                continue;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                if (recursive)
                    folders.push_back(entry);
                continue;
            }
            if (recursive) {
                char name[kMatchBytes] = {};
                vo_wcs_to_utf8s(name, found.cFileName, sizeof name, 0);
                if (!fmatch(pattern, name))
                    continue;
            }
            MarkOne(entry);
        } while (FindNextFileW(find.handle, &found));
    }
}

} // namespace

void MarkFileForArchive(const vsscr_filedesc *descriptor)
{
    if (descriptor == nullptr || descriptor->path == nullptr || descriptor->filespec == nullptr)
        return;
    const WCHAR *fileSpec = descriptor->filespec;
    const bool recursive = descriptor->recursive != 0;
    std::vector<WCHAR> expanded(kPathChars, 0);
    const DWORD written = ExpandEnvironmentStringsW(descriptor->path, expanded.data(), DWORD(kPathChars));
    if (written == 0 || written > kPathChars)
        return;
    wstr folder(expanded.data());
    if (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    if (!recursive && !HasWildcard(fileSpec)) {
        const wstr file = folder + W("\\") + fileSpec;
        if (file.size() < kPathChars)
            MarkOne(file);
        return;
    }
    Walk(folder, fileSpec, recursive);
}
