// Text, GUID and whole-file helpers of the requester.
#include "internal.h"

#include <liblocal/vodevices.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace vsscr {

Bstr::Bstr(const wstr &text) : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}

wstr Bstr::str() const
{
    return text_ == nullptr ? wstr() : wstr(text_, SysStringLen(text_));
}

std::string ToUtf8(const WCHAR *text, size_t length)
{
    if (text == nullptr || length == 0)
        return std::string();
    int needed = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::string();
    std::string out(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], needed, nullptr, nullptr);
    return out;
}

std::string ToUtf8(const wstr &text)
{
    return ToUtf8(text.data(), text.size());
}

bool FromUtf8(const std::string &text, wstr *out)
{
    out->clear();
    if (text.empty())
        return true;
    int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    if (needed <= 0)
        return false;
    out->resize(static_cast<size_t>(needed));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &(*out)[0],
                               needed) == needed;
}

std::string GuidTextUtf8(const GUID &id)
{
    char text[40];
    std::snprintf(text, sizeof(text), "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned>(id.Data1), static_cast<unsigned>(id.Data2), static_cast<unsigned>(id.Data3),
                  id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6],
                  id.Data4[7]);
    return text;
}

wstr GuidText(const GUID &id)
{
    std::string narrow = GuidTextUtf8(id);
    return wstr(narrow.begin(), narrow.end());
}

static WCHAR FoldAscii(WCHAR c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<WCHAR>(c - 'A' + 'a') : c;
}

bool SameTextIgnoringCase(const wstr &left, const wstr &right)
{
    if (left.size() != right.size())
        return false;
    for (size_t i = 0; i < left.size(); ++i) {
        if (FoldAscii(left[i]) != FoldAscii(right[i]))
            return false;
    }
    return true;
}

const WCHAR *NullIfEmpty(const wstr &text)
{
    return text.empty() ? nullptr : text.c_str();
}

namespace {

using FileHandle = vo::DeviceHandle;

HRESULT LastErrorResult()
{
    DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

} // namespace

HRESULT ReadWholeFile(const wstr &path, std::string *bytes)
{
    bytes->clear();
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return LastErrorResult();
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size))
        return LastErrorResult();
    // Documents of a few hundred megabytes would be a broken file, not a writer.
    if (size.QuadPart > 512LL * 1024 * 1024)
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    bytes->resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes->size()) {
        DWORD chunk = 0;
        DWORD wanted = static_cast<DWORD>(std::min<size_t>(bytes->size() - done, 1u << 30));
        if (!ReadFile(file.get(), &(*bytes)[done], wanted, &chunk, nullptr))
            return LastErrorResult();
        if (chunk == 0)
            break;
        done += chunk;
    }
    bytes->resize(done);
    return S_OK;
}

HRESULT WriteWholeFile(const wstr &path, const std::string &bytes)
{
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return LastErrorResult();
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk = 0;
        DWORD wanted = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        if (!WriteFile(file.get(), bytes.data() + done, wanted, &chunk, nullptr))
            return LastErrorResult();
        done += chunk;
    }
    return S_OK;
}

HRESULT ReadXmlDocument(const wstr &path, Bstr *document)
{
    std::string bytes;
    HRESULT hr = ReadWholeFile(path, &bytes);
    if (FAILED(hr))
        return hr;
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    if (bytes.find_first_not_of(" \t\r\n") == std::string::npos)
        return VSS_E_INVALID_XML_DOCUMENT;
    wstr text;
    if (!FromUtf8(bytes, &text))
        return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    Bstr made(text);
    if (made.get() == nullptr)
        return E_OUTOFMEMORY;
    *document = std::move(made);
    return S_OK;
}

} // namespace vsscr
