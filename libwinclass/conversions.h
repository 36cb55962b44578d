// Conversions between UTF-8 and 16-bit wide text, and between GUIDs and their text form.
#pragma once

#include <libwinclass/winclassapi.h>

#include <string>

// UTF-8 bytes to wide text, one 16-bit unit per character. Any ill-formed sequence
// (a stray continuation byte, a sequence cut short, a value above U+10FFFF) makes the
// whole result empty.
WINCLASS_API wstr from_utf8(const std::string &text);

// Wide text to UTF-8, each 16-bit unit on its own (a surrogate unit takes three bytes).
WINCLASS_API std::string to_utf8(const wstr &text);

// The 36-character registry form of a GUID without braces, upper-case digits;
// empty when it cannot be formatted.
WINCLASS_API wstr guid2str(const GUID &guid);

// The GUID of a 36-character text, or of a 38-character text with a brace at either
// end; GUID_NULL otherwise. *failed (when given) is false only on success.
WINCLASS_API GUID str2guid(const wstr &text, bool *failed);
