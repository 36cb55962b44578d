#include <libwinclass/conversions.h>

#include <objbase.h>

namespace {

// Decodes one UTF-8 character at text[pos]; false when the sequence is ill-formed.
// Overlong forms and encoded surrogates are accepted: the caller only needs the value.
bool DecodeOne(const std::string &text, size_t &pos, unsigned int &value)
{
    const unsigned char lead = static_cast<unsigned char>(text[pos]);
    int trail;
    if (lead < 0x80) {
        value = lead;
        trail = 0;
    } else if (lead < 0xC0) {
        return false;
    } else if (lead < 0xE0) {
        value = lead & 0x1F;
        trail = 1;
    } else if (lead < 0xF0) {
        value = lead & 0x0F;
        trail = 2;
    } else if (lead < 0xF8) {
        value = lead & 0x07;
        trail = 3;
    } else {
        return false;
    }
    if (text.size() - pos - 1 < size_t(trail))
        return false;
    for (int i = 1; i <= trail; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[pos + i]);
        if (next < 0x80 || next > 0xBF)
            return false;
        value = (value << 6) | (next & 0x3F);
    }
    if (value > 0x10FFFF)
        return false;
    pos += size_t(trail) + 1;
    return true;
}

} // namespace

wstr from_utf8(const std::string &text)
{
    // Never more units than bytes: sized once, cut to length at the end.
    wstr wide(text.size(), 0);
    WCHAR *out = &wide[0];
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text.data());
    const size_t size = text.size();
    size_t pos = 0;
    while (pos < size) {
        if (bytes[pos] < 0x80) {
            *out++ = WCHAR(bytes[pos++]);
            continue;
        }
        unsigned int value;
        if (!DecodeOne(text, pos, value))
            return wstr();
        // One unit per character and no surrogate pairs: a character beyond the 16-bit
        // range cannot be held, and is marked by the replacement character rather than
        // cut to an unrelated one.
        *out++ = value > 0xFFFF ? WCHAR(0xFFFD) : static_cast<WCHAR>(value);
    }
    wide.resize(size_t(out - wide.data()));
    return wide;
}

std::string to_utf8(const wstr &text)
{
    // Measured first, so the result is allocated once at its exact size.
    size_t size = 0;
    for (const WCHAR unit : text)
        size += unit < 0x80 ? 1 : (unit < 0x800 ? 2 : 3);
    std::string bytes(size, '\0');
    char *out = &bytes[0];
    for (const WCHAR unit : text) {
        const unsigned int u = unit;
        if (u < 0x80) {
            *out++ = char(u);
        } else if (u < 0x800) {
            *out++ = char(0xC0 | (u >> 6));
            *out++ = char(0x80 | (u & 0x3F));
        } else {
            *out++ = char(0xE0 | (u >> 12));
            *out++ = char(0x80 | ((u >> 6) & 0x3F));
            *out++ = char(0x80 | (u & 0x3F));
        }
    }
    return bytes;
}

wstr guid2str(const GUID &guid)
{
    WCHAR braced[39];
    if (StringFromGUID2(guid, braced, 39) != 39)
        return wstr();
    return wstr(braced + 1, 36);
}

GUID str2guid(const wstr &text, bool *failed)
{
    if (failed != NULL)
        *failed = true;

    wstr braced;
    if (text.size() == 36) {
        braced = W("{") + text + W("}");
    } else if (text.size() == 38 && (text.front() == W('{') || text.back() == W('}'))) {
        braced = text;
    } else {
        return GUID_NULL;
    }
    // The parser wants upper-case digits; fold from the second character up to the
    // closing brace (or the end when there is none).
    const size_t close = braced.find(W('}'), 1);
    const size_t end = close == wstr::npos ? braced.size() : close;
    for (size_t i = 1; i < end; ++i) {
        if (braced[i] >= W('a') && braced[i] <= W('f'))
            braced[i] = WCHAR(braced[i] - W('a') + W('A'));
    }
    GUID guid;
    if (FAILED(CLSIDFromString(const_cast<LPOLESTR>(braced.c_str()), &guid)))
        return GUID_NULL;
    if (failed != NULL)
        *failed = false;
    return guid;
}
