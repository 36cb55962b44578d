// Export and import of libwinclass's symbols.
#pragma once

#include <platform/tvplatform.h>

#ifdef LIBWINCLASS_BUILD
#define WINCLASS_API TV_SYMBOL_EXPORT
#else
#define WINCLASS_API TV_SYMBOL_IMPORT
#endif
