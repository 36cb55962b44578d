// Messages: rendering a format with tagged arguments, and printing.
#include <liblocal/messages.h>
#include <liblocal/output.h>
#include <liblocal/xalloc.h>

#include "internal.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

struct vo_msg {
    int number;
    int code;
    char *text;
};

namespace {

const char kNullText[] = "(null)";

// Widths and precisions beyond this are taken as this: a message is not a place for
// megabytes of padding.
constexpr long long kMaxWidth = 4096;

// The pairs (tag, text) that follow a format.
class TaggedArguments {
public:
    explicit TaggedArguments(va_list args) { va_copy(args_, args); }
    ~TaggedArguments() { va_end(args_); }
    TaggedArguments(const TaggedArguments &) = delete;
    TaggedArguments &operator=(const TaggedArguments &) = delete;

    // The next pair's text as it is to be rendered; never NULL.
    std::string Next()
    {
        const int tag = va_arg(args_, int);
        const char *text = va_arg(args_, const char *);
        if (text == nullptr)
            return kNullText;
        std::string value(text);
        if (tag == VO_ARG_ERRTEXT) {
            while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ' ||
                                      value.back() == '\t'))
                value.pop_back();
        }
        return value;
    }

private:
    va_list args_;
};

// A number read from an argument text: decimal or "0x" hexadecimal, with a sign, within
// 64 bits, white space around it allowed.
bool ParseNumber(const std::string &text, uint64_t &bits)
{
    const char *p = text.c_str();
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && std::isxdigit(static_cast<unsigned char>(p[2]))) {
        base = 16;
        p += 2;
    }
    if (!std::isxdigit(static_cast<unsigned char>(*p)))
        return false;
    uint64_t magnitude = 0;
    for (; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && std::isxdigit(c))
            digit = (c | 0x20) - 'a' + 10;
        else
            break;
        if (magnitude > (UINT64_MAX - uint64_t(digit)) / uint64_t(base))
            return false;
        magnitude = magnitude * uint64_t(base) + uint64_t(digit);
    }
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        ++p;
    if (*p != '\0')
        return false;
    if (negative && magnitude > (uint64_t(1) << 63))
        return false;
    bits = negative ? ~magnitude + 1 : magnitude;
    return true;
}

bool ParseFloat(const std::string &text, double &value)
{
    const char *begin = text.c_str();
    char *end = nullptr;
    value = std::strtod(begin, &end);
    if (end == begin)
        return false;
    while (*end == ' ' || *end == '\t' || *end == '\r' || *end == '\n')
        ++end;
    return *end == '\0';
}

// One conversion of the format, as parsed.
struct Conversion {
    std::string flags;
    bool hasWidth = false;
    long long width = 0;
    bool hasPrecision = false;
    long long precision = 0;
    int lengthBits = 32; // the Windows size of the argument: 8, 16, 32 or 64
    char type = 0;
};

// Pads text to the conversion's width with spaces (left-aligned with '-').
void AppendPadded(std::string &out, const std::string &text, const Conversion &conversion)
{
    const size_t width = conversion.hasWidth && conversion.width > 0 ? size_t(conversion.width) : 0;
    const size_t padding = text.size() < width ? width - text.size() : 0;
    const bool left = conversion.flags.find('-') != std::string::npos;
    if (!left)
        out.append(padding, ' ');
    out += text;
    if (left)
        out.append(padding, ' ');
}

// The printf specification of a conversion with our own length and type.
std::string Specification(const Conversion &conversion, const char *length, char type)
{
    std::string spec = "%" + conversion.flags;
    if (conversion.hasWidth)
        spec += std::to_string(conversion.width);
    if (conversion.hasPrecision)
        spec += "." + std::to_string(conversion.precision);
    spec += length;
    spec += type;
    return spec;
}

template <typename Value>
std::string FormatOne(const std::string &spec, Value value)
{
    const int length = std::snprintf(nullptr, 0, spec.c_str(), value);
    if (length <= 0)
        return std::string();
    std::string text(size_t(length) + 1, '\0');
    std::snprintf(&text[0], text.size(), spec.c_str(), value);
    text.resize(size_t(length));
    return text;
}

