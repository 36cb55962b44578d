// msvcrt: _vsnwprintf and _snwprintf for WCHAR text, with Microsoft's conversion
// letters and sizes (see winsim/wprintf.h). Numbers are converted by the C library's
// narrow snprintf and widened; strings and characters are copied unit by unit.
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

namespace {

// Where the formatted units go: at most `capacity` are stored, every unit is counted.
class Sink {
public:
    Sink(WCHAR *buffer, size_t capacity) : m_buffer(buffer), m_capacity(capacity) {}

    void Put(WCHAR unit)
    {
        if (m_count < m_capacity)
            m_buffer[m_count] = unit;
        ++m_count;
    }
    void Repeat(WCHAR unit, size_t times)
    {
        for (size_t i = 0; i < times; ++i)
            Put(unit);
    }
    void PutAscii(const std::string &text)
    {
        for (const char c : text)
            Put(WCHAR(static_cast<unsigned char>(c)));
    }
    size_t Count() const { return m_count; }

private:
    WCHAR *m_buffer;
    size_t m_capacity;
    size_t m_count = 0;
};

enum class ArgSize { Default, Char, Short, Long, LongLong, Pointer, LongDouble };

struct Conversion {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    int width = 0;
    int precision = -1;  // none
    ArgSize size = ArgSize::Default;
    char type = 0;
};

// The C library's narrow formatting of one number, any length.
std::string CFormat(const char *spec, ...) __attribute__((format(printf, 1, 2)));
std::string CFormat(const char *spec, ...)
{
    char small[128];
    va_list args;
    va_start(args, spec);
    const int needed = vsnprintf(small, sizeof small, spec, args);
    va_end(args);
    if (needed < 0)
        return std::string();
    if (size_t(needed) < sizeof small)
        return std::string(small, size_t(needed));
    std::string text(size_t(needed) + 1, '\0');
    va_start(args, spec);
    vsnprintf(&text[0], text.size(), spec, args);
    va_end(args);
    text.resize(size_t(needed));
    return text;
}

std::string FlagText(const Conversion &c, bool withZero)
{
    std::string flags;
    if (c.left)
        flags += '-';
    if (c.plus)
        flags += '+';
    if (c.space)
        flags += ' ';
    if (c.alternate)
        flags += '#';
    if (withZero && c.zero)
        flags += '0';
    return flags;
}

long long ReadSigned(va_list *args, ArgSize size)
{
    switch (size) {
    case ArgSize::Char:
        return static_cast<signed char>(va_arg(*args, int));
    case ArgSize::Short:
        return static_cast<short>(va_arg(*args, int));
    case ArgSize::LongLong:
        return va_arg(*args, long long);
    case ArgSize::Pointer:
        return static_cast<long long>(va_arg(*args, intptr_t));
    default:
        return va_arg(*args, int);  // int, long and __int32 are all 32 bits on Windows
    }
}

unsigned long long ReadUnsigned(va_list *args, ArgSize size)
{
    switch (size) {
    case ArgSize::Char:
        return static_cast<unsigned char>(va_arg(*args, unsigned int));
    case ArgSize::Short:
        return static_cast<unsigned short>(va_arg(*args, unsigned int));
    case ArgSize::LongLong:
        return va_arg(*args, unsigned long long);
    case ArgSize::Pointer:
        return static_cast<unsigned long long>(va_arg(*args, uintptr_t));
    default:
        return va_arg(*args, unsigned int);
    }
}

void PutPadded(Sink &out, const Conversion &c, size_t length, const WCHAR *wide, const unsigned char *narrow)
{
    const size_t pad = c.width > 0 && size_t(c.width) > length ? size_t(c.width) - length : 0;
    if (!c.left)
        out.Repeat(c.zero ? u'0' : u' ', pad);
    for (size_t i = 0; i < length; ++i)
        out.Put(wide != NULL ? wide[i] : WCHAR(narrow[i]));
    if (c.left)
        out.Repeat(u' ', pad);
}

void PutString(Sink &out, const Conversion &c, bool wideText, va_list *args)
{
    static const char kNull[] = "(null)";
    const void *text = va_arg(*args, const void *);
    const WCHAR *wide = NULL;
    const unsigned char *narrow = NULL;
    if (text == NULL) {
        narrow = reinterpret_cast<const unsigned char *>(kNull);
    } else if (wideText) {
        wide = static_cast<const WCHAR *>(text);
    } else {
        narrow = static_cast<const unsigned char *>(text);
    }
    // The precision bounds what is read, so an unterminated array is fine with it.
    const size_t limit = c.precision >= 0 ? size_t(c.precision) : SIZE_MAX;
    size_t length = 0;
    if (wide != NULL) {
        while (length < limit && wide[length] != 0)
            ++length;
    } else {
        while (length < limit && narrow[length] != 0)
            ++length;
    }
    PutPadded(out, c, length, wide, narrow);
}

void PutChar(Sink &out, const Conversion &c, bool wideChar, va_list *args)
{
    const unsigned int value = va_arg(*args, unsigned int);
    const WCHAR unit = wideChar ? WCHAR(value & 0xFFFF) : WCHAR(value & 0xFF);
    PutPadded(out, c, 1, &unit, NULL);
}

void PutInteger(Sink &out, const Conversion &c, va_list *args)
{
    const std::string spec = "%" + FlagText(c, true) + "*.*ll" + c.type;
    if (c.type == 'd' || c.type == 'i') {
        const long long value = ReadSigned(args, c.size);
        out.PutAscii(CFormat(spec.c_str(), c.width, c.precision, value));
    } else {
        const unsigned long long value = ReadUnsigned(args, c.size);
        out.PutAscii(CFormat(spec.c_str(), c.width, c.precision, value));
    }
}

void PutPointer(Sink &out, const Conversion &c, va_list *args)
{
    const uintptr_t value = reinterpret_cast<uintptr_t>(va_arg(*args, void *));
    char digits[17];
    snprintf(digits, sizeof digits, "%016llX", static_cast<unsigned long long>(value));
    Conversion padding = c;
    padding.zero = false;
    PutPadded(out, padding, 16, NULL, reinterpret_cast<const unsigned char *>(digits));
}

void PutFloat(Sink &out, const Conversion &c, va_list *args)
{
    const double value = va_arg(*args, double);
    const std::string spec = "%" + FlagText(c, false) + ".*" + c.type;
    std::string text = CFormat(spec.c_str(), c.precision, value);

    // msvcrt writes the exponent with at least three digits.
    if (std::isfinite(value) && c.type != 'a' && c.type != 'A') {
        const size_t e = text.find_first_of("eE");
        if (e != std::string::npos && e + 4 == text.size() && (text[e + 1] == '+' || text[e + 1] == '-'))
            text.insert(e + 2, 1, '0');
    }
    const size_t width = c.width > 0 ? size_t(c.width) : 0;
    if (text.size() < width) {
        const size_t pad = width - text.size();
        if (c.left) {
            text.append(pad, ' ');
        } else if (c.zero && std::isfinite(value)) {
            const size_t signLength = !text.empty() && (text[0] == '-' || text[0] == '+' || text[0] == ' ') ? 1 : 0;
            text.insert(signLength, pad, '0');
        } else {
            text.insert(size_t(0), pad, ' ');
        }
    }
    out.PutAscii(text);
}

bool IsDigit(WCHAR unit) { return unit >= u'0' && unit <= u'9'; }

// Reads a width or precision: digits, or '*' taking an int argument.
int ReadCount(const WCHAR *&p, va_list *args)
{
    if (*p == u'*') {
        ++p;
        return va_arg(*args, int);
    }
    long long value = 0;
    while (IsDigit(*p)) {
        value = value * 10 + (*p - u'0');
        if (value > INT_MAX)
            value = INT_MAX;
        ++p;
    }
    return int(value);
}

// Formats into out; false for a format this runtime refuses.
bool Format(Sink &out, const WCHAR *format, va_list *args)
{
    const WCHAR *p = format;
    while (*p != 0) {
        if (*p != u'%') {
            out.Put(*p++);
            continue;
        }
        ++p;
        if (*p == u'%') {
            out.Put(u'%');
            ++p;
            continue;
        }
        Conversion c;
        for (;; ++p) {
            if (*p == u'-')
                c.left = true;
            else if (*p == u'+')
                c.plus = true;
            else if (*p == u' ')
                c.space = true;
            else if (*p == u'#')
                c.alternate = true;
            else if (*p == u'0')
                c.zero = true;
            else
                break;
        }
        c.width = ReadCount(p, args);
        if (c.width < 0) {  // a negative width argument means left alignment
            c.left = true;
            c.width = c.width == INT_MIN ? INT_MAX : -c.width;
        }
        if (*p == u'.') {
            ++p;
            c.precision = ReadCount(p, args);
            if (c.precision < 0)
                c.precision = -1;  // a negative precision argument counts as none
        }
        if (c.left)
            c.zero = false;

        bool narrowPrefix = false;
        bool widePrefix = false;
        if (p[0] == u'h' && p[1] == u'h') {
            c.size = ArgSize::Char;
            narrowPrefix = true;
            p += 2;
        } else if (p[0] == u'h') {
            c.size = ArgSize::Short;
            narrowPrefix = true;
            ++p;
        } else if (p[0] == u'l' && p[1] == u'l') {
            c.size = ArgSize::LongLong;
            p += 2;
        } else if (p[0] == u'l') {
            c.size = ArgSize::Long;
            widePrefix = true;
            ++p;
        } else if (p[0] == u'w') {
            widePrefix = true;
            ++p;
        } else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
            c.size = ArgSize::LongLong;
            p += 3;
        } else if (p[0] == u'I' && p[1] == u'3' && p[2] == u'2') {
            c.size = ArgSize::Long;
            p += 3;
        } else if (p[0] == u'I' || p[0] == u'z' || p[0] == u't' || p[0] == u'j') {
            c.size = ArgSize::Pointer;
            ++p;
        } else if (p[0] == u'L') {
            c.size = ArgSize::LongDouble;
            ++p;
        }

        const WCHAR type = *p;
        if (type == 0)
            return false;
        ++p;
        switch (type) {
        case u'd':
        case u'i':
        case u'u':
        case u'o':
        case u'x':
        case u'X':
            c.type = char(type);
            PutInteger(out, c, args);
            break;
        case u'e':
        case u'E':
        case u'f':
        case u'F':
        case u'g':
        case u'G':
        case u'a':
        case u'A':
            c.type = char(type);
            PutFloat(out, c, args);  // long double is double on Windows
            break;
        case u's':
            PutString(out, c, !narrowPrefix, args);
            break;
        case u'S':
            PutString(out, c, widePrefix, args);
            break;
        case u'c':
            PutChar(out, c, !narrowPrefix, args);
            break;
        case u'C':
            PutChar(out, c, widePrefix, args);
            break;
        case u'p':
            PutPointer(out, c, args);
            break;
        default:  // %n and unknown letters
            return false;
        }
    }
    return true;
}

} // namespace

EXTERN_C int __cdecl _vsnwprintf(WCHAR *buffer, size_t count, const WCHAR *format, va_list argptr)
{
    if (format == NULL || (buffer == NULL && count != 0)) {
        errno = EINVAL;
        return -1;
    }
    Sink out(buffer, count);
    va_list args;
    va_copy(args, argptr);
    bool formatted = false;
    try {
        formatted = Format(out, format, &args);
    } catch (const std::bad_alloc &) {
        // Only very long numbers need memory; without it the output cannot be made.
        va_end(args);
        errno = ENOMEM;
        return -1;
    }
    va_end(args);
    if (!formatted) {
        errno = EINVAL;
        return -1;
    }
    const size_t produced = out.Count();
    if (produced > size_t(INT_MAX))
        return -1;
    if (buffer == NULL)
        return int(produced);
    if (produced > count)
        return -1;
    if (produced < count)
        buffer[produced] = 0;
    return int(produced);
}

EXTERN_C int __cdecl _snwprintf(WCHAR *buffer, size_t count, const WCHAR *format, ...)
{
    va_list args;
    va_start(args, format);
    const int result = _vsnwprintf(buffer, count, format, args);
    va_end(args);
    return result;
}
