#include <libwinclass/strings/text.h>

#include <climits>
#include <cstring>
#include <new>

namespace tvstr {

namespace {

// What a BSTR can hold, and what the code-page conversions can count.
const size_t kMaxUnits = 0x3FFFFFF0;

// A failed attempt must not disturb the caller's last error.
class LastErrorKeeper {
public:
    LastErrorKeeper() : m_saved(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(m_saved); }
    LastErrorKeeper(const LastErrorKeeper &) = delete;
    LastErrorKeeper &operator=(const LastErrorKeeper &) = delete;

private:
    DWORD m_saved;
};

} // namespace

void RaiseOutOfMemory()
{
    _com_issue_error(E_OUTOFMEMORY);
    // A handler installed with _set_com_error_handler may return; the caller cannot go on.
    throw _com_error(E_OUTOFMEMORY);
}

char *NewBytes(size_t size)
{
    char *block = new (std::nothrow) char[size];
    if (block == NULL)
        RaiseOutOfMemory();
    return block;
}

int CompareUnits(const WCHAR *left, size_t leftUnits, const WCHAR *right, size_t rightUnits)
{
    const size_t common = leftUnits < rightUnits ? leftUnits : rightUnits;
    for (size_t i = 0; i < common; ++i) {
        if (left[i] != right[i])
            return left[i] < right[i] ? -1 : 1;
    }
    return leftUnits < rightUnits ? -1 : (leftUnits == rightUnits ? 0 : 1);
}

_bstr_t AttachBuffer(BSTR text)
{
    try {
        return _bstr_t(text, false);
    } catch (const std::bad_alloc &) {
        SysFreeString(text);
    }
    RaiseOutOfMemory();
}

void AttachInto(_bstr_t &target, BSTR text)
{
    try {
        target.Attach(text);
        return;
    } catch (const std::bad_alloc &) {
        SysFreeString(text);
    }
    RaiseOutOfMemory();
}

_bstr_t MakeBuffer(const WCHAR *text, size_t units)
{
    if (units > kMaxUnits)
        RaiseOutOfMemory();
    BSTR copy = SysAllocStringLen(text, UINT(units));
    if (copy == NULL)
        RaiseOutOfMemory();
    return AttachBuffer(copy);
}

_bstr_t MakeNullBuffer() { return AttachBuffer(NULL); }

_bstr_t JoinBuffer(const WCHAR *first, size_t firstUnits, const WCHAR *middle, size_t middleUnits,
                   const WCHAR *last, size_t lastUnits)
{
    if (firstUnits > kMaxUnits || middleUnits > kMaxUnits || lastUnits > kMaxUnits ||
        firstUnits + middleUnits + lastUnits > kMaxUnits)
        RaiseOutOfMemory();
    BSTR joined = SysAllocStringLen(NULL, UINT(firstUnits + middleUnits + lastUnits));
    if (joined == NULL)
        RaiseOutOfMemory();
    WCHAR *out = joined;
    if (firstUnits > 0)
        std::memcpy(out, first, firstUnits * sizeof(WCHAR));
    out += firstUnits;
    if (middleUnits > 0)
        std::memcpy(out, middle, middleUnits * sizeof(WCHAR));
    out += middleUnits;
    if (lastUnits > 0)
        std::memcpy(out, last, lastUnits * sizeof(WCHAR));
    out[lastUnits] = 0;
    return AttachBuffer(joined);
}

size_t Utf8Length(const WCHAR *text, size_t units)
{
    if (units == 0)
        return 0;
    if (units > kMaxUnits)
        RaiseOutOfMemory();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, int(units), NULL, 0, NULL, NULL);
    if (bytes <= 0)
        RaiseOutOfMemory();  // the conversion fails for nothing else
    return size_t(bytes);
}

void EncodeUtf8(const WCHAR *text, size_t units, char *out, size_t bytes)
{
    if (units > 0 && WideCharToMultiByte(CP_UTF8, 0, text, int(units), out, int(bytes), NULL, NULL) != int(bytes))
        RaiseOutOfMemory();
    out[bytes] = '\0';
}

_bstr_t WideFromUtf8(const char *bytes, size_t count, bool &wellFormed)
{
    wellFormed = true;
    if (count > kMaxUnits)
        RaiseOutOfMemory();
    if (IsAscii(bytes, count)) {
        BSTR wide = SysAllocStringLen(NULL, UINT(count));
        if (wide == NULL)
            RaiseOutOfMemory();
        for (size_t i = 0; i < count; ++i)
            wide[i] = WCHAR(bytes[i]);
        wide[count] = 0;
        return AttachBuffer(wide);
    }
    DWORD flags = MB_ERR_INVALID_CHARS;
    int units;
    {
        LastErrorKeeper keeper;
        units = MultiByteToWideChar(CP_UTF8, flags, bytes, int(count), NULL, 0);
    }
    if (units <= 0) {
        wellFormed = false;
        flags = 0;
        units = MultiByteToWideChar(CP_UTF8, flags, bytes, int(count), NULL, 0);
        if (units <= 0)
            RaiseOutOfMemory();
    }
    BSTR wide = SysAllocStringLen(NULL, UINT(units));
    if (wide == NULL)
        RaiseOutOfMemory();
    if (MultiByteToWideChar(CP_UTF8, flags, bytes, int(count), wide, units) != units) {
        SysFreeString(wide);
        RaiseOutOfMemory();
    }
    wide[units] = 0;
    return AttachBuffer(wide);
}

} // namespace tvstr
