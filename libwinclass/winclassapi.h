// Export and import of libwinclass's symbols. Compiles as C and as C++.
#pragma once

#include <platform/tvplatform.h>

#ifdef LIBWINCLASS_BUILD
#define WINCLASS_API TV_SYMBOL_EXPORT
#else
#define WINCLASS_API TV_SYMBOL_IMPORT
#endif

// A check of an exported record's layout, in either language.
#ifdef __cplusplus
#define WINCLASS_LAYOUT(condition, text) static_assert(condition, text)
#else
#define WINCLASS_LAYOUT(condition, text) _Static_assert(condition, text)
#endif