std::string Utf8Of(char32_t codePoint)
{
    std::string out;
    if (codePoint < 0x80) {
        out += char(codePoint);
    } else if (codePoint < 0x800) {
        out += char(0xC0 | (codePoint >> 6));
        out += char(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += char(0xE0 | (codePoint >> 12));
        out += char(0x80 | ((codePoint >> 6) & 0x3F));
        out += char(0x80 | (codePoint & 0x3F));
    } else {
        out += char(0xF0 | (codePoint >> 18));
        out += char(0x80 | ((codePoint >> 12) & 0x3F));
        out += char(0x80 | ((codePoint >> 6) & 0x3F));
        out += char(0x80 | (codePoint & 0x3F));
    }
    return out;
}

// The leading part of text of at most maxBytes bytes that ends on a character boundary.
std::string Utf8Prefix(const std::string &text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

void RenderConversion(std::string &out, Conversion &conversion, const std::string &text)
{
    uint64_t bits = 0;
    double real = 0;
    switch (conversion.type) {
    case 'd':
    case 'i':
    case 'u':
    case 'o':
    case 'x':
    case 'X': {
        if (!ParseNumber(text, bits)) {
            AppendPadded(out, text, conversion);
            return;
        }
        const bool isSigned = conversion.type == 'd' || conversion.type == 'i';
        long long signedValue;
        unsigned long long unsignedValue;
        switch (conversion.lengthBits) {
        case 8:
            signedValue = int8_t(bits), unsignedValue = uint8_t(bits);
            break;
        case 16:
            signedValue = int16_t(bits), unsignedValue = uint16_t(bits);
            break;
        case 32:
            signedValue = int32_t(bits), unsignedValue = uint32_t(bits);
            break;
        default:
            signedValue = int64_t(bits), unsignedValue = bits;
            break;
        }
        const std::string spec = Specification(conversion, "ll", conversion.type);
        out += isSigned ? FormatOne(spec, signedValue) : FormatOne(spec, unsignedValue);
        return;
    }
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        if (!ParseFloat(text, real)) {
            AppendPadded(out, text, conversion);
            return;
        }
        out += FormatOne(Specification(conversion, "", conversion.type), real);
        return;
    case 'c':
    case 'C':
        if (ParseNumber(text, bits)) {
            const uint32_t codePoint = uint32_t(bits);
            const bool valid = codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
            AppendPadded(out, Utf8Of(valid ? codePoint : 0xFFFD), conversion);
        } else {
            const char *p = text.c_str();
            AppendPadded(out, text.empty() ? std::string() : Utf8Of(vo::NextCodePoint(p)), conversion);
        }
        return;
    case 'n':
        return;
    default: // s, S, p
        if (conversion.hasPrecision && conversion.precision >= 0)
            AppendPadded(out, Utf8Prefix(text, size_t(conversion.precision)), conversion);
        else
            AppendPadded(out, text, conversion);
        return;
    }
}

// A '*' width or precision: the next pair read as a number.
long long StarValue(TaggedArguments &arguments)
{
    uint64_t bits = 0;
    return ParseNumber(arguments.Next(), bits) ? int32_t(bits) : 0;
}

std::string Render(const char *format, va_list args)
{
    if (format == nullptr)
        return kNullText;
    TaggedArguments arguments(args);
    std::string out;
    const char *p = format;
    while (*p != '\0') {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        const char *start = p++;
        if (*p == '%') {
            out += '%';
            ++p;
            continue;
        }
        Conversion conversion;
        while (*p != '\0' && std::strchr("-+ #0'", *p) != nullptr)
            conversion.flags += *p++;
        if (*p == '*') {
            ++p;
            conversion.hasWidth = true;
            conversion.width = StarValue(arguments);
            if (conversion.width < 0) {
                conversion.flags += '-';
                conversion.width = -conversion.width;
            }
            conversion.width = std::min(conversion.width, kMaxWidth);
        } else if (*p >= '0' && *p <= '9') {
            conversion.hasWidth = true;
            for (; *p >= '0' && *p <= '9'; ++p)
                conversion.width = std::min(conversion.width * 10 + (*p - '0'), kMaxWidth);
        }
        if (*p == '.') {
            ++p;
            conversion.hasPrecision = true;
            if (*p == '*') {
                ++p;
                conversion.precision = std::min(StarValue(arguments), kMaxWidth);
                if (conversion.precision < 0)
                    conversion.hasPrecision = false;
            } else {
                for (; *p >= '0' && *p <= '9'; ++p)
                    conversion.precision = std::min(conversion.precision * 10 + (*p - '0'), kMaxWidth);
            }
        }
        // Length modifiers, with the sizes Windows gives them.
        if (p[0] == 'h' && p[1] == 'h') {
            conversion.lengthBits = 8, p += 2;
        } else if (p[0] == 'h') {
            conversion.lengthBits = 16, ++p;
        } else if (p[0] == 'l' && p[1] == 'l') {
            conversion.lengthBits = 64, p += 2;
        } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            conversion.lengthBits = 64, p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
            conversion.lengthBits = 32, p += 3;
        } else if (*p == 'j' || *p == 'z' || *p == 't' || *p == 'q' || *p == 'L' || *p == 'I') {
            conversion.lengthBits = 64, ++p;
        } else if (*p == 'l' || *p == 'w') {
            conversion.lengthBits = 32, ++p;
        }
        if (*p == '\0' || std::strchr("diuoxXfFeEgGaAcCsSpn", *p) == nullptr) {
            // Not a conversion we know: shown as written, taking no argument.
            const char *end = *p == '\0' ? p : p + 1;
            out.append(start, size_t(end - start));
            p = end;
            continue;
        }
        conversion.type = *p++;
        RenderConversion(out, conversion, arguments.Next());
    }
    return out;
}

const char *SeverityLabel(int severity)
{
    if (severity & VO_SEV_WARNING)
        return "warning";
    if (severity & VO_SEV_ERROR)
        return "error";
    return "info";
}

int Print(int number, int code, int severity, const std::string &text)
{
    vo::PreservedErrorState preserved;
    const bool endsLine = !text.empty() && text.back() == '\n';
    std::fputs(text.c_str(), stderr);
    if (!endsLine)
        std::fputc('\n', stderr);
    std::fflush(stderr);

    std::string line = vo::UtcTimestamp() + " " + SeverityLabel(severity) + " " + std::to_string(number) +
                       " " + std::to_string(code) + ": " + text;
    if (!endsLine)
        line += '\n';
    vo::AppendToLog(VO_MESSAGE_LOG_NAME, line);
    vo::NotifyHook(VO_OUTPUT_MESSAGE, number, code, severity, text);
    return int(text.size());
}

} // namespace

struct vo_msg *msg_create(int number, int code, const char *format, ...)
{
    try {
        va_list args;
        va_start(args, format);
        const std::string text = Render(format, args);
        va_end(args);
        vo_msg *message = static_cast<vo_msg *>(xcalloc(1, sizeof(vo_msg)));
        message->number = number;
        message->code = code;
        message->text = vo::MallocCopy(text);
        return message;
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

int msg_print(int number, int code, int severity, const char *format, ...)
{
    try {
        va_list args;
        va_start(args, format);
        const std::string text = Render(format, args);
        va_end(args);
        return Print(number, code, severity, text);
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

int msg_print_handle(const struct vo_msg *message, int severity)
{
    if (message == nullptr)
        return -1;
    try {
        return Print(message->number, message->code, severity, message->text);
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

void msg_free(struct vo_msg *message)
{
    if (message == nullptr)
        return;
    std::free(message->text);
    std::free(message);
}

const char *msg_text(const struct vo_msg *message) { return message ? message->text : ""; }

int msg_number(const struct vo_msg *message) { return message ? message->number : 0; }

int msg_code(const struct vo_msg *message) { return message ? message->code : 0; }
