// C++ only: the functions take and return C++ strings.
//
// Conversions between UTF-8 and 16-bit wide text, and between GUIDs and their text form.
#pragma once

#include <libwinclass/winclassapi.h>

#include <string>

// UTF-8 bytes to wide text, one 16-bit unit per character: surrogate pairs are never
// made, and a character above U+FFFF becomes one U+FFFD. Overlong forms and encoded
// surrogates are taken for their value. Any ill-formed sequence (a continuation byte in
// lead position, a lead byte F8-FF, a following byte outside 80-BF, a sequence cut short,
// a value above U+10FFFF) makes the whole result empty.
WINCLASS_API wstr from_utf8(const std::string &text);

// Wide text to UTF-8, each 16-bit unit on its own (a surrogate unit takes three bytes,
// so to_utf8 and from_utf8 round-trip every wide text). Never fails.
WINCLASS_API std::string to_utf8(const wstr &text);

// The 36-character registry form of a GUID without braces, upper-case digits;
// empty when it cannot be formatted.
WINCLASS_API wstr guid2str(const GUID &guid);

// The GUID of a 36-character text, or of a 38-character text with a brace at either
// end; GUID_NULL otherwise. *failed (when given) is false only on success.
WINCLASS_API GUID str2guid(const wstr &text, bool *failed = NULL);
