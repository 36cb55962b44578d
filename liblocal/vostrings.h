// Bounded string functions on UTF-8 and 16-bit wide text, and conversions between them.
//
// Common rules: `size` is the size of the whole destination (bytes for char, characters for
// WCHAR); a destination with a size above zero is always terminated; a cut never splits a
// UTF-8 character or a surrogate pair; a NULL source counts as the empty text; a NULL
// destination or a size of 0 writes nothing.
#pragma once

#include <liblocal/localapi.h>

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Copy and append as BSD strlcpy/strlcat: the result is the length of the text they tried
// to create (strlen(src), or the initial length of dst plus strlen(src)), so a result >=
// size means the text was cut. vo_strlcat of a dst with no terminator within size writes
// nothing and returns size + strlen(src).
LOCAL_API size_t vo_strlcpy(char *dst, const char *src, size_t size);
LOCAL_API size_t vo_strlcat(char *dst, const char *src, size_t size);
LOCAL_API size_t vo_wcslcpy(WCHAR *dst, const WCHAR *src, size_t size);
LOCAL_API size_t vo_wcslcat(WCHAR *dst, const WCHAR *src, size_t size);

// Length in bytes; 0 for NULL.
LOCAL_API size_t vo_strlen(const char *text);

// Byte-wise comparison (so UTF-8 sorts by code point): negative, 0 or positive. NULL sorts
// before every text, and equals NULL.
LOCAL_API int vo_strcmp(const char *a, const char *b);

// Comparison without regard to case, by code point after simple case folding of Latin,
// Greek and Cyrillic letters (the letters Windows folds in file names). NULL as above.
LOCAL_API int vo_strcasecmp(const char *a, const char *b);

// printf into a buffer. vo_sprintf has no bound and returns the length written, -1 for a
// NULL buffer or format. vo_snprintf returns the length it tried to create (so a result >=
// size means the text was cut), -1 for a NULL format; a NULL buffer counts as size 0.
LOCAL_API int vo_sprintf(char *buffer, const char *format, ...) VO_PRINTF_FORMAT(2, 3);
LOCAL_API int vo_snprintf(char *buffer, size_t size, const char *format, ...) VO_PRINTF_FORMAT(3, 4);

// Conversion flags.
#define VO_CONV_STRICT 0x1 // fail on ill-formed input instead of writing U+FFFD for it

// UTF-8 to wide text in dst (size in characters) and wide text to UTF-8 in dst (size in
// bytes). The result is the length of the whole converted text, not counting the
// terminator, as for vo_strlcpy: a result >= size means it was cut. Ill-formed input
// becomes U+FFFD. -1 (and dst, when it can hold it, the empty text) for a NULL source,
// flags other than VO_CONV_STRICT, ill-formed input under VO_CONV_STRICT, or a text
// longer than an int counts.
LOCAL_API int vo_utf8s_to_wcs(WCHAR *dst, const char *src, size_t size);
LOCAL_API int vo_wcs_to_utf8s(char *dst, const WCHAR *src, size_t size, int flags);

// Wide text to UTF-8 in a new buffer, freed with free. NULL for NULL; aborts when memory
// runs out.
LOCAL_API char *vo_alloc_wcs_to_utf8s(const WCHAR *src);

#ifdef __cplusplus
}
#endif
