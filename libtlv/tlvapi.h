// Export and import of libtlv's symbols.
#pragma once

#include <platform/tvplatform.h>

#ifdef LIBTLV_BUILD
#define TLV_API TV_SYMBOL_EXPORT
#else
#define TLV_API TV_SYMBOL_IMPORT
#endif
