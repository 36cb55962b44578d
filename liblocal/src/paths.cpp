// Path text: separators, joining, directory creation, wildcard matching.
#include <liblocal/vofiles.h>
#include <liblocal/xalloc.h>

#include "internal.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

// Whether the last character counts as a separator for sep: sep itself, or either
// Windows separator when sep is one.
template <typename Char>
bool EndsWithSeparator(const Char *text, size_t length, Char sep)
{
    const Char last = text[length - 1];
    if (last == sep)
        return true;
    return (sep == Char('\\') || sep == Char('/')) && (last == Char('\\') || last == Char('/'));
}

template <typename Char>
Char *AddSeparator(Char *text, Char sep)
{
    if (text == nullptr)
        return nullptr;
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    if (length > 0 && !EndsWithSeparator(text, length, sep)) {
        text[length] = sep;
        text[length + 1] = 0;
    }
    return text;
}

// The length of the part of a path that is its root and is never created: "C:\", "C:",
// "\", "\\server\share\", "\\?\C:\", "\\?\Volume{...}\", "\\?\UNC\server\share\".
size_t RootLength(const wstr &path)
{
    const auto skipComponents = [&](size_t from, int count) {
        size_t at = from;
        for (int i = 0; i < count && at < path.size(); ++i) {
            while (at < path.size() && path[at] != '\\')
                ++at;
            if (at < path.size())
                ++at;
        }
        return at;
    };
    const auto isDrive = [&](size_t at) {
        return path.size() >= at + 2 && path[at + 1] == ':' &&
               ((path[at] >= 'A' && path[at] <= 'Z') || (path[at] >= 'a' && path[at] <= 'z'));
    };
    if (path.compare(0, 4, W("\\\\?\\")) == 0) {
        if (path.compare(4, 4, W("UNC\\")) == 0)
            return skipComponents(8, 2);
        if (isDrive(4))
            return path.size() > 6 && path[6] == '\\' ? 7 : 6;
        return skipComponents(4, 1);
    }
    if (path.compare(0, 2, W("\\\\")) == 0)
        return skipComponents(2, 2);
    if (isDrive(0))
        return path.size() > 2 && path[2] == '\\' ? 3 : 2;
    if (!path.empty() && path[0] == '\\')
        return 1;
    return 0;
}

// Makes sure one directory exists. 0 on success, else the Windows error.
DWORD EnsureDirectory(const wstr &directory)
{
    DWORD attributes = GetFileAttributesW(directory.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
    if (CreateDirectoryW(directory.c_str(), nullptr))
        return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    // Another process may have made it in the meantime.
    attributes = GetFileAttributesW(directory.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_SUCCESS;
    return error;
}

std::vector<char32_t> FoldedCodePoints(const char *text)
{
    std::vector<char32_t> codePoints;
    while (*text != '\0')
        codePoints.push_back(vo::FoldCase(vo::NextCodePoint(text)));
    return codePoints;
}

} // namespace

char *adddirsep(char *text, char sep) { return AddSeparator(text, sep); }

WCHAR *adddirsepw(WCHAR *text, WCHAR sep) { return AddSeparator(text, sep); }

char *rmdirsep(char *text, char sep)
{
    if (text == nullptr)
        return nullptr;
    const size_t length = std::strlen(text);
    if (length > 1 && text[length - 1] == sep)
        text[length - 1] = '\0';
    return text;
}

char *path_concat(const char *dir, const char *name)
{
    if (dir == nullptr && name == nullptr)
        return nullptr;
    if (dir == nullptr || *dir == '\0')
        return xstrdup(name);
    if (name == nullptr || *name == '\0')
        return xstrdup(dir);
    const size_t dirLength = std::strlen(dir);
    const bool dirEnds = dir[dirLength - 1] == '\\' || dir[dirLength - 1] == '/';
    const char *rest = name;
    if (dirEnds) {
        while (*rest == '\\' || *rest == '/')
            ++rest;
    } else if (*rest == '\\' || *rest == '/') {
        ++rest;
    }
    const size_t restLength = std::strlen(rest);
    char *joined = static_cast<char *>(xmalloc(dirLength + 1 + restLength + 1));
    std::memcpy(joined, dir, dirLength);
    size_t at = dirLength;
    if (!dirEnds)
        joined[at++] = '\\';
    std::memcpy(joined + at, rest, restLength + 1);
    return joined;
}

int vo_mkdirpath(const char *path, int mode)
{
    (void)mode;
    if (path == nullptr || *path == '\0') {
        vo::SetWin32Error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    try {
        wstr directory = vo::Widen(path);
        for (WCHAR &c : directory) {
            if (c == '/')
                c = '\\';
        }
        const size_t root = RootLength(directory);
        while (directory.size() > root && directory.back() == '\\')
            directory.pop_back();
        if (directory.size() <= root) {
            // Only a root: it exists or it does not, and it cannot be created.
            const DWORD attributes = GetFileAttributesW(directory.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                return 1;
            vo::SetWin32Error(attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_ALREADY_EXISTS);
            return 0;
        }
        for (size_t at = root; at <= directory.size(); ++at) {
            if (at < directory.size() && directory[at] != '\\')
                continue;
            if (at > root && directory[at - 1] == '\\')
                continue; // doubled separator
            const DWORD error = EnsureDirectory(directory.substr(0, at));
            if (error != ERROR_SUCCESS) {
                vo::SetWin32Error(error);
                return 0;
            }
        }
        return 1;
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

int fmatch(const char *pattern, const char *name)
{
    if (pattern == nullptr || name == nullptr)
        return 0;
    try {
        const std::vector<char32_t> wanted = FoldedCodePoints(pattern);
        const std::vector<char32_t> given = FoldedCodePoints(name);
        // Greedy matching with one backtrack point: the last '*' seen.
        size_t p = 0, n = 0;
        size_t starAt = SIZE_MAX, starMatched = 0;
        while (n < given.size()) {
            if (p < wanted.size() && (wanted[p] == '?' || wanted[p] == given[n])) {
                ++p, ++n;
            } else if (p < wanted.size() && wanted[p] == '*') {
                starAt = p++;
                starMatched = n;
            } else if (starAt != SIZE_MAX) {
                p = starAt + 1;
                n = ++starMatched;
            } else {
                return 0;
            }
        }
        while (p < wanted.size() && wanted[p] == '*')
            ++p;
        return p == wanted.size() ? 1 : 0;
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}
