// kernel32: FormatMessageW from the system message table, in English. The texts are
// Windows' own, each ending in "\r\n" as the message table has them; one with inserts
// (%1, %2) is given as it stands under FORMAT_MESSAGE_IGNORE_INSERTS. Codes the system
// table has no text for (VSS_E_*, WBEM_E_*: their components keep their own tables) fail
// with ERROR_MR_MID_NOT_FOUND, as on Windows.
#include "internal.h"

namespace winsim {

namespace {

struct SystemMessage {
    DWORD code;
    const char16_t *text;
};

// Win32 error codes (FACILITY_WIN32 HRESULTs answer with these too): every code winsim's
// calls set and the RPC statuses, as the system table words them.
const SystemMessage kWin32Messages[] = {
    {0, u"The operation completed successfully."},
    {1, u"Incorrect function."},
    {2, u"The system cannot find the file specified."},
    {3, u"The system cannot find the path specified."},
    {4, u"The system cannot open the file."},
    {5, u"Access is denied."},
    {6, u"The handle is invalid."},
    {8, u"Not enough memory resources are available to process this command."},
    {12, u"The access code is invalid."},
    {13, u"The data is invalid."},
    {14, u"Not enough memory resources are available to complete this operation."},
    {15, u"The system cannot find the drive specified."},
    {16, u"The directory cannot be removed."},
    {17, u"The system cannot move the file to a different disk drive."},
    {18, u"There are no more files."},
    {19, u"The media is write protected."},
    {21, u"The device is not ready."},
    {24, u"The program issued a command but the command length is incorrect."},
    {25, u"The drive cannot locate a specific area or track on the disk."},
    {32, u"The process cannot access the file because it is being used by another process."},
    {33, u"The process cannot access the file because another process has locked a portion of the file."},
    {38, u"Reached the end of the file."},
    {39, u"The disk is full."},
    {50, u"The request is not supported."},
    {53, u"The network path was not found."},
    {80, u"The file exists."},
    {87, u"The parameter is incorrect."},
    {111, u"The file name is too long."},
    {112, u"There is not enough space on the disk."},
    {120, u"This function is not supported on this system."},
    {122, u"The data area passed to a system call is too small."},
    {123, u"The filename, directory name, or volume label syntax is incorrect."},
    {131, u"An attempt was made to move the file pointer before the beginning of the file."},
    {144, u"The directory is not a subdirectory of the root directory."},
    {145, u"The directory is not empty."},
    {161, u"The specified path is invalid."},
    {170, u"The requested resource is in use."},
    {183, u"Cannot create a file when that file already exists."},
    {203, u"The system could not find the environment option that was entered."},
    {206, u"The filename or extension is too long."},
    {223, u"The file size exceeds the limit allowed and cannot be saved."},
    {234, u"More data is available."},
    {259, u"No more data is available."},
    {267, u"The directory name is invalid."},
    {317, u"The system cannot find message text for message number 0x%1 in the message file for %2."},
    {998, u"Invalid access to memory location."},
    {1004, u"Invalid flags."},
    {1010, u"The configuration registry key is invalid."},
    {1018, u"Illegal operation attempted on a registry key that has been marked for deletion."},
    {1113, u"No mapping for the Unicode character exists in the target multi-byte code page."},
    {1117, u"The request could not be performed because of an I/O device error."},
    {1168, u"Element not found."},
    {1629, u"The data supplied is of the wrong type."},
    {1630, u"Data of this type is not supported."},
    {1705, u"The string universal unique identifier (UUID) is invalid."},
    {1739, u"No network address is available to use to construct a universal unique identifier (UUID)."},
    {1784, u"The supplied user buffer is not valid for the requested operation."},
    {1815, u"The specified resource language ID cannot be found in the image file."},
    {1824, u"A UUID that is valid only on this computer has been allocated."},
    {4390, u"The file or directory is not a reparse point."},
    {5005, u"A cluster node is not available for this operation."},
    {5007, u"The cluster resource could not be found."},
    {5042, u"The cluster node was not found."},
};

// HRESULTs of other facilities that the system table holds (COM, automation).
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
    {0x80020005, u"Type mismatch."},
    {0x80020008, u"Bad variable type."},
    {0x8002000A, u"Out of present range."},
    {0x8002000B, u"Invalid index."},
    {0x8002000D, u"Memory is locked."},
    {0x80040110, u"Class does not support aggregation (or class object is remote)"},
    {0x80040154, u"Class not registered"},
    {0x800401F0, u"CoInitialize has not been called."},
    {0x800401F3, u"Invalid class string"},
    {0x800401F4, u"Invalid interface string"},
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
    if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && text.find(u'%') != wstring16::npos) {
        LogNotImplemented("FormatMessageW", "inserts filled from arguments");
        return ERROR_CALL_NOT_IMPLEMENTED;
    }

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
