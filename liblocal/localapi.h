// Export and import of liblocal's symbols.
#pragma once

#include <platform/tvplatform.h>

#ifdef LIBLOCAL_BUILD
#define LOCAL_API TV_SYMBOL_EXPORT
#else
#define LOCAL_API TV_SYMBOL_IMPORT
#endif
