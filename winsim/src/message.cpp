// kernel32: FormatMessageW from the system message table, in English. Only messages
// without inserts are kept; the texts are Windows' own, each ending in "\r\n" as the
// message table has them. Codes the system table has no text for (VSS, WBEM...) fail with
// ERROR_MR_MID_NOT_FOUND, as on Windows.
#include "internal.h"

namespace winsim {

namespace {

struct SystemMessage {
    DWORD code;
    const char16_t *text;
};

// Win32 error codes (FACILITY_WIN32 HRESULTs answer with these too).
const SystemMessage kWin32Messages[] = {
    {0, u"The operation completed successfully."},
    {1, u"Incorrect function."},
    {2, u"The system cannot find the file specified."},
    {3, u"The system cannot find the path specified."},
    {4, u"The system cannot open the file."},
    {5, u"Access is denied."},
    {6, u"The handle is invalid."},
    {8, u"Not enough memory resources are available to process this command."},
    {13, u"The data is invalid."},
    {14, u"Not enough memory resources are available to complete this operation."},
    {15, u"The system cannot find the drive specified."},
    {18, u"There are no more files."},
    {32, u"The process cannot access the file because it is being used by another process."},
    {80, u"The file exists."},
    {87, u"The parameter is incorrect."},
    {122, u"The data area passed to a system call is too small."},
    {183, u"Cannot create a file when that file already exists."},
    {203, u"The system could not find the environment option that was entered."},
    {234, u"More data is available."},
    {259, u"No more data is available."},
    {1113, u"No mapping for the Unicode character exists in the target multi-byte code page."},
    {1168, u"Element not found."},
    {4390, u"The file or directory is not a reparse point."},
};

// HRESULTs of other facilities that the system table holds.
const SystemMessage kHresultMessages[] = {
    {0x80004001, u"Not implemented"},
    {0x80004002, u"No such interface supported"},
    {0x80004003, u"Invalid pointer"},
    {0x80004004, u"Operation aborted"},
    {0x80004005, u"Unspecified error"},
    {0x8000FFFF, u"Catastrophic failure"},
    {0x80010106, u"Cannot change thread mode after it is set."},
    {0x80010119, u"Security must be initialized before any interfaces are marshalled or unmarshalled. It "
                 u"cannot be changed once initialized."},
    {0x800401F0, u"CoInitialize has not been called."},
    {0x80040154, u"Class not registered"},
};

const SystemMessage *Find(const SystemMessage *table, size_t count, DWORD code)
{
    for (size_t i = 0; i < count; ++i) {
        if (table[i].code == code)
            return &table[i];
    }
    return NULL;
}

// LANG_NEUTRAL with the default sublanguages, and English.
bool KnownLanguage(DWORD language)
{
    return language == 0 || language == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT) ||
           language == MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT) || language == MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL) ||
           language == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

} // namespace

bool SystemMessageText(DWORD code, wstring16 &text)
{
    const SystemMessage *found = NULL;
    if (HRESULT_FACILITY(code) == FACILITY_WIN32 && (code & 0x80000000u))
        found = Find(kWin32Messages, ARRAYSIZE(kWin32Messages), HRESULT_CODE(code));
    else if (code & 0x80000000u)
        found = Find(kHresultMessages, ARRAYSIZE(kHresultMessages), code);
    else
        found = Find(kWin32Messages, ARRAYSIZE(kWin32Messages), code);
    if (found == NULL)
        return false;
    text = found->text;
    text += u"\r\n";
    return true;
}

namespace {

DWORD FormatFromSystem(DWORD flags, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size, DWORD &length)
{
    length = 0;
    const bool allocate = (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
    if (buffer == NULL)
        return ERROR_INVALID_PARAMETER;
    if (allocate)
        *reinterpret_cast<LPWSTR *>(buffer) = NULL;
    if (flags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) {
        LogNotImplemented("FormatMessageW", "messages from a string or a module");
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM))
        return ERROR_INVALID_PARAMETER;
    if (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) {
        LogNotImplemented("FormatMessageW", "line width control");
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    if (!KnownLanguage(languageId))
        return ERROR_RESOURCE_LANG_NOT_FOUND;
    wstring16 text;
    if (!SystemMessageText(messageId, text))
        return ERROR_MR_MID_NOT_FOUND;

    if (allocate) {
        // nSize is the least number of characters to allocate.
        const size_t units = text.size() + 1 > size ? text.size() + 1 : size;
        LPWSTR block = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, units * sizeof(WCHAR)));
        if (block == NULL)
            return ERROR_NOT_ENOUGH_MEMORY;
        text.copy(block, text.size());
        block[text.size()] = 0;
        *reinterpret_cast<LPWSTR *>(buffer) = block;
    } else {
        if (text.size() + 1 > size)
            return ERROR_INSUFFICIENT_BUFFER;
        text.copy(buffer, text.size());
        buffer[text.size()] = 0;
    }
    length = DWORD(text.size());
    return ERROR_SUCCESS;
}

} // namespace

} // namespace winsim

EXTERN_C DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                     LPWSTR lpBuffer, DWORD nSize, va_list *Arguments)
{
    // System messages here have no inserts, so the arguments are never read.
    (void)lpSource;
    (void)Arguments;
    DWORD length = 0;
    const DWORD error = winsim::FormatFromSystem(dwFlags, dwMessageId, dwLanguageId, lpBuffer, nSize, length);
    return error == ERROR_SUCCESS ? length : winsim::Fail(error, DWORD(0));
}
