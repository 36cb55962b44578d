// UTF-8 and wide text, GUIDs and their text: the library's conversions and the string
// class's, checked against each other and against their documented round trips.
#include "fuzzcheck.h"

#include <libwinclass/conversions.h>
#include <libwinclass/tv_str.h>

#include <objbase.h>

#include <cstring>
#include <memory>

namespace {

bool IsHex(WCHAR c) { return (c >= W('0') && c <= W('9')) || (c >= W('a') && c <= W('f')) || (c >= W('A') && c <= W('F')); }

WCHAR Upper(WCHAR c) { return c >= W('a') && c <= W('z') ? WCHAR(c - W('a') + W('A')) : c; }

// The 36-character form with hyphens at 8, 13, 18 and 23 and hex digits elsewhere.
bool IsGuidBody(const WCHAR *text)
{
    for (size_t i = 0; i < 36; ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? text[i] != W('-') : !IsHex(text[i]))
            return false;
    }
    return true;
}

// Well-formed UTF-8 as Unicode defines it: shortest forms, no surrogates, at most U+10FFFF.
bool IsWellFormed(const std::string &text)
{
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t need = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (lead < 0x80)
            need = 0;
        else if (lead >= 0xC2 && lead <= 0xDF)
            need = 1;
        else if (lead >= 0xE0 && lead <= 0xEF)
            need = 2, lo = lead == 0xE0 ? 0xA0 : 0x80, hi = lead == 0xED ? 0x9F : 0xBF;
        else if (lead >= 0xF0 && lead <= 0xF4)
            need = 3, lo = lead == 0xF0 ? 0x90 : 0x80, hi = lead == 0xF4 ? 0x8F : 0xBF;
        else
            return false;
        if (text.size() - i - 1 < need)
            return false;
        for (size_t k = 1; k <= need; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[i + k]);
            if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF))
                return false;
        }
        i += need + 1;
    }
    return true;
}

// The platform's conversions, which the string class uses: sizes, buffer rules and the
// strict flag as documented, and an exact round trip of well-formed text.
void CheckPlatform(const std::string &bytes)
{
    const int count = int(bytes.size());
    SetLastError(0);
    const int units = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), count, nullptr, 0);
    if (count == 0) {
        FUZZ_CHECK(units == 0 && GetLastError() == ERROR_INVALID_PARAMETER);
        return;
    }
    FUZZ_CHECK(units > 0 && units <= count);
    std::unique_ptr<WCHAR[]> wide(new WCHAR[size_t(units)]);
    FUZZ_CHECK(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), count, wide.get(), units) == units);
    if (units > 1) {
        SetLastError(0);
        FUZZ_CHECK(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), count, wide.get(), units - 1) == 0);
        FUZZ_CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    }
    SetLastError(0);
    const int strict = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), count, nullptr, 0);
    const bool wellFormed = IsWellFormed(bytes);
    FUZZ_CHECK((strict == units) == wellFormed);
    if (!wellFormed) {
        FUZZ_CHECK(strict == 0 && GetLastError() == ERROR_NO_UNICODE_TRANSLATION);
        return;
    }
    const int back = WideCharToMultiByte(CP_UTF8, 0, wide.get(), units, nullptr, 0, nullptr, nullptr);
    FUZZ_CHECK(back == count);
    std::string again(size_t(back), '\0');
    FUZZ_CHECK(WideCharToMultiByte(CP_UTF8, 0, wide.get(), units, &again[0], back, nullptr, nullptr) == back);
    FUZZ_CHECK(again == bytes);
}

void CheckUtf8(const std::string &bytes)
{
    const wstr wide = from_utf8(bytes);
    // Whatever came out goes back out and in again unchanged.
    FUZZ_CHECK(from_utf8(to_utf8(wide)) == wide);
    FUZZ_CHECK(wide.size() <= bytes.size());
    // Plain ASCII is carried unit for byte.
    bool ascii = true;
    for (unsigned char c : bytes)
        ascii = ascii && c < 0x80;
    if (ascii) {
        FUZZ_CHECK(wide.size() == bytes.size());
        FUZZ_CHECK(to_utf8(wide) == bytes);
    }

    // The string class's own conversions, measured and written, on the text up to a NUL.
    const std::string cut(bytes.c_str());
    const size_t units = tv_str::utf8_to_wcs_len(cut.c_str());
    FUZZ_CHECK(units >= 1);
    std::unique_ptr<WCHAR[]> converted(tv_str::utf8_to_wcs(cut.c_str()));
    FUZZ_CHECK(converted != nullptr);
    FUZZ_CHECK(std::char_traits<WCHAR>::length(converted.get()) + 1 == units);
    std::unique_ptr<WCHAR[]> buffer(new WCHAR[units]);
    FUZZ_CHECK(tv_str::utf8_to_wcs(buffer.get(), units, cut.c_str()) == units);
    FUZZ_CHECK(std::char_traits<WCHAR>::compare(buffer.get(), converted.get(), units) == 0);
    FUZZ_CHECK(units == 1 || tv_str::utf8_to_wcs(buffer.get(), units - 1, cut.c_str()) == 0);

    const size_t length = tv_str::wcs_to_utf8_len(converted.get());
    std::unique_ptr<char[]> back(tv_str::wcs_to_utf8(converted.get()));
    FUZZ_CHECK(back != nullptr && std::strlen(back.get()) + 1 == length);
    std::unique_ptr<char[]> into(new char[length]);
    FUZZ_CHECK(tv_str::wcs_to_utf8(into.get(), length, converted.get()) == length);
    FUZZ_CHECK(std::memcmp(into.get(), back.get(), length) == 0);
    // Where the platform saw well-formed text of the 16-bit range (no U+FFFD, no pairs),
    // the library's own decoder agrees with it.
    const wstr platform(converted.get());
    bool plain = true;
    for (WCHAR unit : platform)
        plain = plain && unit != 0xFFFD && (unit < 0xD800 || unit > 0xDFFF);
    if (plain)
        FUZZ_CHECK(from_utf8(cut) == platform);
}

void CheckWide(const std::string &bytes)
{
    // Pairs of bytes as units, surrogates and NULs included.
    wstr wide;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        wide.push_back(WCHAR(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8));
    const std::string utf8 = to_utf8(wide);
    FUZZ_CHECK(from_utf8(utf8) == wide);
}

void CheckGuid(const std::string &bytes)
{
    // The text as it stands, one unit per byte, and as UTF-8.
    for (const wstr &text : {wstr(bytes.begin(), bytes.end()), from_utf8(bytes)}) {
        bool failed = false;
        const GUID guid = str2guid(text, &failed);
        const bool braced = text.size() == 38 && text.front() == W('{') && text.back() == W('}');
        const bool wellFormed = (text.size() == 36 && IsGuidBody(text.data())) || (braced && IsGuidBody(text.data() + 1));
        FUZZ_CHECK(failed == !wellFormed);
        if (failed) {
            FUZZ_CHECK(IsEqualGUID(guid, GUID_NULL));
            continue;
        }
        // Its text is the digits given, in upper case.
        const wstr back = guid2str(guid);
        FUZZ_CHECK(back.size() == 36);
        const WCHAR *body = text.data() + (text.size() == 38 ? 1 : 0);
        for (size_t i = 0; i < 36; ++i)
            FUZZ_CHECK(back[i] == Upper(body[i]));
    }
    // Any 16 bytes make a GUID whose text reads back to it.
    if (bytes.size() >= sizeof(GUID)) {
        GUID guid;
        std::memcpy(&guid, bytes.data(), sizeof guid);
        const wstr text = guid2str(guid);
        FUZZ_CHECK(text.size() == 36 && IsGuidBody(text.data()));
        bool failed = true;
        FUZZ_CHECK(IsEqualGUID(str2guid(text, &failed), guid) && !failed);
        FUZZ_CHECK(IsEqualGUID(str2guid(W("{") + text + W("}"), &failed), guid) && !failed);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    CheckUtf8(bytes);
    CheckPlatform(bytes);
    CheckWide(bytes);
    CheckGuid(bytes);
    return 0;
}
